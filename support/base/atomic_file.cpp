#include "support/base/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace tovik {

namespace fs = std::filesystem;

int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int replace_file(const fs::path& path, std::string_view bytes, bool durable) {
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0;
  if (replacing && S_ISDIR(old.st_mode)) return EISDIR;

  static std::atomic<unsigned> counter{0};
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  fs::path tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = dir / ("." + path.filename().string() + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) +
                 ".part");
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;

  const auto failed = [&](int error) {
    if (fd >= 0) ::close(fd);
    ::unlink(tmp.c_str());
    return error;
  };
  if (const int error = write_all(fd, bytes)) return failed(error);
  if (replacing && S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & 07777) != 0) return failed(errno);
  if (durable && ::fsync(fd) != 0) return failed(errno);
  const int closing = ::close(fd);
  fd = -1;
  if (closing != 0) return failed(errno);
  if (std::rename(tmp.c_str(), path.c_str()) != 0) return failed(errno);
  return 0;
}

int probe_writable_dir(const std::filesystem::path& dir) {
  std::error_code ec;
  const std::filesystem::path where = dir.empty() ? std::filesystem::path(".") : dir;
  std::filesystem::create_directories(where, ec);
  if (!std::filesystem::is_directory(where)) return ec ? ec.value() : ENOTDIR;
  const std::filesystem::path probe = where / (".tovik-probe." + std::to_string(::getpid()));
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? 0 : errno;
  ::close(fd);
  ::unlink(probe.c_str());
  return 0;
}

}  // namespace tovik
