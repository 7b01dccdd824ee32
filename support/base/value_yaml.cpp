#include "support/base/value_yaml.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/utf8.hpp"
#include "support/base/yaml_tree.hpp"

namespace tovik {

namespace {

bool is_digit(char c, int base) {
  if (base == 16) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  return c >= '0' && c < static_cast<char>('0' + base);
}

// Whether s[i..] is one or more digits of base up to the end.
bool all_digits(const std::string& s, std::size_t i, int base) {
  if (i >= s.size()) return false;
  for (; i < s.size(); ++i)
    if (!is_digit(s[i], base)) return false;
  return true;
}

// The core schema's integers: [-+]?[0-9]+, 0o[0-7]+, 0x[0-9a-fA-F]+. Written out by hand: every
// scalar of every case file passes through here.
bool parse_int(const std::string& s, long long& out) {
  const char* b = s.data();
  const char* e = s.data() + s.size();
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'o' || s[1] == 'x')) {
    base = s[1] == 'o' ? 8 : 16;
    if (!all_digits(s, 2, base)) return false;
    b += 2;
  } else {
    const std::size_t first = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (!all_digits(s, first, 10)) return false;
    if (*b == '+') ++b;
  }
  auto res = std::from_chars(b, e, out, base);
  return res.ec == std::errc() && res.ptr == e;
}

// [-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?, and .inf / .nan in their three spellings.
bool parse_float(const std::string& s, double& out) {
  std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
  const std::string_view rest = std::string_view(s).substr(i);
  if (rest == ".inf" || rest == ".Inf" || rest == ".INF") {
    out = s[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (i == 0 && (rest == ".nan" || rest == ".NaN" || rest == ".NAN")) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i - from;
  };
  const std::size_t whole = digits();
  std::size_t fraction = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    fraction = digits();
    if (whole == 0 && fraction == 0) return false;
  } else if (whole == 0) {
    return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    if (digits() == 0) return false;
  }
  if (i != s.size()) return false;
  const char* b = s.data();
  if (*b == '+') ++b;
  auto res = std::from_chars(b, s.data() + s.size(), out);
  return res.ec == std::errc() || res.ec == std::errc::result_out_of_range;
}

}  // namespace

Value resolve_plain_scalar(const std::string& s) {
  if (s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL") return Value();
  if (s == "true" || s == "True" || s == "TRUE") return Value(true);
  if (s == "false" || s == "False" || s == "FALSE") return Value(false);
  long long i = 0;
  if (parse_int(s, i)) return Value(i);
  // decimal digits beyond 64 bits are an integer still, kept exactly
  if (all_digits(s, (s[0] == '-' || s[0] == '+') ? 1 : 0, 10)) return Value::integer(s);
  double d = 0;
  if (parse_float(s, d)) return Value(d);
  return Value(s);
}

namespace {

// ---- writing ---------------------------------------------------------------------------------
// Our own writer rather than yaml-cpp's: yaml-cpp's idea of a safe plain scalar and of a
// printable character differs from libyaml's, which reads the files back, so texts came back
// changed (carriage returns, NEL, line separators folded into spaces; "--- x" read as a document
// marker; noncharacters replaced) or not at all (DEL). The rules below are libyaml's.

// libyaml refuses implicit keys longer than 1024 characters; longer ones get "? key".
constexpr std::size_t kMaxImplicitKey = 1000;

// The code point of the well-formed sequence of len bytes at s[i] (utf8_sequence_length).
std::uint32_t decode(std::string_view s, std::size_t i, std::size_t len) {
  const auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + k])); };
  switch (len) {
    case 1: return b(0);
    case 2: return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    case 3: return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    default: return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
  }
}

