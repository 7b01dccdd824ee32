#include "outside/webdriver/w3c_session.hpp"

#include <algorithm>

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/text.hpp"
#include "support/http/curl_global.hpp"

namespace tovik::webdriver {

namespace {

std::string trim_right(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

std::string snippet(const std::string& text, std::size_t limit = 300) {
  if (text.size() <= limit) return text;
  return text.substr(0, limit) + "...";
}

std::string seconds_text(double s) {
  std::string t = std::to_string(s);
  t.erase(t.find_last_not_of('0') + 1);
  if (!t.empty() && t.back() == '.') t.pop_back();
  return t + " s";
}

size_t collect_body(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// Loopback never goes through a proxy: drivers we start listen there, and an http_proxy set for
// the outside world must not swallow them.
std::string no_proxy_list() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* v = std::getenv(name); v && *v) {
      list += ",";
      list += v;
      break;
    }
  }
  return list;
}

}  // namespace

[[noreturn]] void raise_w3c_error(const std::string& code, const std::string& message) {
  std::string text = message;
  // Chromedriver appends "(Session info: chrome=...)"; it says nothing about the failure.
  for (const char* trailer : {"\n  (Session info:", "\n  (Driver info:", "\n(Session info:"}) {
    if (auto at = text.find(trailer); at != std::string::npos) text.erase(at);
  }
  text = trim_right(text);
  std::string full;
  if (text.empty()) full = code;
  else if (text.rfind(code, 0) == 0) full = text;  // chromedriver already leads with the code
  else full = code + ": " + text;
  if (code == "no such element") throw NoSuchElementException(full);
  if (code == "timeout" || code == "script timeout") throw TimeoutException(full);
  throw WebDriverException(full);
}

W3CConnection::W3CConnection(std::string base_url, Timeouts timeouts)
    : base_url_(std::move(base_url)), timeouts_(timeouts) {
  while (!base_url_.empty() && base_url_.back() == '/') base_url_.pop_back();
}

W3CConnection::~W3CConnection() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
  if (headers_) curl_slist_free_all(static_cast<curl_slist*>(headers_));
}

Json W3CConnection::request(const std::string& method, const std::string& path, const Json& body, double limit) {
  http::init_curl_once();

  std::lock_guard<std::mutex> lock(mutex_);
  if (!curl_) {
    curl_ = curl_easy_init();
    if (!curl_) throw WebDriverException("cannot create an HTTP client for WebDriver at " + base_url_);
    curl_slist* h = nullptr;
    h = curl_slist_append(h, "Content-Type: application/json; charset=utf-8");
    h = curl_slist_append(h, "Accept: application/json");
    h = curl_slist_append(h, "Expect:");  // no 100-continue round trip for larger bodies
    headers_ = h;
  }
  CURL* curl = static_cast<CURL*>(curl_);

  const std::string url = base_url_ + path;
  const std::string payload = method == "POST" ? body.dump() : std::string();
  std::string answer;
  char error_buffer[CURL_ERROR_SIZE] = {0};
  const std::string no_proxy = no_proxy_list();

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(headers_));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, no_proxy.c_str());
  const double command_limit = limit > 0 ? limit : timeouts_.command;
  const double connect_limit = limit > 0 ? std::min(limit, timeouts_.connect) : timeouts_.connect;
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, static_cast<long>(connect_limit * 1000)));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, std::max(1L, static_cast<long>(command_limit * 1000)));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  // The handle keeps the previous command's method; set this one's from scratch.
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
  if (method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    if (method != "GET") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  // Typed text may be a password: keystroke commands are logged without their body.
  const bool keystrokes = path.size() >= 6 && (path.compare(path.size() - 6, 6, "/value") == 0 ||
                                               path.compare(path.size() - 5, 5, "/text") == 0);
  log::get("tovik.webdriver")->debug("{} {} {}", method, url, keystrokes ? std::string("<typed text>") : snippet(payload, 200));
  CURLcode rc = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  const std::string what = method + " " + path;

  if (rc != CURLE_OK) {
    long os_errno = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &os_errno);
    curl_off_t connected_us = 0;
    curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected_us);
    std::string detail = error_buffer[0] ? error_buffer : curl_easy_strerror(rc);
    if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_RESOLVE_PROXY ||
        (rc == CURLE_OPERATION_TIMEDOUT && connected_us == 0)) {
      if (rc == CURLE_COULDNT_CONNECT && os_errno != 0) detail = std::strerror(static_cast<int>(os_errno));
      throw WebDriverException("cannot reach WebDriver at " + base_url_ + ": " + detail);
    }
    if (rc == CURLE_OPERATION_TIMEDOUT) {
      throw WebDriverException("WebDriver at " + base_url_ + " did not answer " + what + " within " +
                               seconds_text(command_limit));
    }
    throw WebDriverException("lost the connection to WebDriver at " + base_url_ + " during " + what + ": " + detail);
  }

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  Json reply;
  if (!answer.empty()) {
    try {
      reply = Json::parse(answer);
    } catch (const std::exception&) {
      throw WebDriverException("WebDriver at " + base_url_ + " answered " + what + " with HTTP " +
                               std::to_string(status) + " and a body that is not JSON: " + snippet(answer));
    }
  }
  Json value = reply.is_object() && reply.contains("value") ? reply["value"] : Json(nullptr);
  const bool error_code = value.is_object() && value.contains("error") && value["error"].is_string();
  if (status >= 400 || error_code) {
    if (error_code) {
      std::string message = value.contains("message") && value["message"].is_string() ? value["message"].get<std::string>() : "";
      raise_w3c_error(value["error"].get<std::string>(), message);
    }
    throw WebDriverException("WebDriver at " + base_url_ + " answered " + what + " with HTTP " +
                             std::to_string(status) + (answer.empty() ? "" : ": " + snippet(answer)));
  }
  return value;
}

