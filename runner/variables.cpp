#include "runner/variables.hpp"

#include "support/base/errors.hpp"
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

namespace {

// v with each text inside it (in lists, tuples and mapping values; keys stay) replaced by
// text(that text); other values unchanged.
template <class F>
Value map_texts(const Value& v, const F& text) {
  if (v.is_list() || v.is_tuple()) {
    List items;
    items.reserve(v.as_list().size());
    for (const auto& item : v.as_list()) items.push_back(map_texts(item, text));
    return v.is_tuple() ? Value::tuple(std::move(items)) : Value(std::move(items));
  }
  if (v.is_dict()) {
    Dict d;
    for (const auto& [k, item] : v.as_dict()) d.set(k, map_texts(item, text));
    return Value(std::move(d));
  }
  return v.is_str() ? text(v) : v;
}

Value resolve_text(const Value& arg, const VariableLookup& lookup) {
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

std::string template_name(const std::string& s, std::size_t open, std::size_t& close) {
  close = s.find('}', open + 2);
  if (close == std::string::npos) throw ValueError("模板 " + repr_text(s) + " 中的 ${ 没有对应的 }");
  std::string name = s.substr(open + 2, close - open - 2);
  if (name.empty()) throw ValueError("模板 " + repr_text(s) + " 中有空的 ${}");
  return name;
}

const Value& template_value(const std::string& name, const VariableLookup& lookup) {
  if (const Value* v = lookup(name)) return *v;
  throw KeyError("模板变量 ${" + name + "} 未定义（用例变量、提取的变量和变量文件中都没有）");
}

Value expand_text(const Value& v, const VariableLookup& lookup) {
  const std::string& s = v.as_str();
  if (s.find("${") == std::string::npos) return v;

  std::size_t close = 0;
  if (s.rfind("${", 0) == 0) {
    const std::string name = template_name(s, 0, close);
    if (close == s.size() - 1) return template_value(name, lookup);
  }
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (s.compare(i, 3, "$${") == 0) {
      out += "${";
      i += 3;
    } else if (s.compare(i, 2, "${") == 0) {
      const std::string name = template_name(s, i, close);
      out += str(template_value(name, lookup));
      i = close + 1;
    } else {
      out += s[i++];
    }
  }
  return Value(std::move(out));
}

}  // namespace

Value resolve(const Value& arg, const VariableLookup& lookup) {
  return map_texts(arg, [&](const Value& text) { return resolve_text(text, lookup); });
}

Value expand_templates(const Value& v, const VariableLookup& lookup) {
  return map_texts(v, [&](const Value& text) { return expand_text(text, lookup); });
}

}  // namespace tovik::runner
