#include "support/base/value_json.hpp"

#include <cmath>

#include "support/base/errors.hpp"

namespace tovik {

Value from_json(const Json& j) {
  switch (j.type()) {
    case Json::value_t::null: return Value();
    case Json::value_t::boolean: return Value(j.get<bool>());
    case Json::value_t::number_integer: return Value(static_cast<long long>(j.get<std::int64_t>()));
    case Json::value_t::number_unsigned: {
      const auto u = j.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<long long>(u));
      return Value(static_cast<double>(u));
    }
    case Json::value_t::number_float: return Value(j.get<double>());
    case Json::value_t::string: return Value(j.get<std::string>());
    case Json::value_t::array: {
      List items;
      items.reserve(j.size());
      for (const auto& e : j) items.push_back(from_json(e));
      return Value(std::move(items));
    }
    case Json::value_t::object: {
      Dict d;
      for (auto it = j.begin(); it != j.end(); ++it) d.set(it.key(), from_json(it.value()));
      return Value(std::move(d));
    }
    default: return Value();  // binary and discarded values do not come from text
  }
}

Json to_json(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::None: return nullptr;
    case Value::Kind::Bool: return v.as_bool();
    case Value::Kind::Int: return v.as_int();
    case Value::Kind::Float: return v.as_float();
    case Value::Kind::Str: return v.as_str();
    case Value::Kind::List:
    case Value::Kind::Tuple: {
      Json arr = Json::array();
      for (const auto& e : v.as_list()) arr.push_back(to_json(e));
      return arr;
    }
    case Value::Kind::Dict: {
      Json obj = Json::object();
      for (const auto& [k, e] : v.as_dict()) obj[k] = to_json(e);
      return obj;
    }
    case Value::Kind::Object: break;
  }
  throw TypeError("Object of type " + v.type_name() + " is not JSON serializable");
}

namespace {

// from_json and Value's destructor recurse once per level, so a deeper document (a hostile or
// broken response body) would exhaust the stack; Python's json gives up near the same depth.
constexpr std::size_t kMaxDepth = 1000;

void check_depth(std::string_view text) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth)
        throw JsonDecodeError("invalid JSON at byte " + std::to_string(i) + ": nested deeper than " +
                              std::to_string(kMaxDepth) + " levels");
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
}

}  // namespace

Value parse_json(std::string_view text) {
  check_depth(text);
  try {
    return from_json(Json::parse(text.begin(), text.end()));
  } catch (const Json::parse_error& e) {
    throw JsonDecodeError(std::string("invalid JSON at byte ") + std::to_string(e.byte) + ": " +
                          e.what());
  } catch (const Json::exception& e) {  // a number beyond double's range, e.g. 1e400
    throw JsonDecodeError(std::string("invalid JSON: ") + e.what());
  }
}

std::string dump_json(const Value& v) {
  return to_json(v).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tovik
