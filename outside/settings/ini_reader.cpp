#include "outside/settings/ini_reader.hpp"

#include <ini.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::settings {
namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// inih only knows ';' as an inline comment; '#' after whitespace is one too in pytest.ini.
// first_after_space tells whether the piece's first character followed whitespace in the line.
std::string strip_hash_comment(std::string_view piece, bool first_after_space) {
  for (std::size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] != '#') continue;
    if (i == 0 ? first_after_space : is_space(piece[i - 1])) {
      piece = piece.substr(0, i);
      break;
    }
  }
  return std::string(strip_space(piece));
}

// State shared by the line reader and the handler. The reader hands inih one physical line per
// call, so the handler always knows which raw line it is looking at; that tells continuation
// lines from repeated keys, which inih reports the same way.
struct Parse {
  std::string_view section;
  std::vector<std::string> lines;
  std::size_t next = 0;
  // Mirrors inih: a continuation line needs a key line earlier in the same section.
  bool after_key = false;
  // Entry the last key line went to, when that line was in our section.
  std::size_t last_entry = std::string::npos;
  IniEntries entries;
  std::size_t error_line = 0;
  std::string error;

  void fail(std::size_t line, std::string message) {
    if (error_line != 0) return;
    error_line = line;
    error = std::move(message);
  }
};

char* read_line(char* buf, int size, void* stream) {
  auto* p = static_cast<Parse*>(stream);
  if (p->next >= p->lines.size()) return nullptr;
  const std::string& line = p->lines[p->next++];
  // inih splits longer lines silently and reads a NUL as the end; both would corrupt values.
  if (line.find('\0') != std::string::npos) {
    p->fail(p->next, "该行含有 NUL 字符");
    return nullptr;
  }
  const auto limit = static_cast<std::size_t>(size - 1);
  if (line.size() > limit) {
    p->fail(p->next, "该行超过 " + std::to_string(limit) + " 个字符；较长的值请在缩进的续行中接着写");
    return nullptr;
  }
  std::memcpy(buf, line.data(), line.size());
  buf[line.size()] = '\0';
  const std::string_view t = strip_space(line);
  if (!t.empty() && t.front() == '[' && t.find(']') != std::string_view::npos) {
    p->after_key = false;
    p->last_entry = std::string::npos;
  }
  return buf;
}

int on_entry(void* user, const char* section, const char* name, const char* value) {
  auto* p = static_cast<Parse*>(user);
  const std::size_t lineno = p->next;
  const std::string& raw = p->lines[lineno - 1];
  const bool ours = p->section == section;

  if (p->after_key && !raw.empty() && is_space(raw.front())) {
    if (p->last_entry != std::string::npos) {
      std::string& joined = p->entries[p->last_entry].second;
      joined += '\n';
      joined += strip_hash_comment(value, true);
    }
    return 1;
  }

  p->after_key = true;
  p->last_entry = std::string::npos;
  if (*name == '\0') {
    p->fail(lineno, "'=' 前缺少键名: " + repr_text(strip_space(raw)));
    return 0;
  }
  if (!ours) return 1;
  for (const auto& [key, _] : p->entries) {
    if (key == name) {
      p->fail(lineno, "键 " + repr_text(name) + " 在 [" + std::string(section) + "] 中出现了两次");
      return 0;
    }
  }
  const std::size_t delim = raw.find_first_of("=:");
  const bool after_space = delim != std::string::npos && delim + 1 < raw.size() &&
                           is_space(raw[delim + 1]);
  p->entries.emplace_back(name, strip_hash_comment(value, after_space));
  p->last_entry = p->entries.size() - 1;
  return 1;
}

std::string describe_bad_line(std::string_view raw) {
  const std::string_view t = strip_space(raw);
  if (!t.empty() && t.front() == '[') return "节标题 " + repr_text(t) + " 缺少结尾的 ']'";
  return "应为 'key = value' 的形式，实际为 " + repr_text(t);
}

}  // namespace

IniEntries read_ini_section(const std::string& path, std::string_view section) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw OSError("配置文件 " + path + " 不是可读的文件");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw OSError("配置文件 " + path + " 无法打开: " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw OSError("配置文件 " + path + " 无法读取");

  Parse p;
  p.section = section;
  std::string text = content.str();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    p.lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }

  const int rc = ini_parse_stream(read_line, &p, on_entry, &p);
  if (rc < 0) throw OSError("配置文件 " + path + " 无法解析: 内存不足");
  std::size_t line = 0;
  std::string problem;
  if (rc > 0) {
    line = static_cast<std::size_t>(rc);
    problem = line == p.error_line ? p.error : describe_bad_line(p.lines[line - 1]);
  } else if (p.error_line != 0) {
    line = p.error_line;
    problem = p.error;
  }
  if (line != 0)
    throw ValueError("配置文件 " + path + " 第 " + std::to_string(line) + " 行无法解析: " + problem);

  for (auto& [_, value] : p.entries) value = std::string(strip_space(value));
  return std::move(p.entries);
}

}  // namespace tovik::settings
