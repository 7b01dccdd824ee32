#include "outside/allure/writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "support/base/atomic_file.hpp"
#include "support/base/errors.hpp"
#include "support/base/secrets.hpp"

namespace tovik::allure {

namespace fs = std::filesystem;

std::string md5_hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 0xF];
  }
  return out;
}

void write_file_atomically(const fs::path& path, std::string_view text) {
  // results come by the hundred: no fsync each
  if (const int error = replace_file(path, text, false))
    throw OSError("cannot write " + path.string() + ": " + std::strerror(error));
}

ResultsWriter::ResultsWriter(fs::path dir) : dir_(std::move(dir)) {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  if (!fs::is_directory(dir_)) throw OSError("cannot create allure results directory " + dir_.string() + ": " + ec.message());
}

bool ResultsWriter::written_by_us(const std::string& name) {
  const auto ends_with = [&](std::string_view tail) {
    return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return ends_with("-result.json") || ends_with("-container.json") || name.find("-attachment.") != std::string::npos ||
         name == "environment.properties" || name == "categories.json" || name == "executor.json" ||
         name == "history" || (name.size() > 6 && name[0] == '.' && ends_with(".part"));
}

ResultsWriter::~ResultsWriter() { finish_clean(); }

namespace {

constexpr std::string_view kAsideMark = ".tovik-old-";

// The directory as one name in its parent: "res/" and "./res" are "res" in ".".
std::pair<fs::path, std::string> parent_and_name(const fs::path& dir) {
  fs::path d = fs::absolute(dir).lexically_normal();
  if (!d.has_filename()) d = d.parent_path();
  return {d.parent_path(), d.filename().string()};
}

// Renames dir aside and makes a new, empty one in its place, with the same permissions; the
// path put aside, or empty when that could not be done (and dir is as it was).
fs::path move_aside(const fs::path& dir, const fs::path& parent, const std::string& name) {
  std::error_code ec;
  const fs::path aside = parent / ("." + name + std::string(kAsideMark) + new_uuid().substr(0, 8));
  const fs::perms perms = fs::status(dir, ec).permissions();
  if (ec) return {};
  fs::rename(dir, aside, ec);
  if (ec) return {};
  if (!fs::create_directory(dir, ec) || ec) {
    fs::rename(aside, dir, ec);
    return {};
  }
  fs::permissions(dir, perms, ec);
  return aside;
}

// Gives an old file new bytes and moves it to path. Outside the results directory until the
// rename, so a reader of that directory only ever sees it whole. The bytes overwrite the old
// ones and the length is cut after, when the old file was longer: truncating to nothing first
// would free the blocks only to allocate them again, and makes ext4 flush the file on close;
// even a truncation to the same length costs more than the rest. An errno, 0 when done.
int reuse_file(const fs::path& old, std::string_view bytes, const fs::path& path) {
  const int fd = ::open(old.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno;
  const auto failed = [fd](int error) {
    ::close(fd);
    return error;
  };
  struct stat before {};
  if (::fstat(fd, &before) != 0) return failed(errno);
  const auto length = static_cast<off_t>(bytes.size());
  if (const int error = write_all(fd, bytes)) return failed(error);
  if (before.st_size > length && ::ftruncate(fd, length) != 0) return failed(errno);
  if (::close(fd) != 0) return errno;
  return std::rename(old.c_str(), path.c_str()) == 0 ? 0 : errno;
}

}  // namespace

void ResultsWriter::clean() {
  finish_clean();
  std::error_code ec;
  const auto [parent, name] = parent_and_name(dir_);
  const std::string aside_prefix = "." + name + std::string(kAsideMark);
  for (const auto& entry : fs::directory_iterator(parent, ec))
    if (entry.path().filename().string().rfind(aside_prefix, 0) == 0) aside_.push_back(entry.path());

  bool only_ours = true, empty = true;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    empty = false;
    if (!written_by_us(entry.path().filename().string())) only_ours = false;
  }
  fs::path moved;
  if (!empty && only_ours && !fs::is_symlink(parent / name, ec)) moved = move_aside(dir_, parent, name);
  if (!moved.empty()) {
    aside_.push_back(moved);
  } else {
    for (const auto& entry : fs::directory_iterator(dir_, ec))
      if (written_by_us(entry.path().filename().string())) fs::remove_all(entry.path(), ec);
  }
  for (const fs::path& dir : aside_)
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.is_regular_file(ec) && !entry.is_symlink(ec)) spare_.push_back(entry.path());
}

void ResultsWriter::finish_clean() {
  {
    std::lock_guard lock(spare_mutex_);
    spare_.clear();
  }
  for (const fs::path& dir : aside_) {
    std::error_code ignored;  // what stays is taken up by the next run's clean
    fs::remove_all(dir, ignored);
  }
  aside_.clear();
}

