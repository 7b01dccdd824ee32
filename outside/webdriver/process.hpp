// Driver programs (chromedriver, geckodriver) that tovik starts and must not leave behind.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/base/subprocess.hpp"  // find_program

namespace tovik::webdriver {

// A program running in a process group of its own, so stopping it also ends what it started
// (the browser), under a small supervisor process of ours that ends that whole group when tovik
// dies, even by SIGKILL, and adopts what the driver leaves behind.
class DriverProcess {
 public:
  // argv[0] is a path or a name looked up in PATH; stdout and stderr are appended to log_path.
  // OSError when the program cannot be found or started, or the log cannot be opened.
  static std::shared_ptr<DriverProcess> start(const std::vector<std::string>& argv, const std::string& log_path);

  DriverProcess(const DriverProcess&) = delete;
  DriverProcess& operator=(const DriverProcess&) = delete;
  ~DriverProcess();  // stop()

  pid_t pid() const { return pid_; }      // the supervisor's
  pid_t group() const { return group_; }  // the driver's pid, also its process group id
  const std::string& program() const { return program_; }
  const std::string& log_path() const { return log_path_; }

  // False once the program has exited (or was stopped).
  bool running();
  // SIGTERM to the group, up to grace_seconds for the program to exit, then SIGKILL to whatever
  // of the group is left; the program and its supervisor are reaped. Safe to call twice.
  void stop(double grace_seconds = 3.0);
  // The last max_bytes of the log, for error messages.
  std::string log_tail(std::size_t max_bytes = 2000) const;

 private:
  DriverProcess(pid_t pid, pid_t group, std::string program, std::string log_path)
      : pid_(pid), group_(group), program_(std::move(program)), log_path_(std::move(log_path)) {}
  pid_t pid_, group_;
  std::string program_, log_path_;
  std::mutex mutex_;
  bool reaped_ = false;
};

// Stops every driver process still running (the runner calls it on Ctrl-C; it also runs at exit).
// Not for signal handlers: it takes locks and waits.
void stop_all_driver_processes();
// Pids of the driver programs started and not yet stopped (each also its process group's id).
std::vector<pid_t> live_driver_processes();

// Processes of the group that still run; zombies, which only wait to be reaped by whoever adopted
// them, do not count.
std::vector<pid_t> live_members_of_group(pid_t group);

// A TCP port of 127.0.0.1 that was free a moment ago (bound to port 0, then released).
int free_local_port();

}  // namespace tovik::webdriver
