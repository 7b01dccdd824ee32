// Helpers of the end-to-end tests: running a program with its output captured and a time limit,
// files, workbook rows, and output checks that print the whole text when they fail.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "examples/workbook_writer.hpp"
#include "support/base/value.hpp"

extern char** environ;

namespace tovik::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Finished {
  int status = -1;  // exit status; -1 when the child did not exit normally
  int signal = 0;   // the signal that ended it, if one did
  bool timed_out = false;
  std::string out, err;
  std::string all() const { return out + err; }
};

// A child process with its stdout and stderr on pipes. It gets a process group of its own, so a
// hard kill also reaches what it started (allure starts java).
class Child {
 public:
  Child(const std::vector<std::string>& argv, const fs::path& cwd,
        const std::vector<std::pair<std::string, std::string>>& env) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);  // a shell starting ctest in the background ignores it
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string key = entry.substr(0, entry.find('='));
      const bool replaced = std::any_of(env.begin(), env.end(), [&](const auto& kv) { return kv.first == key; });
      if (!replaced) env_text.push_back(entry);
    }
    for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& a : argv_copy) args.push_back(a.data());
    args.push_back(nullptr);

    const int rc = posix_spawn(&pid_, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    ::close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
    if (rc != 0) {
      close_fds();
      pid_ = -1;
      throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
  }

  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(-pid_, SIGKILL);
      int st = 0;
      ::waitpid(pid_, &st, 0);
    }
    close_fds();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& out() const { return out_; }

  // Reads what the child wrote, waiting at most timeout for something to arrive.
  void pump(std::chrono::milliseconds timeout) {
    pollfd p[2];
    int n = 0;
    int which[2];
    for (int i = 0; i < 2; ++i)
      if (fds_[i] >= 0) {
        p[n] = {fds_[i], POLLIN, 0};
        which[n++] = i;
      }
    if (n == 0) {
      std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(10)));
      return;
    }
    if (::poll(p, static_cast<nfds_t>(n), static_cast<int>(timeout.count())) <= 0) return;
    for (int k = 0; k < n; ++k) {
      if (!(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t got = ::read(p[k].fd, buf, sizeof buf);
      if (got > 0) (which[k] == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(got));
      else if (got == 0 || errno != EINTR) {
        ::close(fds_[which[k]]);
        fds_[which[k]] = -1;
      }
    }
  }

  // Waits for the end; past the limit the child is killed and the result says so.
  Finished wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    Finished f;
    int st = 0;
    while (!reaped_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
        reaped_ = true;
        f.timed_out = true;
        break;
      }
      pump(std::min(left, std::chrono::milliseconds(50)));
      if (::waitpid(pid_, &st, WNOHANG) == pid_) reaped_ = true;
    }
    // what is still in the pipes (a grandchild may hold them: give up at the deadline)
    while ((fds_[0] >= 0 || fds_[1] >= 0) && std::chrono::steady_clock::now() < deadline) pump(50ms);
    if (!f.timed_out) {
      if (WIFEXITED(st)) f.status = WEXITSTATUS(st);
      if (WIFSIGNALED(st)) f.signal = WTERMSIG(st);
    }
    f.out = out_;
    f.err = err_;
    return f;
  }

 private:
  void close_fds() {
    for (int& fd : fds_)
      if (fd >= 0) {
        ::close(fd);
        fd = -1;
      }
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int fds_[2] = {-1, -1};
  std::string out_, err_;
};

using Env = std::vector<std::pair<std::string, std::string>>;

// ---------------------------------------------------------------------------------------------
// Files, rows, output

inline std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The files directly in dir whose names end in suffix, sorted; none when dir does not exist.
inline std::vector<fs::path> files_matching(const fs::path& dir, const std::string& suffix) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Where the program of that name is (java also through JAVA_HOME); empty when nowhere.
inline std::string program_path(const std::string& name) {
  if (const char* home = std::getenv("JAVA_HOME"); name == "java" && home && fs::exists(fs::path(home) / "bin/java"))
    return (fs::path(home) / "bin/java").string();
  const char* path = std::getenv("PATH");
  if (!path) return "";
  std::stringstream dirs(path);
  for (std::string d; std::getline(dirs, d, ':');)
    if (!d.empty() && ::access((fs::path(d) / name).c_str(), X_OK) == 0) return (fs::path(d) / name).string();
  return "";
}
inline bool program_on_path(const std::string& name) { return !program_path(name).empty(); }

