// For the notices' tests: settings from the environment in a directory of their own, the lines
// logged on "tovik.sender", robots on local ports, programs the tests start, a CA with a
// certificate for 127.0.0.1, and a real SMTP server (notify/smtp_test_server.py).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "notify/sender.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/log.hpp"
#include "support/http/test_server.hpp"

extern char** environ;

namespace tovik::sender::testing {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

inline fs::path make_temp_dir() {
  std::string tmpl = (fs::temp_directory_path() / "tovik-notify-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

// A program started with this process's environment, its output going to log (appended); ended
// (SIGTERM, then reaped) when destroyed.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, const std::string& log = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Its exit status, or nullopt when it has not ended within the time.
  std::optional<int> wait(std::chrono::milliseconds within) {
    for (const auto until = std::chrono::steady_clock::now() + within;; std::this_thread::sleep_for(20ms)) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= until) return std::nullopt;
    }
  }

 private:
  pid_t pid_ = -1;
};

inline int run(const std::vector<std::string>& argv) { return Child(argv).wait(60s).value_or(-1); }

// A CA, a certificate for 127.0.0.1 that it signed, and a second CA that signed nothing.
struct Certificates {
  fs::path dir = make_temp_dir();
  std::string ca = (dir / "ca.pem").string(), cert = (dir / "server.pem").string(),
              key = (dir / "server.key").string(), other_ca = (dir / "other-ca.pem").string();

  Certificates() {
    std::ofstream(dir / "ext.cnf") << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    const std::vector<std::string> ec_key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    const auto req = [&](std::vector<std::string> args) {
      args.insert(args.begin(), {"openssl", "req"});
      args.insert(args.end(), ec_key.begin(), ec_key.end());
      return run(args) == 0;
    };
    const auto make_ca = [&](const std::string& pem, const std::string& key_file) {
      return req({"-x509", "-keyout", key_file, "-out", pem, "-days", "2", "-subj", "/CN=tovik test CA", "-addext",
                  "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    };
    const std::string csr = (dir / "server.csr").string(), ca_key = (dir / "ca.key").string();
    if (!make_ca(ca, ca_key) || !make_ca(other_ca, (dir / "other-ca.key").string()) ||
        !req({"-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1"}) ||
        run({"openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", cert,
             "-days", "2", "-extfile", (dir / "ext.cnf").string()}) != 0)
      throw std::runtime_error("openssl could not make the test certificates");
  }
  ~Certificates() { fs::remove_all(dir); }
};

// notify/smtp_test_server.py on Debian's aiosmtpd: account robot@tovik.test, password pa55-word.
class SmtpServer {
 public:
  enum class Mode { Plain, StartTls, Implicit };
  static constexpr const char* kAccount = "robot@tovik.test";
  static constexpr const char* kPassword = "pa55-word";

  SmtpServer(Mode mode, const Certificates& certs) {
    const char* name = mode == Mode::Plain ? "plain" : mode == Mode::StartTls ? "starttls" : "implicit";
    child_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/python3", NOTIFY_SMTP_SERVER, name, dir_.string(), certs.cert, certs.key},
        (dir_ / "server.log").string());
    for (int i = 0; i < 750 && port_ <= 0; ++i) {
      std::this_thread::sleep_for(20ms);
      std::ifstream(dir_ / "port") >> port_;
    }
    if (port_ <= 0) {
      std::ifstream log(dir_ / "server.log");
      throw std::runtime_error("the SMTP test server did not start (python3-aiosmtpd installed?): " +
                               std::string(std::istreambuf_iterator<char>(log), {}));
    }
  }
  ~SmtpServer() {
    child_.reset();
    fs::remove_all(dir_);
  }

  int port() const { return port_; }
  void clear() { std::ofstream(dir_ / "events.jsonl", std::ios::trunc); }
  std::vector<Json> events() const {
    std::vector<Json> out;
    std::ifstream in(dir_ / "events.jsonl");
    for (std::string line; std::getline(in, line);)
      if (Json e = Json::parse(line, nullptr, false); !e.is_discarded()) out.push_back(e);  // not half written
    return out;
  }
  // The events once one named `last` is there (waiting at most 5 s).
  std::vector<Json> events_until(const std::string& last) const {
    for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(20ms))
      for (const auto& e : events())
        if (e["event"] == last) return events();
    return events();
  }
  static std::vector<std::string> kinds(const std::vector<Json>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e["event"]);
    return out;
  }

