#include "outside/settings/ini_reader.hpp"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::settings {
namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Inline comments, as pytest.ini is written by hand: ';' or '#' after whitespace inside the value,
// and '#' also first in the value when whitespace came before it in the line
// (first_after_space), so "url = #none" is empty while "secret =#kept" keeps its '#'.
std::string strip_comment(std::string_view piece, bool first_after_space) {
  for (std::size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] != '#' && piece[i] != ';') continue;
    if (i == 0 ? (first_after_space && piece[i] == '#') : is_space(piece[i - 1])) {
      piece = piece.substr(0, i);
      break;
    }
  }
  return std::string(strip_space(piece));
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
  std::string_view text = content.view();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  const auto fail = [&](std::size_t line, const std::string& problem) {
    throw ValueError("配置文件 " + path + " 第 " + std::to_string(line) + " 行无法解析: " + problem);
  };
  IniEntries entries;
  std::string current;           // the section the lines belong to
  bool after_key = false;        // a key line came earlier in this section: indented lines continue it
  std::size_t last = std::string::npos;  // the entry of our section that a continuation extends
  std::size_t lineno = 0;
  // Lines of any length: a capabilities JSON on one line is realistic.
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    ++lineno;
    if (raw.find('\0') != std::string_view::npos) fail(lineno, "该行含有 NUL 字符");
    const std::string_view t = strip_space(raw);
    if (t.empty() || t.front() == ';' || t.front() == '#') continue;
    if (after_key && is_space(raw.front())) {
      if (last != std::string::npos) {
        std::string& joined = entries[last].second;
        joined += '\n';
        joined += strip_comment(t, true);
      }
      continue;
    }
    if (t.front() == '[') {
      const std::size_t close = t.find(']');
      if (close == std::string_view::npos) fail(lineno, describe_bad_line(raw));
      current = std::string(strip_space(t.substr(1, close - 1)));
      after_key = false;
      last = std::string::npos;
      continue;
    }
    const std::size_t delim = t.find_first_of("=:");
    if (delim == std::string_view::npos) fail(lineno, describe_bad_line(raw));
    const std::string name(strip_space(t.substr(0, delim)));
    if (name.empty()) fail(lineno, "'=' 前缺少键名: " + repr_text(t));
    after_key = true;
    last = std::string::npos;
    if (current != section) continue;
    for (const auto& [key, _] : entries)
      if (key == name) fail(lineno, "键 " + repr_text(name) + " 在 [" + current + "] 中出现了两次");
    const std::string_view value = t.substr(delim + 1);
    entries.emplace_back(name, strip_comment(strip_space(value), !value.empty() && is_space(value.front())));
    last = entries.size() - 1;
  }
  for (auto& [_, value] : entries) value = std::string(strip_space(value));
  return entries;
}

}  // namespace tovik::settings
