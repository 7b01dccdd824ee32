#include "runner/variables.hpp"

#include "support/base/printable.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::runner {

namespace {

// A name is anything but blanks, braces, quotes, colons and commas: enough for Chinese names and
// dotted ones, while JSON objects never look like a reference.
bool name_char(unsigned char c) {
  return !(c == '{' || c == '}' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"' || c == '\'' ||
           c == ':' || c == ',');
}

// Position of the closing brace when s[open] starts a reference, else npos.
std::size_t reference_end(const std::string& s, std::size_t open) {
  std::size_t i = open + 1;
  while (i < s.size() && name_char(static_cast<unsigned char>(s[i]))) ++i;
  if (i == open + 1 || i >= s.size() || s[i] != '}') return std::string::npos;
  return i;
}

}  // namespace

VariableLookup run_variables(const Exchange& exchanger) {
  return [&exchanger](const std::string& name) -> const Value* {
    if (const Value* v = exchanger.globals.env_globals().find(name)) return v;
    return exchanger.file.find(name);
  };
}

Value resolve(const Value& arg, const VariableLookup& lookup) {
  if (arg.is_list() || arg.is_tuple()) {
    List items;
    for (const auto& v : arg.as_list()) items.push_back(resolve(v, lookup));
    return arg.is_tuple() ? Value::tuple(std::move(items)) : Value(std::move(items));
  }
  if (arg.is_dict()) {
    Dict d;
    for (const auto& [k, v] : arg.as_dict()) d.set(k, resolve(v, lookup));
    return Value(std::move(d));
  }
  if (!arg.is_str()) return arg;
  const std::string& s = arg.as_str();
  if (s.find('{') == std::string::npos) return arg;

  if (s.front() == '{' && reference_end(s, 0) == s.size() - 1) {
    if (const Value* v = lookup(s.substr(1, s.size() - 2))) return *v;
    return arg;
  }
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '{') {
      const std::size_t end = reference_end(s, i);
      if (end != std::string::npos) {
        if (const Value* v = lookup(s.substr(i + 1, end - i - 1))) {
          out += str(*v);
          i = end + 1;
          continue;
        }
      }
    }
    out += s[i++];
  }
  return Value(std::move(out));
}

}  // namespace tovik::runner
