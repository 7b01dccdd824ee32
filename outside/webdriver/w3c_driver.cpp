#include "outside/webdriver/w3c_driver.hpp"

#include <unistd.h>

#include <fmt/format.h>

#include <chrono>
#include <exception>
#include <iostream>

#include "outside/webdriver/actions.hpp"
#include "support/base/base64.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik::webdriver {

namespace {

std::vector<std::string> string_list(const Json& j, const std::string& what) {
  std::vector<std::string> out;
  if (!j.is_array()) throw WebDriverException("WebDriver answered " + what + " with " + j.dump() + " instead of a list");
  for (const auto& item : j) out.push_back(wire_text(item));
  return out;
}

}  // namespace

std::shared_ptr<W3CDriver> W3CDriver::connect(const std::string& base_url, const Json& capabilities, Cleanup cleanup,
                                              Timeouts timeouts) {
  return std::make_shared<W3CDriver>(W3CSession::create(base_url, capabilities, timeouts), std::move(cleanup));
}

W3CDriver::W3CDriver(std::shared_ptr<W3CSession> session, Cleanup cleanup)
    : session_(std::move(session)), cleanup_(std::move(cleanup)) {}

W3CDriver::~W3CDriver() {
  try {
    quit();
  } catch (...) {
    // quit() logs what went wrong; a destructor has nobody to tell.
  }
}

std::string W3CDriver::repr() const {
  return "<WebDriver session '" + session_->id() + "' at " + session_->base_url() + ">";
}

Dict W3CDriver::capabilities() {
  Value v = from_json(session_->capabilities());
  return v.is_dict() ? v.as_dict() : Dict();
}

void W3CDriver::maximize_window() { session_->command("POST", "/window/maximize"); }

void W3CDriver::get(const std::string& url) { session_->command("POST", "/url", Json{{"url", url}}); }

std::string W3CDriver::title() { return wire_text(session_->command("GET", "/title")); }

std::string W3CDriver::current_url() { return wire_text(session_->command("GET", "/url")); }

std::string W3CDriver::page_source() { return wire_text(session_->command("GET", "/source")); }

Evidence W3CDriver::failure_evidence(double limit) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
  // what is left of limit for the next command; past the deadline the driver counts as silent
  const auto left = [&] {
    const double seconds = std::chrono::duration<double>(deadline - Clock::now()).count();
    if (seconds <= 0) throw WebDriverException("WebDriver at " + session_->base_url() + " did not answer within " + fmt::format("{:g}s", limit));
    return seconds;
  };
  Evidence e;
  e.app = session_->is_appium();
  // each part on its own: a driver that refuses screenshots still gives the source; only when
  // it gives neither is it taken for silent
  std::exception_ptr first_failure;
  const auto part = [&](std::string& into, const char* path, bool base64) {
    try {
      std::string text = wire_text(session_->command("GET", path, Json::object(), left()));
      into = base64 ? base64_decode(text) : std::move(text);
    } catch (const std::exception&) {
      if (!first_failure) first_failure = std::current_exception();
    }
  };
  part(e.screenshot_png, "/screenshot", true);
  part(e.source, "/source", false);
  if (e.screenshot_png.empty() && e.source.empty() && first_failure) std::rethrow_exception(first_failure);
  if (!e.app) {
    // the legacy log endpoint that chromedriver still keeps; other drivers refuse it, which only
    // means there is no console log to show
    try {
      const Json entries = session_->command("POST", "/se/log", Json{{"type", "browser"}}, left());
      for (const Json& entry : entries) {
        if (!entry.is_object()) continue;
        e.console_log += entry.value("level", std::string()) + " " + entry.value("message", std::string()) + "\n";
      }
    } catch (const std::exception&) {
    }
  }
  return e;
}

Value W3CDriver::execute_script(const std::string& script, const List& args) {
  Json body{{"script", script}, {"args", encode_wire_value(Value(args))}};
  return decode_wire_value(session_->command("POST", "/execute/sync", body), session_);
}

std::shared_ptr<Element> W3CDriver::find_element(const std::string& by, const std::string& value) {
  return element_from_wire(session_->command("POST", "/element", locator_body(by, value, *session_)), session_);
}

std::vector<std::shared_ptr<Element>> W3CDriver::find_elements(const std::string& by, const std::string& value) {
  return elements_from_wire(session_->command("POST", "/elements", locator_body(by, value, *session_)), session_);
}

void W3CDriver::switch_to_frame(const std::shared_ptr<Element>& frame) {
  if (!frame) throw ValueError("switch_to_frame needs a frame element");
  session_->command("POST", "/frame", Json{{"id", {{kElementKey, frame->id()}}}});
}

void W3CDriver::switch_to_parent_frame() { session_->command("POST", "/frame/parent"); }

void W3CDriver::switch_to_default_content() { session_->command("POST", "/frame", Json{{"id", nullptr}}); }

void W3CDriver::switch_to_context(const std::string& name) {
  session_->command("POST", "/context", Json{{"name", name}});
}

std::shared_ptr<Alert> W3CDriver::switch_to_alert() {
  return std::make_shared<W3CAlert>(session_, wire_text(session_->command("GET", "/alert/text")));
}

void W3CDriver::perform_actions(const Json& payload) {
  if (!payload.is_object() || !payload.contains("actions") || !payload["actions"].is_array()) {
    throw ValueError("an actions payload is {\"actions\": [...]}, not " + payload.dump());
  }
  session_->command("POST", "/actions", payload);
}

void W3CDriver::release_actions() { session_->command("DELETE", "/actions"); }

void W3CDriver::debugger() {
  if (!isatty(STDIN_FILENO)) {
    log::get("tovik.webdriver")->warn("debugger: stdin is not a terminal, carrying on without pausing");
    return;
  }
  std::cerr << "tovik: paused with the browser open (" << session_->base_url() << ", session " << session_->id()
            << "). Press Enter to carry on..." << std::flush;
  std::string line;
  std::getline(std::cin, line);
  if (!std::cin) std::cin.clear();
}

// Appium 3 servers offer these as mobile commands only; the old /appium/device routes are gone.
std::string W3CDriver::current_package() {
  return wire_text(session_->command("POST", "/execute/sync", Json{{"script", "mobile: getCurrentPackage"}, {"args", Json::array()}}));
}

void W3CDriver::start_activity(const std::string& app_package, const std::string& app_activity) {
  session_->command("POST", "/execute/sync",
                    Json{{"script", "mobile: startActivity"}, {"args", Json::array({{{"intent", app_package + "/" + app_activity}}})}});
}

std::vector<std::string> W3CDriver::contexts() { return string_list(session_->command("GET", "/contexts"), "contexts"); }

std::string W3CDriver::current_context() { return wire_text(session_->command("GET", "/context")); }

void W3CDriver::quit() {
  std::lock_guard<std::mutex> lock(quit_mutex_);
  if (quit_) return;
  quit_ = true;
  auto logger = log::get("tovik.webdriver");
  try {
    session_->close();
  } catch (const std::exception& e) {
    logger->warn("ending WebDriver session {} at {} failed: {}", session_->id(), session_->base_url(), e.what());
  }
  if (cleanup_) {
    try {
      cleanup_();
    } catch (const std::exception& e) {
      logger->warn("cleaning up after WebDriver session {} failed: {}", session_->id(), e.what());
    }
  }
}

}  // namespace tovik::webdriver
