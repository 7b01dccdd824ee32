#include "support/base/value_yaml.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <regex>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik {

namespace {

bool parse_int(const std::string& s, long long& out) {
  static const std::regex dec("[-+]?[0-9]+"), oct("0o[0-7]+"), hex("0x[0-9a-fA-F]+");
  const char* b = s.data();
  const char* e = s.data() + s.size();
  int base = 10;
  if (std::regex_match(s, dec)) {
    if (*b == '+') ++b;
  } else if (std::regex_match(s, oct)) {
    b += 2;
    base = 8;
  } else if (std::regex_match(s, hex)) {
    b += 2;
    base = 16;
  } else {
    return false;
  }
  auto res = std::from_chars(b, e, out, base);
  return res.ec == std::errc() && res.ptr == e;
}

bool parse_float(const std::string& s, double& out) {
  static const std::regex num(R"([-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?)");
  static const std::regex inf(R"([-+]?\.(inf|Inf|INF))"), nan(R"(\.(nan|NaN|NAN))");
  if (std::regex_match(s, inf)) {
    out = s[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (std::regex_match(s, nan)) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (!std::regex_match(s, num)) return false;
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

Value from_yaml(const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Undefined:
    case YAML::NodeType::Null: return Value();
    case YAML::NodeType::Scalar:
      // "!" marks a quoted scalar (or an explicit "!" tag): always a text.
      if (node.Tag() == "!" || node.Tag() == "tag:yaml.org,2002:str") return Value(node.Scalar());
      return resolve_plain_scalar(node.Scalar());
    case YAML::NodeType::Sequence: {
      List items;
      for (const auto& e : node) items.push_back(from_yaml(e));
      return Value(std::move(items));
    }
    case YAML::NodeType::Map: {
      Dict d;
      for (const auto& kv : node) d.set(kv.first.as<std::string>(), from_yaml(kv.second));
      return Value(std::move(d));
    }
  }
  return Value();
}

namespace {

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
    case Value::Kind::Str: {
      const std::string& s = v.as_str();
      // A text that a reader would take for another kind must stay a text.
      if (!resolve_plain_scalar(s).is_str()) out << YAML::DoubleQuoted << s;
      else out << s;
      break;
    }
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
        if (!resolve_plain_scalar(k).is_str()) out << YAML::DoubleQuoted;
        out << k << YAML::Value;
        emit(out, e);
      }
      out << YAML::EndMap;
      break;
    case Value::Kind::Object:
      throw TypeError("cannot write a " + v.type_name() + " object to YAML");
  }
}

}  // namespace

YAML::Node to_yaml(const Value& v) { return YAML::Load(dump_yaml(v)); }

Value parse_yaml(std::string_view text) {
  try {
    return from_yaml(YAML::Load(std::string(text)));
  } catch (const YAML::Exception& e) {
    throw ValueError("invalid YAML at line " + std::to_string(e.mark.line + 1) + ", column " +
                     std::to_string(e.mark.column + 1) + ": " + e.msg);
  }
}

std::string dump_yaml(const Value& v) {
  YAML::Emitter out;
  emit(out, v);
  if (!out.good()) throw ValueError("cannot write YAML: " + out.GetLastError());
  std::string s = out.c_str();
  if (!s.empty() && s.back() != '\n') s += '\n';
  return s;
}

}  // namespace tovik