bool is_appium_capabilities(const Json& caps) {
  if (!caps.is_object()) return false;
  auto text = [&](const char* key) -> std::string {
    auto it = caps.find(key);
    return it != caps.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  if (!text("browserName").empty()) return false;
  const std::string platform = ascii_lower(text("platformName"));
  return platform == "android" || platform == "ios" || !text("automationName").empty() ||
         !text("appium:automationName").empty();
}

W3CSession::W3CSession(std::string base_url, Timeouts timeouts) : connection_(std::move(base_url), timeouts) {}

std::shared_ptr<W3CSession> W3CSession::create(const std::string& base_url, const Json& capabilities,
                                               Timeouts timeouts) {
  if (!capabilities.is_object()) throw ValueError("capabilities must be a JSON object, not " + capabilities.dump());
  auto session = std::make_shared<W3CSession>(base_url, timeouts);
  Json value = session->connection_.request("POST", "/session", Json{{"capabilities", {{"alwaysMatch", capabilities}}}},
                                            timeouts.new_session);
  if (value.is_object() && value.contains("sessionId") && value["sessionId"].is_string()) {
    session->id_ = value["sessionId"].get<std::string>();
    session->capabilities_ = value.contains("capabilities") && value["capabilities"].is_object() ? value["capabilities"] : Json::object();
  } else {
    throw WebDriverException("WebDriver at " + session->base_url() + " answered the new session without a session id: " +
                             snippet(value.dump()));
  }
  // Some servers echo little; the request tells what kind of session this is then.
  Json kind = session->capabilities_;
  for (const char* key : {"browserName", "platformName", "automationName", "appium:automationName"}) {
    if (!kind.contains(key) && capabilities.contains(key)) kind[key] = capabilities[key];
  }
  session->appium_ = is_appium_capabilities(kind);
  return session;
}

bool W3CSession::closed() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return closed_;
}

Json W3CSession::command(const std::string& method, const std::string& path, const Json& body, double limit) {
  if (closed()) throw WebDriverException("the WebDriver session " + id_ + " has ended (quit was called)");
  return connection_.request(method, "/session/" + percent_encode(id_) + path, body, limit);
}

void W3CSession::close() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (closed_) return;
    closed_ = true;
  }
  connection_.request("DELETE", "/session/" + percent_encode(id_));
}

}  // namespace tovik::webdriver
