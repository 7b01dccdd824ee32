// What keywords call on a browser or app driver. The W3C client implements it; tests use fakes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/base/value.hpp"
#include "support/base/value_json.hpp"

namespace tovik::webdriver {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

// {'x': .., 'y': .., 'width': .., 'height': ..} as drivers report it; whole numbers stay integers.
Value to_value(const Rect& r);

class Element : public Object {
 public:
  std::string type_name() const override { return "WebElement"; }
  std::string repr() const override;

  virtual std::string id() const = 0;
  virtual std::string text() = 0;
  virtual std::string tag_name() = 0;
  virtual Rect rect() = 0;
  virtual void click() = 0;
  virtual void clear() = 0;
  virtual void send_keys(const std::string& text) = 0;
  // The attribute, or the property of that name as common clients do; nullopt when neither exists.
  virtual std::optional<std::string> get_attribute(const std::string& name) = 0;
  virtual bool is_displayed() = 0;
  virtual bool is_enabled() = 0;
  // Search below this element; NoSuchElementException when nothing matches.
  virtual std::shared_ptr<Element> find_element(const std::string& by, const std::string& value) = 0;
  virtual std::vector<std::shared_ptr<Element>> find_elements(const std::string& by, const std::string& value) = 0;
};

class Alert {
 public:
  virtual ~Alert() = default;
  virtual std::string text() = 0;
  virtual void send_keys(const std::string& text) = 0;
  virtual void accept() = 0;
  virtual void dismiss() = 0;
};

// What a failure leaves for the tester to look at; a part the driver did not give stays empty.
struct Evidence {
  std::string screenshot_png;  // PNG bytes of what the browser or app shows
  std::string source;          // the page's HTML, or the app's UI hierarchy as XML
  bool app = false;            // source is an app's XML
  std::string console_log;     // the browser's console, one entry a line
};

class Driver : public Object {
 public:
  std::string type_name() const override { return "WebDriver"; }

  // Session capabilities; "browserName" is present for browsers only.
  virtual Dict capabilities() = 0;
  virtual void maximize_window() = 0;
  virtual void get(const std::string& url) = 0;
  virtual std::string title() = 0;
  virtual std::string current_url() = 0;
  virtual std::string page_source() = 0;
  // Elements among the arguments travel as element references, and come back as elements.
  virtual Value execute_script(const std::string& script, const List& args) = 0;
  virtual std::shared_ptr<Element> find_element(const std::string& by, const std::string& value) = 0;
  virtual std::vector<std::shared_ptr<Element>> find_elements(const std::string& by, const std::string& value) = 0;

  virtual void switch_to_frame(const std::shared_ptr<Element>& frame) = 0;
  virtual void switch_to_parent_frame() = 0;
  virtual void switch_to_default_content() = 0;
  virtual void switch_to_context(const std::string& name) = 0;
  // The open alert; WebDriverException when none is open.
  virtual std::shared_ptr<Alert> switch_to_alert() = 0;

  // W3C "Perform Actions" with the payload {"actions": [...]}, and "Release Actions".
  virtual void perform_actions(const Json& payload) = 0;
  virtual void release_actions() = 0;

  // Returns when the user leaves interactive debugging.
  virtual void debugger() = 0;
  // App drivers only.
  virtual std::string current_package() = 0;
  virtual void start_activity(const std::string& app_package, const std::string& app_activity) = 0;
  virtual std::vector<std::string> contexts() = 0;
  virtual std::string current_context() = 0;

  // Screenshot, source and (where the driver keeps one) the browser's console log, all of it
  // within limit seconds; a part the driver refuses stays empty. The error of the first when
  // neither the screenshot nor the source came (the driver is gone, or silent that long).
  virtual Evidence failure_evidence(double limit) = 0;

  // Ends the session and whatever driver process belongs to it.
  virtual void quit() = 0;
};

}  // namespace tovik::webdriver
