#include "support/base/subprocess.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace tovik {

namespace {

// Ignores SIGINT and SIGTERM for its life, restoring what was there before.
class IgnoreStops {
 public:
  IgnoreStops() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &int_);
    ::sigaction(SIGTERM, &ignore, &term_);
  }
  ~IgnoreStops() {
    ::sigaction(SIGINT, &int_, nullptr);
    ::sigaction(SIGTERM, &term_, nullptr);
  }
  IgnoreStops(const IgnoreStops&) = delete;
  IgnoreStops& operator=(const IgnoreStops&) = delete;

 private:
  struct sigaction int_ {}, term_ {};
};

}  // namespace

std::string find_program(const std::string& name) {
  if (name.empty()) return {};
  const auto executable = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = '.';
    const std::string candidate = dir + '/' + name;
    if (executable(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

int run_and_wait(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return 127;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // the child starts with the default dispositions, whatever this process ignores
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

  IgnoreStops ignore;
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return 127;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 127;
}

}  // namespace tovik
