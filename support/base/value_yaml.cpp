#include "support/base/value_yaml.hpp"

#include <yaml-cpp/yaml.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
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
  double d = 0;
  if (parse_float(s, d)) return Value(d);
  return Value(s);
}

namespace {

// yaml-cpp writes these as they are, even unquoted, but a YAML reader takes each for a line
// break and folds it away: carriage return, NEL, line and paragraph separator.
bool has_foreign_breaks(std::string_view s) {
  for (const std::string_view b : {"\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"})
    if (s.find(b) != std::string_view::npos) return true;
  return false;
}

// "--- x" or "... x" at the start of a line is a document marker, not a text.
bool starts_with_marker(std::string_view s) {
  return s.substr(0, 3) == "---" || s.substr(0, 3) == "...";
}

// A text (value or key) that reads back as the same text.
void emit_text(YAML::Emitter& out, const std::string& s) {
  if (has_foreign_breaks(s))
    out << YAML::DoubleQuoted << YAML::EscapeNonAscii;  // escaped, so nothing is folded
  else if (!resolve_plain_scalar(s).is_str() || starts_with_marker(s))  // would read back as something else
    out << YAML::DoubleQuoted;
  out << s;
}

void emit(YAML::Emitter& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::None: out << YAML::Null; break;
    case Value::Kind::Bool: out << (v.as_bool() ? "true" : "false"); break;
    case Value::Kind::Int: out << static_cast<long long>(v.as_int()); break;
    case Value::Kind::Float: {
      const double d = v.as_float();
      if (std::isnan(d)) out << ".nan";
      else if (std::isinf(d)) out << (d < 0 ? "-.inf" : ".inf");
      else out << format_float(d);
      break;
    }
    case Value::Kind::Str: emit_text(out, v.as_str()); break;
    case Value::Kind::List:
    case Value::Kind::Tuple:
      out << YAML::BeginSeq;
      for (const auto& e : v.as_list()) emit(out, e);
      out << YAML::EndSeq;
      break;
    case Value::Kind::Dict:
      out << YAML::BeginMap;
      for (const auto& [k, e] : v.as_dict()) {
        out << YAML::Key;
        emit_text(out, k);
        out << YAML::Value;
        emit(out, e);
      }
      out << YAML::EndMap;
      break;
    case Value::Kind::Object:
      throw TypeError("cannot write a " + v.type_name() + " object to YAML");
  }
}

}  // namespace

Value parse_yaml(std::string_view text) { return to_value(parse_yaml_tree(text)); }

std::string dump_yaml(const Value& v) {
  YAML::Emitter out;
  emit(out, v);
  if (!out.good()) throw ValueError("cannot write YAML: " + out.GetLastError());
  std::string s = out.c_str();
  if (!s.empty() && s.back() != '\n') s += '\n';
  return s;
}

}  // namespace tovik
