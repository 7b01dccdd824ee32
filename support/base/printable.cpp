#include "support/base/printable.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "support/base/utf8.hpp"

namespace tovik {

namespace {

void append_hex(std::string& out, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", value);
  out += buf;
}

void repr_into(std::string& out, const Value& v);

void repr_items(std::string& out, const List& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    repr_into(out, items[i]);
  }
}

void repr_into(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::None: out += "None"; break;
    case Value::Kind::Bool: out += v.as_bool() ? "True" : "False"; break;
    case Value::Kind::Int: out += v.int_text(); break;
    case Value::Kind::Float: out += format_float(v.as_float()); break;
    case Value::Kind::Str: out += repr_text(v.as_str()); break;
    case Value::Kind::List:
      out += '[';
      repr_items(out, v.as_list());
      out += ']';
      break;
    case Value::Kind::Tuple:
      out += '(';
      repr_items(out, v.as_list());
      if (v.as_list().size() == 1) out += ',';
      out += ')';
      break;
    case Value::Kind::Dict: {
      out += '{';
      bool first = true;
      for (const auto& [key, value] : v.as_dict()) {
        if (!first) out += ", ";
        first = false;
        out += repr_text(key);
        out += ": ";
        repr_into(out, value);
      }
      out += '}';
      break;
    }
    case Value::Kind::Object: out += v.as_object()->repr(); break;
  }
}

}  // namespace

std::string repr_text(std::string_view s) {
  const bool has_single = s.find('\'') != std::string_view::npos;
  const bool has_double = s.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out;
  out.reserve(s.size() + 2);
  out += quote;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = utf8_sequence_length(s, i);
    if (n == 0) {  // a stray byte: show it rather than pass broken UTF-8 on
      append_hex(out, c);
      ++i;
      continue;
    }
    if (n == 1) {
      if (c == '\\') out += "\\\\";
      else if (c == static_cast<unsigned char>(quote)) (out += '\\') += quote;
      else if (c == '\n') out += "\\n";
      else if (c == '\r') out += "\\r";
      else if (c == '\t') out += "\\t";
      else if (c < 0x20 || c == 0x7F) append_hex(out, c);
      else out += static_cast<char>(c);
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      // C1 control characters U+0080..U+009F
      append_hex(out, static_cast<unsigned char>(s[i + 1]));
    } else {
      out.append(s.substr(i, n));
    }
    i += n;
  }
  out += quote;
  return out;
}

std::string format_float(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  // Shortest round-trip digits in scientific form, then laid out as Python's repr does.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  const auto e_pos = sci.find('e');
  std::string mantissa = sci.substr(0, e_pos);
  const int exponent = std::atoi(sci.c_str() + e_pos + 1);
  const bool negative = !mantissa.empty() && mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  const std::string sign = negative ? "-" : "";
  std::string digits;
  for (char ch : mantissa)
    if (ch != '.') digits += ch;

  std::string out = sign;
  if (exponent >= -4 && exponent < 16) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    } else {
      const auto int_len = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= int_len) {
        out += digits;
        out.append(int_len - digits.size(), '0');
        out += ".0";
      } else {
        out += digits.substr(0, int_len);
        out += '.';
        out += digits.substr(int_len);
      }
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  char exp_buf[16];
  std::snprintf(exp_buf, sizeof exp_buf, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  out += exp_buf;
  return out;
}

std::string repr(const Value& v) {
  std::string out;
  repr_into(out, v);
  return out;
}

std::string str(const Value& v) { return v.is_str() ? v.as_str() : repr(v); }

}  // namespace tovik
