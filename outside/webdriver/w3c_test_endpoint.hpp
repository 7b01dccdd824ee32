// Test helpers: a local WebDriver endpoint that records what it receives and answers as told,
// and a plain page server. Both listen on a free port of 127.0.0.1 and stop when destroyed.
#pragma once

#include <httplib.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/base/value_json.hpp"

namespace tovik::webdriver::w3c_testing {

class LocalServer {
 public:
  LocalServer() {
    server_.set_keep_alive_max_count(1000);
    server_.set_tcp_nodelay(true);  // else delayed ACKs add 40 ms to every answer
    port_ = server_.bind_to_any_port("127.0.0.1");
  }
  ~LocalServer() { stop(); }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Call after the routes are in place. The socket already listens, so clients may connect at once.
  void start() {
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  void stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  httplib::Server& server() { return server_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
};

struct Recorded {
  std::string method, path;
  Json body;
  int remote_port = 0;
};

class RecordingEndpoint {
 public:
  // Answer for a request, or nullopt for the default one.
  using Responder = std::function<std::optional<std::pair<int, Json>>(const Recorded&)>;

  explicit RecordingEndpoint(Json session_capabilities = Json{{"browserName", "chrome"}})
      : capabilities_(std::move(session_capabilities)) {
    auto handle = [this](const httplib::Request& req, httplib::Response& res) {
      Recorded r{req.method, req.path, Json(), req.remote_port};
      if (!req.body.empty()) r.body = Json::parse(req.body, nullptr, false);
      Responder responder;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(r);
        responder = responder_;
      }
      std::optional<std::pair<int, Json>> answer;
      if (responder) answer = responder(r);
      if (!answer) {
        if (r.method == "POST" && r.path == "/session") {
          answer = {{200, Json{{"value", {{"sessionId", "s-1"}, {"capabilities", capabilities_}}}}}};
        } else {
          answer = {{200, Json{{"value", nullptr}}}};
        }
      }
      res.status = answer->first;
      res.set_content(answer->second.dump(), "application/json; charset=utf-8");
    };
    server_.server().Get(".*", handle);
    server_.server().Post(".*", handle);
    server_.server().Delete(".*", handle);
    server_.start();
  }

  std::string url() const { return server_.url(); }
  void respond(Responder r) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(r);
  }
  std::vector<Recorded> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  Recorded last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.empty() ? Recorded{} : requests_.back();
  }
  // Distinct client ports seen: one per TCP connection.
  std::set<int> connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<int> out;
    for (const auto& r : requests_) out.insert(r.remote_port);
    return out;
  }

 private:
  Json capabilities_;
  std::mutex mutex_;
  std::vector<Recorded> requests_;
  Responder responder_;
  LocalServer server_;  // last: stops before the state above goes away
};

}  // namespace tovik::webdriver::w3c_testing
