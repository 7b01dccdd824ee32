#include "yamlcase/exchange.hpp"

#include "outside/allure/step.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/jsonpath/jsonpath.hpp"
#include "support/regex/regex.hpp"

namespace tovik {

namespace {

std::string default_path(const std::string& path) { return path.empty() ? "FileNotFoundError.yaml" : path; }

// The body parsed as JSON, or the stand-in mapping extraction works on when it is not JSON.
Value parsed_json(const http::Response& resp) {
  try {
    return resp.json();
  } catch (const JsonDecodeError&) {
    return Value(Dict{{"msg", Value(" is not json data")}});
  }
}

// The member an extraction rule names; json was parsed beforehand (or stands in for a non-JSON body).
Value response_member(const http::Response& resp, const Value& json, const std::string& attr) {
  if (attr == "json") return json;
  return resp.member(attr);
}

}  // namespace

Exchange::Exchange(const std::string& path, Value data, bool debug)
    : _debug(debug), _data(std::move(data)), file(default_path(path)) {}

void Exchange::extract(const http::Response& resp, const std::string& var_name, const std::string& attr,
                       const Value& expr, const Value& index) {
  if (!expr.is_str()) throw TypeError("extract() 参数 expr 应为文本，实际为 " + expr.type_name() + ": " + repr(expr));
  if (!index.is_int()) throw TypeError("extract() 参数 index 应为整数，实际为 " + index.type_name() + ": " + repr(index));

  allure::step("提取变量", {}, [&] {
    const Value parsed = parsed_json(resp);

    const std::string& e = expr.as_str();
    Value value;
    if (attr == "str") {
      value = expr;
    } else {
      const Value data = response_member(resp, parsed, attr);
      List results;
      if (!e.empty() && e[0] == '/') {
        // extracts nothing by design
      } else if (!e.empty() && e[0] == '$') {
        if (!data.is_dict())
          throw TypeError("cannot evaluate JSONPath " + repr(expr) + " on a " + data.type_name() + ": a mapping is required");
        results = jsonpath::query(data, e);
      } else {
        results = Regex(e).find_all(str(data));
      }
      if (results.empty()) {
        value = Value("not data");
      } else {
        const auto n = static_cast<std::int64_t>(results.size());
        // an index beyond 64 bits is out of range like any other too large for the matches
        std::int64_t i = index.is_big_int() ? n : index.as_int();
        if (i < 0) i += n;
        if (i < 0 || i >= n)
          throw IndexError("list index out of range: index " + index.int_text() + " of " + std::to_string(n) +
                           " matches");
        value = results[static_cast<std::size_t>(i)];
      }
    }
    publish(var_name, value);
  });
}

void Exchange::extract_member(const http::Response& resp, const std::string& var_name, const std::string& attr) {
  allure::step("提取变量", {}, [&] { publish(var_name, response_member(resp, attr == "json" ? parsed_json(resp) : Value(), attr)); });
}

void Exchange::publish(const std::string& var_name, const Value& value) {
  log::exchange()->debug("{} = {}", var_name, str(value));
  globals.add_globals(Dict{{var_name, value}});
  if (_debug) dump();
}

void Exchange::dump() {
  Dict plain;
  for (const auto& [name, v] : globals.env_globals()) {
    switch (v.kind()) {
      case Value::Kind::Int:
      case Value::Kind::Float:
      case Value::Kind::Str:
      case Value::Kind::Bool:
      case Value::Kind::None: plain.set(name, v); break;
      default: break;
    }
  }
  file.update(plain);
  if (!hold_) return file.save();
  // what a save would have changed in the file: the globals above and what keywords saved
  for (const auto& [name, v] : file.data()) {
    const Value* before = written_.find(name);
    if (!before || !(*before == v)) held_.set(name, v);
  }
  written_ = file.data();
}

}  // namespace tovik
