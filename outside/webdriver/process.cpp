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

  pid_t pid = -1;
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
    if (pid == 0) {
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);  // tovik died before the line above
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGCHLD}) ::signal(sig, SIG_DFL);
      ::dup2(null_fd, 0);
      ::dup2(log_fd, 1);
      ::dup2(log_fd, 2);
      // Sockets and files of tovik stay out of the driver (and so get closed when tovik closes them).
      ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
      ::execv(program.c_str(), args.data());
      int err = errno;
      [[maybe_unused]] auto n = ::write(report[1], &err, sizeof err);
      ::_exit(127);
    }
    int fork_errno = errno;
    ::close(log_fd);
    ::close(null_fd);
    ::close(report[1]);
    if (pid < 0) {
      ::close(report[0]);
      throw OSError("cannot start " + program + ": " + std::strerror(fork_errno));
    }
    ::setpgid(pid, pid);  // also from here, so the group exists whoever runs first
    int child_errno = 0;
    ssize_t got;
    do got = ::read(report[0], &child_errno, sizeof child_errno);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof child_errno)) {
      ::waitpid(pid, nullptr, 0);
      throw OSError("cannot start " + program + ": " + std::strerror(child_errno));
    }
  });

  std::shared_ptr<DriverProcess> p(new DriverProcess(pid, program, log_path));
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
    ::kill(-pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(grace_seconds);
    while (!has_exited(pid_) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The leader is not reaped yet, so the group id is still ours: end the rest of the group too.
    ::kill(-pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    // The browser's processes are not our children: they die a moment after the signal. Whoever
    // stops a driver expects them gone on return, so wait for that (briefly: SIGKILL is certain).
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         !live_members_of_group(pid_).empty() && std::chrono::steady_clock::now() < until;) {
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
    if (auto s = w.lock()) out.push_back(s->pid());
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
