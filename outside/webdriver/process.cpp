#include "outside/webdriver/process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <exception>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "support/base/errors.hpp"

namespace tovik::webdriver {

namespace {

// PR_SET_PDEATHSIG fires when the *thread* that forked exits, not the process. Forking from one
// thread that lives as long as the process keeps drivers alive while worker threads come and go.
class Spawner {
 public:
  Spawner() { std::thread([this] { loop(); }).detach(); }

  void run(const std::function<void()>& task) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.push_back([&] {
        try {
          task();
          done.set_value();
        } catch (...) {
          done.set_exception(std::current_exception());
        }
      });
    }
    cv_.notify_one();
    finished.get();
  }

 private:
  void loop() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

Spawner& spawner() {
  static Spawner* s = new Spawner;  // never destroyed: its thread outlives static destruction
  return *s;
}

struct Registry {
  std::mutex mutex;
  std::vector<std::weak_ptr<DriverProcess>> live;
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

void unregister(const DriverProcess* p) {
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::erase_if(r.live, [&](const std::weak_ptr<DriverProcess>& w) {
    auto s = w.lock();
    return !s || s.get() == p;
  });
}

// Exited but not reaped, so the pid (and group id) cannot be taken by anyone else yet.
bool has_exited(pid_t pid) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno == ECHILD;
  return info.si_pid == pid;
}

// What the supervisor and the driver tell the starting thread through the report pipe.
struct Report {
  enum Kind : int { kDriver = 1, kExecFailed = 2 };
  int kind;
  int value;  // the driver's pid, or the errno of its exec
};

void kill_and_reap(pid_t group, double grace_seconds) {
  ::kill(-group, SIGTERM);
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const double until = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 + grace_seconds;
  sigset_t chld;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  for (;;) {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (::kill(-group, 0) != 0) break;  // nothing of the group is left
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const double left = until - (static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9);
    if (left <= 0) break;
    const timespec wait{static_cast<time_t>(left), static_cast<long>((left - static_cast<double>(static_cast<time_t>(left))) * 1e9)};
    ::sigtimedwait(&chld, nullptr, &wait);
  }
  ::kill(-group, SIGKILL);
  // the browser's processes were reparented to us when the driver died: reap them as they go
  for (int i = 0; i < 300 && ::kill(-group, 0) == 0; ++i) {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    const timespec tick{0, 10'000'000};
    ::nanosleep(&tick, nullptr);
  }
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

// The process between tovik and a driver. A driver quits on its parent's death, but the browser
// it started does not; this supervisor outlives tovik long enough to end the driver's whole group
// (browser included) when tovik dies, however it dies, and adopts what the driver leaves behind
// (child subreaper). It runs right after fork in a copy of a threaded process: system calls only.
[[noreturn]] void supervise(pid_t parent, const char* program, char* const* args, int null_fd, int log_fd, int report) {
  sigset_t watched;
  sigemptyset(&watched);
  sigaddset(&watched, SIGTERM);
  sigaddset(&watched, SIGCHLD);
  sigaddset(&watched, SIGINT);
  sigaddset(&watched, SIGHUP);
  ::sigprocmask(SIG_SETMASK, &watched, nullptr);  // they wait in sigwaitinfo below
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(127);  // tovik died before the line above
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  ::prctl(PR_SET_NAME, "tovik-supervise");  // what ps shows beside the driver
  const pid_t driver = ::fork();
  if (driver == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGCHLD}) ::signal(sig, SIG_DFL);
    ::dup2(null_fd, 0);
    ::dup2(log_fd, 1);
    ::dup2(log_fd, 2);
    // Sockets and files of tovik stay out of the driver (and so get closed when tovik closes them).
    ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execv(program, args);
    const Report failed{Report::kExecFailed, errno};
    [[maybe_unused]] auto n = ::write(report, &failed, sizeof failed);
    ::_exit(127);
  }
  if (driver < 0) {
    const Report failed{Report::kExecFailed, errno};
    [[maybe_unused]] auto n = ::write(report, &failed, sizeof failed);
    ::_exit(127);
  }
  ::setpgid(driver, driver);  // also from here, so the group exists whoever runs first
  const Report started{Report::kDriver, driver};
  [[maybe_unused]] auto n = ::write(report, &started, sizeof started);
  ::close(report);
  ::close(null_fd);
  ::close(log_fd);
  for (;;) {
    siginfo_t info{};
    if (::sigwaitinfo(&watched, &info) < 0) continue;
    if (info.si_signo == SIGCHLD) {
      int status = 0;
      bool driver_gone = false;
      for (pid_t done; (done = ::waitpid(-1, &status, WNOHANG)) > 0;) driver_gone = driver_gone || done == driver;
      if (!driver_gone) continue;
      kill_and_reap(driver, 0);  // what the driver left of its group goes with it
      ::_exit(0);
    }
    // asked to stop, or tovik is gone: the driver gets a moment to close the browser itself
    kill_and_reap(driver, 3.0);
    ::_exit(0);
  }
}

}  // namespace

