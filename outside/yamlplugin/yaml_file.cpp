#include "outside/yamlplugin/yaml_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "support/base/errors.hpp"
#include "support/base/value_yaml.hpp"

namespace tovik::yamlplugin {

namespace fs = std::filesystem;

YamlFile::YamlFile(fs::path path) : path_(std::move(path)) {
  std::error_code ec;
  if (!fs::exists(path_, ec)) return;
  std::ifstream in(path_, std::ios::binary);
  if (!in) throw OSError("变量文件 " + path_.string() + " 无法读取: " + std::strerror(errno));
  std::stringstream buf;
  buf << in.rdbuf();
  Value parsed;
  try {
    parsed = parse_yaml(buf.str());
  } catch (const ValueError& e) {
    throw ValueError("变量文件 " + path_.string() + " 不是有效的 YAML: " + e.what());
  }
  if (parsed.is_none()) return;  // an empty file
  if (!parsed.is_dict())
    throw ValueError("变量文件 " + path_.string() + " 的内容应为字典（变量名到值的映射），实际为 " + parsed.type_name());
  data_ = std::move(parsed.as_dict());
}

void YamlFile::save() const {
  const std::string text = data_.empty() ? std::string("{}\n") : dump_yaml(Value(data_));
  fs::path dir = path_.parent_path();
  if (dir.empty()) dir = ".";
  std::string tmpl = (dir / ('.' + path_.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) throw OSError("变量文件 " + path_.string() + " 无法写入: " + std::strerror(errno));
  // Keep the permissions of the file being replaced; a new file gets the usual rw-r--r--.
  std::error_code perm_ec;
  const auto perms = fs::exists(path_, perm_ec) ? fs::status(path_, perm_ec).permissions()
                                                 : fs::perms::owner_read | fs::perms::owner_write |
                                                       fs::perms::group_read | fs::perms::others_read;
  ::fchmod(fd, static_cast<mode_t>(perms));
  const char* p = text.data();
  std::size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  const int saved_errno = errno;
  if (ok && ::fsync(fd) != 0) ok = false;
  ::close(fd);
  if (!ok || std::rename(tmpl.c_str(), path_.c_str()) != 0) {
    const int err = ok ? errno : saved_errno;
    ::unlink(tmpl.c_str());
    throw OSError("变量文件 " + path_.string() + " 无法写入: " + std::strerror(err));
  }
}

}  // namespace tovik::yamlplugin
