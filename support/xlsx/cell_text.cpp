#include "support/xlsx/cell_text.hpp"

#include "support/base/utf8.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace tovik::xlsx {
namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The UTF-16 unit of an escape "_xHHHH_" starting at text[i].
std::optional<std::uint32_t> escape_at(std::string_view text, std::size_t i) {
  if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_')
    return std::nullopt;
  std::uint32_t unit = 0;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    int d = hex_digit(text[k]);
    if (d < 0) return std::nullopt;
    unit = unit * 16 + static_cast<std::uint32_t>(d);
  }
  return unit;
}


bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::size_t char_count(std::string_view text) {
  std::size_t count = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;  // every byte but continuation bytes
  return count;
}

std::string too_long_for_a_cell() { return "内容超过 " + std::to_string(kMaxCellChars) + " 个字符的上限"; }

std::string_view trim_space(std::string_view s) {
  const char* ws = " \t\r\n";
  std::size_t first = s.find_first_not_of(ws);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(ws) - first + 1);
}

std::string decode_escapes(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto unit = escape_at(text, i);
    if (!unit) {
      out += text[i++];
      continue;
    }
    i += 7;
    std::uint32_t cp = *unit;
    if (is_high_surrogate(cp)) {
      auto low = escape_at(text, i);
      if (low && is_low_surrogate(*low)) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
        i += 7;
      } else {
        cp = 0xFFFD;
      }
    } else if (is_low_surrogate(cp)) {
      cp = 0xFFFD;
    }
    append_utf8(out, cp);
  }
  return out;
}

std::optional<Value> parse_number(std::string_view text) {
  text = trim_space(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  const char* first = text.data();
  const char* last = text.data() + text.size();

  // Integer spelling goes through the integer parser so values beyond 2^53 stay exact.
  if (all_digits(text.front() == '-' ? text.substr(1) : text)) {
    std::int64_t i = 0;
    auto [end, ec] = std::from_chars(first, last, i);
    if (ec == std::errc() && end == last) return Value(static_cast<long long>(i));
    // Beyond int64: a double, even when rounding would bring it back to the int64 bound.
    double d = 0;
    std::from_chars(first, last, d);
    return Value(d);
  }

  double d = 0;
  auto [end, ec] = std::from_chars(first, last, d);
  if (ec != std::errc() || end != last || !std::isfinite(d)) return std::nullopt;
  // -2^63 and 2^63 are exact doubles; the range is half-open because 2^63 itself overflows.
  if (std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
    return Value(static_cast<long long>(d));
  return Value(d);
}

}  // namespace tovik::xlsx