// Characters a reader takes as they are inside a scalar: printable, no line break (NEL, U+2028
// and U+2029 are breaks to YAML), no byte order mark, no noncharacter.
bool is_plain_char(std::uint32_t cp) {
  if (cp < 0x80) return cp >= 0x20 && cp != 0x7F;
  if (cp < 0xA0 || cp == 0x2028 || cp == 0x2029 || cp == 0xFEFF) return false;
  if ((cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE) return false;
  return true;
}

bool fits_plain(const std::string& s) {
  if (s.empty() || !resolve_plain_scalar(s).is_str()) return false;  // would read back as another kind
  if (std::string_view("-?:,[]{}#&*!|>'\"%@` ").find(s.front()) != std::string_view::npos) return false;
  if (s.back() == ' ' || s.back() == ':') return false;
  if (s.compare(0, 3, "...") == 0) return false;  // a document end marker
  if (s.find(": ") != std::string::npos || s.find(" #") != std::string::npos) return false;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = utf8_sequence_length(s, i);
    if (len == 0 || !is_plain_char(decode(s, i, len))) return false;
    i += len;
  }
  return true;
}

void append_escape(std::string& out, std::uint32_t cp) {
  char buf[12];
  if (cp <= 0xFF)
    std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(cp));
  else if (cp <= 0xFFFF)
    std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(cp));
  else
    std::snprintf(buf, sizeof buf, "\\U%08X", static_cast<unsigned>(cp));
  out += buf;
}

// A double-quoted scalar on one line. Bytes that are not UTF-8 cannot be written as text and
// become U+FFFD (a value read from YAML never holds any).
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = utf8_sequence_length(s, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const std::uint32_t cp = decode(s, i, len);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (is_plain_char(cp))
          out.append(s, i, len);
        else
          append_escape(out, cp);
    }
    i += len;
  }
  out += '"';
  return out;
}

std::string text_scalar(const std::string& s) { return fits_plain(s) ? s : quoted(s); }

std::string scalar(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::None: return "null";
    case Value::Kind::Bool: return v.as_bool() ? "true" : "false";
    case Value::Kind::Int: return v.int_text();
    case Value::Kind::Float: {
      const double d = v.as_float();
      if (std::isnan(d)) return ".nan";
      if (std::isinf(d)) return d < 0 ? "-.inf" : ".inf";
      return format_float(d);
    }
    case Value::Kind::Str: return text_scalar(v.as_str());
    case Value::Kind::List:
    case Value::Kind::Tuple: return "[]";  // empty ones; others are blocks
    case Value::Kind::Dict: return "{}";
    case Value::Kind::Object: break;
  }
  throw TypeError("cannot write a " + v.type_name() + " object to YAML");
}

bool is_block(const Value& v) {
  return (v.is_sequence() && !v.as_list().empty()) || (v.is_dict() && !v.as_dict().empty());
}

void write_block(std::string& out, const Value& v, std::size_t indent, bool first_inline);

// What follows "key:" or "-": a scalar on the same line, or a block indented below.
void write_child(std::string& out, const Value& v, std::size_t indent, bool after_dash) {
  if (!is_block(v)) {
    out += ' ';
    out += scalar(v);
    out += '\n';
  } else if (after_dash) {  // "- a: 1" / "- - 1": the block's first line shares the dash's
    out += ' ';
    write_block(out, v, indent + 2, true);
  } else {
    out += '\n';
    write_block(out, v, indent + 2, false);
  }
}

void write_block(std::string& out, const Value& v, std::size_t indent, bool first_inline) {
  bool first = true;
  const auto start_line = [&] {
    if (!(first && first_inline)) out.append(indent, ' ');
    first = false;
  };
  if (v.is_sequence()) {
    for (const Value& item : v.as_list()) {
      start_line();
      out += '-';
      write_child(out, item, indent, true);
    }
    return;
  }
  for (const auto& [k, e] : v.as_dict()) {
    start_line();
    const std::string key = text_scalar(k);
    if (key.size() > kMaxImplicitKey) {
      out += "? " + key + "\n";
      out.append(indent, ' ');
    } else {
      out += key;
    }
    out += ':';
    write_child(out, e, indent, false);
  }
}

}  // namespace

Value parse_yaml(std::string_view text) { return to_value(parse_yaml_tree(text)); }

std::string dump_yaml(const Value& v) {
  std::string out;
  if (is_block(v))
    write_block(out, v, 0, false);
  else
    out = scalar(v) + "\n";
  return out;
}

}  // namespace tovik