void ResultsWriter::put(const std::string& name, std::string_view bytes) {
  const fs::path path = dir_ / name;
  for (;;) {
    fs::path old;
    {
      std::lock_guard lock(spare_mutex_);
      if (spare_.empty()) break;
      old = std::move(spare_.back());
      spare_.pop_back();
    }
    const int error = reuse_file(old, bytes, path);
    if (error == 0) return;
    // a spare that cannot be opened is passed over; a results directory that is gone is a failure
    if (error != ENOENT && error != EACCES && error != ELOOP && error != EISDIR)
      throw OSError("cannot write " + path.string() + ": " + std::strerror(error));
  }
  write_file_atomically(path, bytes);
}

namespace {

// Pictures hold no text to mask, and masking bytes that happen to match would break them.
bool is_binary_type(const std::string& type) { return type.rfind("image/", 0) == 0; }

std::string extension_for(const std::string& type) {
  if (type == "text/plain") return "txt";
  if (type == "application/json") return "json";
  if (type == "text/html") return "html";
  if (type == "image/png") return "png";
  if (type == "text/xml" || type == "application/xml") return "xml";
  return "attach";
}

}  // namespace

std::string ResultsWriter::attachment_file_name(const std::string& type) {
  return new_uuid() + "-attachment." + extension_for(type);
}

void ResultsWriter::write_attachment(const std::string& source, const std::string& type, std::string content) {
  const std::uint64_t generation = secrets::generation();
  if (!is_binary_type(type)) secrets::redact_in_place(content);
  put(source, content);
  std::lock_guard lock(ahead_mutex_);
  ahead_[source] = generation;
}

void ResultsWriter::write_attachments(std::vector<Attachment>& attachments) {
  std::erase_if(attachments, [](const Attachment& a) { return a.source.empty() && a.content.empty(); });
  for (auto& a : attachments) {
    if (!a.source.empty()) {
      std::optional<std::uint64_t> written_at;
      {
        std::lock_guard lock(ahead_mutex_);
        if (auto it = ahead_.find(a.source); it != ahead_.end()) {
          written_at = it->second;
          ahead_.erase(it);
        }
      }
      // a secret that became known after the file was written is masked in it now
      if (written_at && *written_at < secrets::generation() && !is_binary_type(a.type)) {
        std::ifstream in(dir_ / a.source, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) throw OSError("cannot read " + (dir_ / a.source).string());
        if (secrets::redact_in_place(text)) write_file_atomically(dir_ / a.source, text);
      }
      continue;
    }
    a.source = attachment_file_name(a.type);
    put(a.source, a.content);
    a.content.clear();
  }
}

void ResultsWriter::write_steps(std::vector<StepResult>& steps) {
  for (auto& s : steps) {
    write_attachments(s.attachments);
    write_steps(s.steps);
  }
}

namespace {

// Secrets are masked in the model, before anything is serialised, so the JSON stays well-formed.
// Identity (fullName, ids) is left alone: it is computed from names, not from values.
void redact_details(StatusDetails& d) {
  secrets::redact_in_place(d.message);
  secrets::redact_in_place(d.trace);
}

void redact_items(std::vector<Attachment>& attachments, std::vector<Parameter>& parameters) {
  for (auto& a : attachments)
    if (!is_binary_type(a.type)) secrets::redact_in_place(a.content);
  for (auto& p : parameters) secrets::redact_in_place(p.value);
}

void redact_steps(std::vector<StepResult>& steps) {
  for (auto& s : steps) {
    secrets::redact_in_place(s.name);
    redact_details(s.statusDetails);
    redact_items(s.attachments, s.parameters);
    redact_steps(s.steps);
  }
}

}  // namespace

void redact_secrets(TestResult& r) {
  if (!secrets::any()) return;
  secrets::redact_in_place(r.name);
  secrets::redact_in_place(r.description);
  redact_details(r.statusDetails);
  redact_items(r.attachments, r.parameters);
  redact_steps(r.steps);
}

void ResultsWriter::write(TestResult& result) {
  redact_secrets(result);
  if (result.testCaseId.empty()) result.testCaseId = md5_hex(result.fullName);
  if (result.historyId.empty()) {
    std::vector<const Parameter*> params;
    for (const auto& p : result.parameters) params.push_back(&p);
    std::sort(params.begin(), params.end(), [](const Parameter* a, const Parameter* b) { return a->name < b->name; });
    std::string key = result.fullName;
    for (const Parameter* p : params) key += p->value;
    result.historyId = md5_hex(key);
  }
  write_attachments(result.attachments);
  write_steps(result.steps);
  // Invalid UTF-8 becomes U+FFFD: the generator silently drops files it cannot decode.
  const std::string text = to_json_text(result);
  put(result.uuid + "-result.json", text);
}

void ResultsWriter::write_environment(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string text;
  const auto escape = [](const std::string& s, bool key) {
    std::string out;
    for (char c : s) {
      if (c == '\\' || (key && (c == '=' || c == ':' || c == ' '))) out += '\\';
      if (c == '\n') {
        out += "\\n";
        continue;
      }
      out += c;
    }
    return out;
  };
  for (const auto& [k, v] : entries) text += escape(k, true) + " = " + escape(v, false) + "\n";
  put("environment.properties", text);
}

}  // namespace tovik::allure