std::vector<pid_t> live_members_of_group(pid_t group) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');  // the command name may hold anything
    if (close == std::string::npos || close + 2 >= stat.size()) continue;
    char state = '?';
    long ppid = 0, pgrp = 0;
    if (std::sscanf(stat.c_str() + close + 2, "%c %ld %ld", &state, &ppid, &pgrp) != 3) continue;
    if (pgrp == group && state != 'Z' && state != 'X') out.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return out;
}

std::shared_ptr<DriverProcess> DriverProcess::start(const std::vector<std::string>& argv, const std::string& log_path) {
  if (argv.empty() || argv[0].empty()) throw ValueError("a driver process needs a program to run");
  const std::string program = find_program(argv[0]);
  if (program.empty()) throw OSError("cannot start " + argv[0] + ": no such program (searched PATH)");

  // Everything the child touches is prepared here: after fork only async-signal-safe calls.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1, group = -1;
  spawner().run([&] {
    int log_fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log_fd < 0) throw OSError("cannot open the driver log " + log_path + ": " + std::strerror(errno));
    int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int report[2];
    if (null_fd < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
      int err = errno;
      ::close(log_fd);
      if (null_fd >= 0) ::close(null_fd);
      throw OSError(std::string("cannot prepare a driver process: ") + std::strerror(err));
    }
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) supervise(parent, program.c_str(), args.data(), null_fd, log_fd, report[1]);
    int fork_errno = errno;
    ::close(log_fd);
    ::close(null_fd);
    ::close(report[1]);
    if (pid < 0) {
      ::close(report[0]);
      throw OSError("cannot start " + program + ": " + std::strerror(fork_errno));
    }
    // the supervisor tells the driver's pid (its group); the driver, only when exec fails, why
    int child_errno = 0;
    Report message{};
    for (;;) {
      const ssize_t got = ::read(report[0], &message, sizeof message);
      if (got < 0 && errno == EINTR) continue;
      if (got != static_cast<ssize_t>(sizeof message)) break;
      if (message.kind == Report::kDriver) group = message.value;
      else child_errno = message.value;
    }
    ::close(report[0]);
    if (child_errno != 0 || group <= 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
      throw OSError("cannot start " + program + ": " + std::strerror(child_errno != 0 ? child_errno : ECHILD));
    }
  });

  std::shared_ptr<DriverProcess> p(new DriverProcess(pid, group, program, log_path));
  static std::once_flag at_exit;
  std::call_once(at_exit, [] { std::atexit(stop_all_driver_processes); });
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.live.push_back(p);
  return p;
}

DriverProcess::~DriverProcess() {
  try {
    stop();
  } catch (...) {
  }
}

bool DriverProcess::running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !reaped_ && !has_exited(pid_);
}

void DriverProcess::stop(double grace_seconds) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reaped_) return;
    // the supervisor ends the driver's group (SIGTERM, then SIGKILL after its own grace) and exits
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(grace_seconds + 4.0);
    while (!has_exited(pid_) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // a supervisor that did not finish in time: end its work for it
    ::kill(-group_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    // Whoever stops a driver expects the browser gone on return; SIGKILL is certain, but takes a
    // moment to land.
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         !live_members_of_group(group_).empty() && std::chrono::steady_clock::now() < until;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  unregister(this);
}

std::string DriverProcess::log_tail(std::size_t max_bytes) const {
  std::ifstream in(log_path_, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  auto size = static_cast<std::size_t>(in.tellg());
  std::size_t from = size > max_bytes ? size - max_bytes : 0;
  in.seekg(static_cast<std::streamoff>(from));
  std::string text(size - from, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

void stop_all_driver_processes() {
  std::vector<std::shared_ptr<DriverProcess>> live;
  {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto& w : r.live) {
      if (auto s = w.lock()) live.push_back(s);
    }
  }
  for (auto& p : live) p->stop();
}

std::vector<pid_t> live_driver_processes() {
  std::vector<pid_t> out;
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto& w : r.live) {
    if (auto s = w.lock()) out.push_back(s->group());
  }
  return out;
}

int free_local_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw OSError(std::string("cannot open a socket: ") + std::strerror(errno));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    int err = errno;
    ::close(fd);
    throw OSError(std::string("cannot find a free port on 127.0.0.1: ") + std::strerror(err));
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace tovik::webdriver
