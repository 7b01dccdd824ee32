// The Appium server of tools/ (with its fake driver) on a free port of 127.0.0.1, for end-to-end
// tests of app cases. Tests that use it define TOVIK_SOURCE_DIR.
#pragma once

#include <httplib.h>

#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace tovik::e2e {

class Appium {
 public:
  Appium() : port_(tovik::http::testing::closed_port()), log_(fs::temp_directory_path() / ("appium-e2e-" + std::to_string(::getpid()) + ".log")) {
    const std::string script = std::string(TOVIK_SOURCE_DIR) + "/scripts/appium";
    // the shell sends Appium's chatter to a file, so no pipe fills up while the tests run
    child_ = std::make_unique<Child>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" server --address 127.0.0.1 --port \"$1\" --log-no-colors --log-level info --allow-insecure \"*:session_discovery\" > \"$2\" 2>&1",
                                 script, std::to_string(port_), log_.string()},
        fs::current_path(), std::vector<std::pair<std::string, std::string>>{});
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(1s);
    for (const auto until = std::chrono::steady_clock::now() + 90s; std::chrono::steady_clock::now() < until;) {
      if (auto r = client.Get("/status"); r && r->status == 200) {
        ready_ = true;
        break;
      }
      if (::kill(child_->pid(), 0) != 0) break;
      std::this_thread::sleep_for(200ms);
    }
  }
  ~Appium() {
    // SIGTERM lets Appium end its sessions; the child's destructor kills what is left
    ::kill(child_->pid(), SIGTERM);
    child_->wait(15s);
    std::error_code ec;
    fs::remove(log_, ec);
  }
  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string log() const { return read_file(log_); }

 private:
  int port_;
  fs::path log_;
  std::unique_ptr<Child> child_;
  bool ready_ = false;
};

}  // namespace tovik::e2e