 private:
  fs::path dir_ = make_temp_dir();
  std::unique_ptr<Child> child_;
  int port_ = 0;
};

// A group robot's webhook at /robot/send that answers `status`, after `delay` when one is given.
class Robot {
 public:
  struct Hit {
    std::string target;                              // path and query as they arrived
    std::multimap<std::string, std::string> params;  // the query, decoded once
    Json body;
  };

  explicit Robot(int status = 200, std::chrono::milliseconds delay = 0ms) : status_(status), delay_(delay) {}
  ~Robot() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    server_.reset();
  }

  std::string url(const std::string& query) const { return server_->url("/robot/send" + query); }
  std::vector<Hit> hits() const {
    std::lock_guard lock(mutex_);
    return hits_;
  }

 private:
  void answer(const httplib::Request& req, httplib::Response& res) {
    std::unique_lock lock(mutex_);
    hits_.push_back({req.target, req.params, Json::parse(req.body, nullptr, false)});
    wake_.wait_for(lock, delay_, [this] { return stopping_; });
    res.status = status_;
    res.set_content(R"({"errcode":0,"errmsg":"ok"})", "application/json");
  }

  int status_;
  std::chrono::milliseconds delay_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<Hit> hits_;
  std::unique_ptr<http::testing::LocalServer> server_ = std::make_unique<http::testing::LocalServer>(
      [this](httplib::Server& s) { s.Post("/robot/send", [this](const auto& req, auto& res) { answer(req, res); }); });
};

// Every test starts with no channel configured, in an empty directory of its own, with the lines
// of "tovik.sender" captured; queued notices are finished before the next test.
class NoticeTest : public ::testing::Test {
 protected:
  static constexpr const char* kKeys[] = {"qywx_url",      "dingding_url",   "dingding_secret",
                                          "email_server",  "email_port",     "email_account",
                                          "email_password", "email_to",      "email_encryption"};
  void SetUp() override {
    saved_dir_ = fs::current_path();
    fs::current_path(dir_);
    for (const char* var : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"})
      if (const char* v = std::getenv(var)) saved_env_.emplace_back(var, v);
    configure({});
    log::add_sink(sink_);
  }
  void TearDown() override {
    sender::wait_idle();
    log::remove_sink(sink_);
    for (const char* key : kKeys) unsetenv(settings::tovik().env_name(key).c_str());
    unsetenv("CURL_CA_BUNDLE");
    unsetenv("SSL_CERT_FILE");
    for (const auto& [k, v] : saved_env_) setenv(k.c_str(), v.c_str(), 1);
    fs::current_path(saved_dir_);
    settings::tovik().reload_settings();
    fs::remove_all(dir_);
  }

  // The given keys over empty ones (TOVIK_* variables, which programs the test starts inherit).
  // Only while no notice runs: channels read the settings and libcurl reads the environment.
  void configure(const std::vector<std::pair<const char*, std::string>>& values) {
    sender::wait_idle();
    for (const auto& [k, v] : values) given_[k] = v;
    for (const char* key : kKeys) setenv(settings::tovik().env_name(key).c_str(), given_[key].c_str(), 1);
    settings::tovik().reload_settings();
  }
  std::vector<std::string> warnings() const {
    std::vector<std::string> out;
    for (const auto& r : sink_->records())
      if (r.logger == "tovik.sender" && r.level == spdlog::level::warn) out.push_back(r.message);
    return out;
  }
  std::string log_text() const { return sink_->text(); }

  fs::path dir_ = make_temp_dir();
  fs::path saved_dir_;
  std::map<std::string, std::string> given_;
  std::vector<std::pair<std::string, std::string>> saved_env_;
  std::shared_ptr<log::CaptureSink> sink_ = std::make_shared<log::CaptureSink>();
};

}  // namespace tovik::sender::testing
