// A scriptable in-memory driver for unit tests of the keyword core.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outside/webdriver/driver.hpp"
#include "support/base/errors.hpp"

namespace tovik::webdriver {

class FakeElement : public Element {
 public:
  explicit FakeElement(std::string id, std::string text = {}) : id_(std::move(id)), text_(std::move(text)) {}
  std::string id() const override { return id_; }
  std::string text() override { return text_; }
  std::string tag_name() override { return tag; }
  Rect rect() override { return box; }
  void click() override { calls.push_back("click"); }
  void clear() override { calls.push_back("clear"); }
  void send_keys(const std::string& t) override { calls.push_back("send_keys:" + t); }
  std::optional<std::string> get_attribute(const std::string& name) override {
    auto it = attributes.find(name);
    if (it == attributes.end()) return std::nullopt;
    return it->second;
  }
  bool is_displayed() override { return displayed; }
  bool is_enabled() override { return enabled; }
  std::shared_ptr<Element> find_element(const std::string& by, const std::string& value) override {
    calls.push_back("find_element:" + by + ":" + value);
    auto it = children.find(value);
    if (it == children.end() || it->second.empty()) throw NoSuchElementException("no such element: " + value);
    return it->second.front();
  }
  std::vector<std::shared_ptr<Element>> find_elements(const std::string& by, const std::string& value) override {
    calls.push_back("find_elements:" + by + ":" + value);
    auto it = children.find(value);
    return it == children.end() ? std::vector<std::shared_ptr<Element>>{} : it->second;
  }

  std::string tag = "div";
  Rect box;
  bool displayed = true, enabled = true;
  std::map<std::string, std::string> attributes;
  std::map<std::string, std::vector<std::shared_ptr<Element>>> children;
  std::vector<std::string> calls;

 private:
  std::string id_, text_;
};

class FakeAlert : public Alert {
 public:
  explicit FakeAlert(std::string text) : text_(std::move(text)) {}
  std::string text() override { return text_; }
  void send_keys(const std::string& t) override { calls.push_back("send_keys:" + t); }
  void accept() override { calls.push_back("accept"); }
  void dismiss() override { calls.push_back("dismiss"); }
  std::vector<std::string> calls;

 private:
  std::string text_;
};

class FakeDriver : public Driver {
 public:
  Dict caps;
  std::vector<std::string> calls;
  std::function<void()> on_maximize;
  // Looked up by value; missing values raise NoSuchElementException.
  std::map<std::string, std::vector<std::shared_ptr<Element>>> elements;
  // The arguments of every script run.
  std::vector<List> script_args;
  std::function<Value(const std::string&, const List&)> on_script;

  Dict capabilities() override { return caps; }
  void maximize_window() override {
    calls.push_back("maximize_window");
    if (on_maximize) on_maximize();
  }
  void get(const std::string& url) override { calls.push_back("get:" + url); }
  std::string title() override { return "fake"; }
  std::string current_url() override { return "about:blank"; }
  // Each read of the page source; a test may change what the page shows.
  // failure_evidence(): what it gives, or throws when set
  Evidence evidence{"\x89PNG fake", "<html></html>", false, ""};
  std::function<void()> on_failure_evidence;
  Evidence failure_evidence(double) override {
    calls.push_back("failure_evidence");
    if (on_failure_evidence) on_failure_evidence();
    return evidence;
  }
  std::function<std::string()> on_page_source;
  std::string page_source() override {
    calls.push_back("page_source");
    return on_page_source ? on_page_source() : "<html></html>";
  }
  Value execute_script(const std::string& script, const List& args) override {
    calls.push_back("script:" + script);
    script_args.push_back(args);
    return on_script ? on_script(script, args) : Value();
  }
  std::shared_ptr<Element> find_element(const std::string& by, const std::string& value) override {
    calls.push_back("find_element:" + by + ":" + value);
    auto it = elements.find(value);
    if (it == elements.end() || it->second.empty()) throw NoSuchElementException("no such element: " + value);
    return it->second.front();
  }
  std::vector<std::shared_ptr<Element>> find_elements(const std::string& by, const std::string& value) override {
    calls.push_back("find_elements:" + by + ":" + value);
    auto it = elements.find(value);
    return it == elements.end() ? std::vector<std::shared_ptr<Element>>{} : it->second;
  }
  void switch_to_frame(const std::shared_ptr<Element>& f) override { calls.push_back("frame:" + f->id()); }
  void switch_to_parent_frame() override { calls.push_back("parent_frame"); }
  void switch_to_default_content() override { calls.push_back("default_content"); }
  void switch_to_context(const std::string& name) override { calls.push_back("context:" + name); }
  // The open alert, if any; a count of polls lets tests open it late.
  std::shared_ptr<Alert> alert;
  int alert_polls = 0;
  int alert_after = 0;  // polls that find no alert before it opens
  std::shared_ptr<Alert> switch_to_alert() override {
    ++alert_polls;
    if (!alert || alert_polls <= alert_after) throw WebDriverException("no such alert");
    return alert;
  }
  void perform_actions(const Json& payload) override { performed.push_back(payload); }
  void release_actions() override { calls.push_back("release_actions"); }
  std::vector<Json> performed;
  void debugger() override { calls.push_back("debugger"); }
  std::string package = "com.example.app";
  std::string current_package() override {
    calls.push_back("current_package");
    return package;
  }
  void start_activity(const std::string& p, const std::string& a) override { calls.push_back("activity:" + p + "/" + a); }
  std::vector<std::string> contexts() override { return {"NATIVE_APP"}; }
  std::string current_context() override { return "NATIVE_APP"; }
  void quit() override { calls.push_back("quit"); }
};

}  // namespace tovik::webdriver
