#include "support/http/response.hpp"

#include <cmath>

#include "support/base/errors.hpp"
#include "support/base/text.hpp"
#include "support/base/value_json.hpp"

namespace tovik::http {

std::string Response::repr() const { return "<Response [" + std::to_string(status_code) + "]>"; }

Value Response::json() const { return parse_json(text); }

std::string Response::header(std::string_view name) const {
  for (const auto& [k, v] : headers)
    if (iequals(k, name)) return v;
  return {};
}

Dict Response::header_map() const {
  Dict out;
  for (const auto& [k, v] : headers) {
    Value* existing = nullptr;
    for (auto& [ek, ev] : out)
      if (iequals(ek, k)) existing = &ev;
    if (existing) *existing = Value(existing->as_str() + ", " + v);
    else out.set(k, Value(v));
  }
  return out;
}

Value Response::member(std::string_view name) const {
  if (name == "status_code") return Value(status_code);
  if (name == "reason") return Value(reason);
  if (name == "headers") return Value(header_map());
  if (name == "text") return Value(text);
  if (name == "content") return Value(content);
  if (name == "cookies") return Value(cookies);
  if (name == "url") return Value(url);
  if (name == "elapsed") return Value(elapsed);
  if (name == "elapsed_ms") return Value(static_cast<std::int64_t>(std::llround(elapsed * 1000)));
  if (name == "ok") return Value(ok());
  if (name == "json") return json();
  throw AttributeError("'Response' object has no attribute '" + std::string(name) + "'");
}

}  // namespace tovik::http
