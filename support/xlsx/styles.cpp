#include "support/xlsx/styles.hpp"

#include <charconv>
#include <string>
#include <unordered_map>

#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (lower(s[i]) != prefix[i]) return false;
  return true;
}

unsigned format_id(std::optional<std::string_view> text) {
  if (!text) return 0;
  const std::string_view t = trim_space(*text);
  unsigned id = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), id);
  return ec == std::errc() && end == t.data() + t.size() ? id : 0;
}

}  // namespace

NumberKind format_kind(std::string_view code) {
  // The date and time tokens in order: a letter ('n' for elapsed minutes, 'a' for AM/PM) and how
  // often it repeats.
  struct Token {
    char letter;
    std::size_t length;
  };
  std::vector<Token> tokens;
  bool elapsed = false;
  for (std::size_t i = 0; i < code.size();) {
    const char c = code[i];
    if (c == '"') {
      const std::size_t close = code.find('"', i + 1);
      i = close == std::string_view::npos ? code.size() : close + 1;
    } else if (c == '\\' || c == '_' || c == '*') {
      i += 2;
    } else if (c == '[') {
      const std::size_t close = std::min(code.find(']', i + 1), code.size());
      const std::string_view inside = code.substr(i + 1, close - i - 1);
      const char first = inside.empty() ? '\0' : lower(inside[0]);
      bool same = first == 'h' || first == 'm' || first == 's';
      for (char k : inside) same = same && lower(k) == first;
      if (same) {
        tokens.push_back({first == 'm' ? 'n' : first, inside.size()});
        elapsed = true;
      }
      i = close + 1;
    } else if (starts_with_nocase(code.substr(i), "am/pm")) {
      tokens.push_back({'a', 1});
      i += 5;
    } else if (starts_with_nocase(code.substr(i), "a/p")) {
      tokens.push_back({'a', 1});
      i += 3;
    } else if (const char l = lower(c); l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') {
      std::size_t j = i;
      while (j < code.size() && lower(code[j]) == l) ++j;
      tokens.push_back({l, j - i});
      i = j;
    } else {
      ++i;
    }
  }

  bool date = false, time = false;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    switch (tokens[k].letter) {
      case 'y':
      case 'd':
        date = true;
        break;
      case 'm': {
        // "mmm" and longer are month names; m and mm are minutes between hours and seconds.
        const bool minutes = tokens[k].length <= 2 && ((k > 0 && tokens[k - 1].letter == 'h') ||
                                                       (k + 1 < tokens.size() && tokens[k + 1].letter == 's'));
        (minutes ? time : date) = true;
        break;
      }
      default:  // h, s, n, a
        time = true;
    }
  }
  if (date) return NumberKind::Date;
  if (time) return elapsed ? NumberKind::Duration : NumberKind::Time;
  return NumberKind::Number;
}

NumberKind builtin_kind(unsigned id) {
  if ((id >= 14 && id <= 17) || id == 22) return NumberKind::Date;
  if ((id >= 18 && id <= 21) || id == 45 || id == 47) return NumberKind::Time;
  if (id == 46) return NumberKind::Duration;
  // Chinese, Japanese and Korean spreadsheet programs also name their own date formats by id
  // alone. 32 and 33 are times everywhere; the others are dates in some of those languages and
  // times in others, and a date loses nothing: it shows the time of day beside the day.
  if (id == 32 || id == 33) return NumberKind::Time;
  if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58)) return NumberKind::Date;
  return NumberKind::Number;
}

std::vector<NumberKind> read_cell_styles(XmlScanner& xml) {
  std::unordered_map<unsigned, NumberKind> defined;
  std::vector<unsigned> style_formats;
  bool in_formats = false, in_styles = false, styles_seen = false;
  for (auto token = xml.next(); token != XmlScanner::Token::Done; token = xml.next()) {
    if (token == XmlScanner::Token::End) {
      if (xml.depth() == 1) in_formats = in_styles = false;
      continue;
    }
    if (token != XmlScanner::Token::Start) continue;
    const std::string_view name = xml.name();
    if (xml.depth() == 2) {
      in_formats = name == "numFmts";
      in_styles = name == "cellXfs" && !styles_seen;
      styles_seen = styles_seen || in_styles;
    } else if (xml.depth() == 3 && in_formats && name == "numFmt") {
      defined[format_id(xml.attribute("numFmtId"))] = format_kind(xml.attribute("formatCode").value_or(""));
    } else if (xml.depth() == 3 && in_styles && name == "xf") {
      style_formats.push_back(format_id(xml.attribute("numFmtId")));
    }
  }
  std::vector<NumberKind> kinds;
  kinds.reserve(style_formats.size());
  for (unsigned id : style_formats) {
    auto found = defined.find(id);
    kinds.push_back(found != defined.end() ? found->second : builtin_kind(id));
  }
  return kinds;
}

}  // namespace tovik::xlsx
