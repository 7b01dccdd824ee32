#include "support/http/request.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::http {

namespace {
[[noreturn]] void os_error(int err, const std::string& path) {
  throw OSError("[Errno " + std::to_string(err) + "] " + std::strerror(err) + ": " + repr_text(path));
}
}  // namespace

std::string Request::header(std::string_view name) const {
  for (const auto& [k, v] : headers)
    if (iequals(k, name)) return v;
  return {};
}

std::shared_ptr<UploadFile> UploadFile::open(const std::string& path) {
  // without O_NONBLOCK opening a FIFO would wait for a writer
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) os_error(errno, path);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    os_error(err, path);
  }
  // a directory cannot be read; a FIFO or a device may never end: only files are uploaded
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) os_error(EISDIR, path);
    throw OSError("不是普通文件，无法上传: " + repr_text(path));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    const int err = errno;
    ::close(fd);
    os_error(err, path);
  }
  std::shared_ptr<std::FILE> file(f, [](std::FILE* p) { std::fclose(p); });
  return std::shared_ptr<UploadFile>(new UploadFile(path, std::move(file)));
}

std::string UploadFile::filename() const {
  const auto slash = path_.find_last_of('/');
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

std::string UploadFile::read_all() const {
  std::FILE* f = file_.get();
  if (std::fseek(f, 0, SEEK_SET) != 0) os_error(errno, path_);
  std::string out;
  char buf[65536];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f);
    out.append(buf, n);
    if (n < sizeof buf) {
      if (std::ferror(f)) {
        const int err = errno ? errno : EIO;
        std::clearerr(f);
        os_error(err, path_);
      }
      break;
    }
  }
  return out;
}

std::string UploadFile::repr() const { return "<_io.BufferedReader name=" + repr_text(path_) + ">"; }

std::string guess_content_type(const std::string& filename) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {"txt", "text/plain"},        {"csv", "text/csv"},          {"html", "text/html"},
      {"htm", "text/html"},         {"xml", "application/xml"},   {"json", "application/json"},
      {"yaml", "application/yaml"}, {"yml", "application/yaml"},  {"png", "image/png"},
      {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
      {"svg", "image/svg+xml"},     {"webp", "image/webp"},       {"pdf", "application/pdf"},
      {"zip", "application/zip"},   {"gz", "application/gzip"},   {"ini", "text/plain"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"mp4", "video/mp4"},         {"mp3", "audio/mpeg"},
  };
  const auto dot = filename.rfind('.');
  if (dot == std::string::npos) return "application/octet-stream";
  const std::string ext = ascii_lower(std::string_view(filename).substr(dot + 1));
  for (const auto& [e, type] : kTypes)
    if (ext == e) return type;
  return "application/octet-stream";
}

}  // namespace tovik::http