// A port of 127.0.0.1 that was free a moment ago, for a server the test starts (0 when none).
inline int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

inline void write_file(const fs::path& p, const std::string& text) {
  if (!p.parent_path().empty()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + p.string());
}

// The pytest.ini of a device test: variables.yaml as the variable file, the log at info level in
// tovik.log, and the given lines as [tovik_ui].
inline std::string device_ini(const std::string& ui_lines) {
  return "[pytest]\n"
         "tovik_variables = variables.yaml\n"
         "log_file = tovik.log\n"
         "log_file_level = info\n"
         "\n[tovik_ui]\n" +
         ui_lines;
}

// One workbook row: step number, description, keyword, arguments; nullptr leaves a cell empty.
template <class... T>
List R(T&&... cells) {
  return List{Value(std::forward<T>(cells))...};
}

inline std::vector<std::string> lines_with(const std::string& text, const std::string& needle) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) out.push_back(line);
  return out;
}

// Substring checks that print the whole text once, readably, when they fail.
inline testing::AssertionResult Has(const std::string& text, const std::string& needle) {
  if (text.find(needle) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "missing: " << needle << "\n--- in ---\n" << text << "\n----------";
}

inline testing::AssertionResult Lacks(const std::string& text, const std::string& needle) {
  if (text.find(needle) == std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "unexpected: " << needle << "\n--- in ---\n" << text << "\n----------";
}

inline std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + needle.size())) ++n;
  return n;
}

// The section of the output from the line holding `from` up to (not including) the next line
// holding `to` (or the end).
inline std::string section(const std::string& text, const std::string& from, const std::string& to) {
  const auto start = text.find(from);
  if (start == std::string::npos) return "";
  const auto line_end = text.find('\n', start);
  const auto stop = line_end == std::string::npos ? std::string::npos : text.find(to, line_end);
  return text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
}

// ---------------------------------------------------------------------------------------------
// The fixtures' base

// A project folder of its own for each test (root_), with tmp_ inside as the runs' TMPDIR (the
// tmp_path fixture and browser profiles go there), removed afterwards; tovik runs in it with a
// fixed terminal width and no colours. Tests of the tovik binary define TOVIK_BIN.
class ProjectTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tovik-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    tmp_ = root_ / "tmp";
    fs::create_directory(tmp_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // The environment of a run: the usual settings and then extra, whose names must differ.
  Env run_env(const Env& extra = {}) const {
    Env env{{"COLUMNS", "80"}, {"NO_COLOR", "1"}, {"TMPDIR", tmp_.string()}};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

#ifdef TOVIK_BIN
  // Runs `tovik args...` (the command first, e.g. "run") in dir (the project by default), waiting
  // at most limit. Every run must end on its own, by exit, and not with an internal error: bad
  // input never crashes it.
  Finished run_tovik(std::vector<std::string> args, const Env& extra = {},
                     std::chrono::milliseconds limit = 60s, const fs::path& dir = {}) {
    args.insert(args.begin(), TOVIK_BIN);
    Child child(args, dir.empty() ? root_ : dir, run_env(extra));
    Finished f = child.wait(limit);
    EXPECT_FALSE(f.timed_out) << "tovik did not end\n" << f.all();
    EXPECT_EQ(f.signal, 0) << "tovik died of a signal\n" << f.all();
    EXPECT_NE(f.status, 3) << "internal error\n" << f.all();
    return f;
  }
#endif

  void workbook(const fs::path& rel, const std::vector<examples::SheetRows>& sheets) {
    fs::create_directories((root_ / rel).parent_path());
    examples::write_workbook(root_ / rel, sheets);
  }

  fs::path root_, tmp_;
};

}  // namespace tovik::e2e
