// The wire side of a WebDriver session: JSON commands over one keep-alive HTTP connection, with
// the server's error codes turned into our error kinds.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "support/base/value_json.hpp"

namespace tovik::webdriver {

struct Timeouts {
  double connect = 10;       // seconds to open the connection
  double command = 120;      // seconds for one whole command, answer included
  // seconds a new session may take (a busy Selenium Grid queues it); 0 for the command time-out
  double new_session = 0;
};

// Raises the error kind for a W3C error answer: "no such element" -> NoSuchElementException,
// "timeout" and "script timeout" -> TimeoutException, every other code -> WebDriverException.
// The message reads "<code>: <server message>" without the driver's session-info trailer.
[[noreturn]] void raise_w3c_error(const std::string& code, const std::string& message);

// One HTTP client for one WebDriver endpoint; the connection is reused across commands.
// Commands are serialised, so elements of one driver may be used from several threads.
class W3CConnection {
 public:
  // base_url: e.g. "http://127.0.0.1:9515" or an Appium/grid prefix "http://host:4723/wd/hub".
  explicit W3CConnection(std::string base_url, Timeouts timeouts = {});
  ~W3CConnection();
  W3CConnection(const W3CConnection&) = delete;
  W3CConnection& operator=(const W3CConnection&) = delete;

  const std::string& base_url() const { return base_url_; }

  // Sends method path (relative to base_url) with a JSON body (POST only) and returns the
  // answer's "value". Failures raise as described above; a server that cannot be reached is a
  // WebDriverException naming base_url. limit, when above 0, is this command's own time-out in
  // place of the command time-out (and bounds connecting too when it is the shorter).
  Json request(const std::string& method, const std::string& path, const Json& body = Json::object(),
               double limit = 0);

 private:
  std::string base_url_;
  Timeouts timeouts_;
  std::mutex mutex_;
  void* curl_ = nullptr;     // CURL*, created on first use
  void* headers_ = nullptr;  // curl_slist*
};

// A session on a WebDriver endpoint. Paths of command() are relative to /session/{id}.
class W3CSession {
 public:
  // POST /session with {"capabilities": {"alwaysMatch": capabilities}}.
  static std::shared_ptr<W3CSession> create(const std::string& base_url, const Json& capabilities,
                                            Timeouts timeouts = {});

  const std::string& id() const { return id_; }
  const std::string& base_url() const { return connection_.base_url(); }
  // What the server granted.
  const Json& capabilities() const { return capabilities_; }
  // Appium app sessions: no browserName, and an Appium platform or automation name.
  bool is_appium() const { return appium_; }
  bool closed() const;

  Json command(const std::string& method, const std::string& path, const Json& body = Json::object(),
               double limit = 0);
  // DELETE /session/{id}; later commands raise WebDriverException. Safe to call twice.
  void close();

  W3CSession(std::string base_url, Timeouts timeouts);

 private:
  W3CConnection connection_;
  std::string id_;
  Json capabilities_;
  bool appium_ = false;
  mutable std::mutex state_mutex_;
  bool closed_ = false;
};

// Whether granted capabilities describe an Appium app session (see is_appium()).
bool is_appium_capabilities(const Json& capabilities);

}  // namespace tovik::webdriver
