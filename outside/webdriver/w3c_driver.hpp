// The Driver, Element and Alert of a W3C WebDriver session (chromedriver, geckodriver, a grid,
// an Appium server).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "outside/webdriver/driver.hpp"
#include "outside/webdriver/w3c_session.hpp"

namespace tovik::webdriver {

// A locator as it goes on the wire. Browser sessions have no "id", "name" or "class name"
// strategies, so those become CSS selectors; Appium sessions take them as they are.
struct Locator {
  std::string using_;
  std::string value;
};
Locator translate_locator(const std::string& by, const std::string& value, bool appium);

// CSS identifier escaping, as CSS.escape() does it.
std::string css_escape(const std::string& ident);

class W3CElement : public Element {
 public:
  W3CElement(std::shared_ptr<W3CSession> session, std::string id) : session_(std::move(session)), id_(std::move(id)) {}

  std::string id() const override { return id_; }
  std::string text() override;
  std::string tag_name() override;
  Rect rect() override;
  void click() override;
  void clear() override;
  void send_keys(const std::string& text) override;
  std::optional<std::string> get_attribute(const std::string& name) override;
  bool is_displayed() override;
  bool is_enabled() override;
  std::shared_ptr<Element> find_element(const std::string& by, const std::string& value) override;
  std::vector<std::shared_ptr<Element>> find_elements(const std::string& by, const std::string& value) override;

  const std::shared_ptr<W3CSession>& session() const { return session_; }

 private:
  Json command(const std::string& method, const std::string& what, const Json& body = Json::object());
  std::shared_ptr<W3CSession> session_;
  std::string id_;
};

class W3CAlert : public Alert {
 public:
  W3CAlert(std::shared_ptr<W3CSession> session, std::string text) : session_(std::move(session)), text_(std::move(text)) {}
  // The text as it was when the alert was switched to.
  std::string text() override { return text_; }
  void send_keys(const std::string& text) override;
  void accept() override;
  void dismiss() override;

 private:
  std::shared_ptr<W3CSession> session_;
  std::string text_;
};

class W3CDriver : public Driver {
 public:
  // Runs once when the session ends (quit() or destruction): stops what was started for it.
  using Cleanup = std::function<void()>;

  // Opens a new session at base_url.
  static std::shared_ptr<W3CDriver> connect(const std::string& base_url, const Json& capabilities,
                                            Cleanup cleanup = {}, Timeouts timeouts = {});
  W3CDriver(std::shared_ptr<W3CSession> session, Cleanup cleanup);
  ~W3CDriver() override;

  std::string repr() const override;

  Dict capabilities() override;
  void maximize_window() override;
  void get(const std::string& url) override;
  std::string title() override;
  std::string current_url() override;
  std::string page_source() override;
  Value execute_script(const std::string& script, const List& args) override;
  std::shared_ptr<Element> find_element(const std::string& by, const std::string& value) override;
  std::vector<std::shared_ptr<Element>> find_elements(const std::string& by, const std::string& value) override;
  void switch_to_frame(const std::shared_ptr<Element>& frame) override;
  void switch_to_parent_frame() override;
  void switch_to_default_content() override;
  void switch_to_context(const std::string& name) override;
  std::shared_ptr<Alert> switch_to_alert() override;
  void perform_actions(const Json& payload) override;
  void release_actions() override;
  void debugger() override;
  std::string current_package() override;
  void start_activity(const std::string& app_package, const std::string& app_activity) override;
  std::vector<std::string> contexts() override;
  std::string current_context() override;
  Evidence failure_evidence(double limit) override;
  // Deletes the session (a failure is logged, not raised, so cleanup always runs), then runs
  // the cleanup. Safe to call twice.
  void quit() override;

  const std::shared_ptr<W3CSession>& session() const { return session_; }

 private:
  std::shared_ptr<W3CSession> session_;
  Cleanup cleanup_;
  std::mutex quit_mutex_;
  bool quit_ = false;
};

// Values to and from the wire: elements travel as {"element-6066-11e4-a52e-4f735466cecf": id},
// in lists and mappings too. Other objects cannot be sent (TypeError).
Json encode_wire_value(const Value& v);
Value decode_wire_value(const Json& j, const std::shared_ptr<W3CSession>& session);

// Search answers: an element reference, a list of them; anything else is a WebDriverException.
std::shared_ptr<Element> element_from_wire(const Json& j, const std::shared_ptr<W3CSession>& session);
std::vector<std::shared_ptr<Element>> elements_from_wire(const Json& j, const std::shared_ptr<W3CSession>& session);
// {"using": ..., "value": ...} for this session's kind.
Json locator_body(const std::string& by, const std::string& value, const W3CSession& session);
// Plain text of a string answer (null is empty).
std::string wire_text(const Json& j);

}  // namespace tovik::webdriver
