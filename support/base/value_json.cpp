#include "support/base/value_json.hpp"

#include <charconv>
#include <cmath>
#include <vector>

#include "support/base/errors.hpp"
#include "support/base/utf8.hpp"

namespace tovik {

Value from_json(const Json& j) {
  switch (j.type()) {
    case Json::value_t::null: return Value();
    case Json::value_t::boolean: return Value(j.get<bool>());
    case Json::value_t::number_integer: return Value(static_cast<long long>(j.get<std::int64_t>()));
    case Json::value_t::number_unsigned: {
      const auto u = j.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<long long>(u));
      return Value::integer(std::to_string(u));
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
    case Value::Kind::Int:
      if (!v.is_big_int()) return v.as_int();
      if (v.int_text()[0] != '-' && v.int_text().size() <= 20) {  // may still fit unsigned 64 bits
        std::uint64_t u = 0;
        const std::string digits = v.int_text();
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), u);
        if (ec == std::errc() && end == digits.data() + digits.size()) return u;
      }
      return v.as_float();  // the tree holds no wider integer: the nearest float
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

namespace {

// Builds the value while nlohmann's parser reads the text: no JSON tree in between, and integers
// of any size come through exactly (the parser hands over their text).
class ValueBuilder {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  bool null() { return put(Value()); }
  bool boolean(bool b) { return put(Value(b)); }
  bool number_integer(number_integer_t i) { return put(Value(static_cast<long long>(i))); }
  bool number_unsigned(number_unsigned_t u) {
    return put(u <= static_cast<number_unsigned_t>(INT64_MAX) ? Value(static_cast<long long>(u))
                                                              : Value::integer(std::to_string(u)));
  }
  bool number_float(number_float_t d, const string_t& text) {
    // digits alone, too many for 64 bits, reach here: they are still an integer
    if (text.find_first_of(".eE") == string_t::npos) return put(Value::integer(text));
    return put(Value(d));
  }
  bool string(string_t& s) { return put(Value(std::move(s))); }
  bool binary(binary_t&) { return put(Value()); }  // text holds no binary values
  bool start_object(std::size_t) { return open(Value(Dict{})); }
  bool key(string_t& k) {
    key_ = std::move(k);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Value(List{})); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) {
    // a number beyond double's range (1e400) is nlohmann's out_of_range, not a syntax error
    if (dynamic_cast<const nlohmann::detail::out_of_range*>(&e))
      message_ = std::string("invalid JSON: ") + e.what();
    else
      message_ = "invalid JSON at byte " + std::to_string(position) + ": " + e.what();
    return false;
  }

  Value take() { return std::move(result_); }
  const std::string& message() const { return message_; }

 private:
  struct Open {
    Value container;
    std::string key;  // under which it goes into its parent mapping
  };

  bool put(Value v) {
    if (open_.empty()) {
      result_ = std::move(v);
    } else if (Value& top = open_.back().container; top.is_dict()) {
      top.as_dict().set(std::move(key_), std::move(v));
    } else {
      top.as_list().push_back(std::move(v));
    }
    return true;
  }
  bool open(Value container) {
    open_.push_back({std::move(container), std::move(key_)});
    return true;
  }
  bool close() {
    Open done = std::move(open_.back());
    open_.pop_back();
    key_ = std::move(done.key);
    return put(std::move(done.container));
  }

  std::vector<Open> open_;
  std::string key_;
  Value result_;
  std::string message_;
};

void write_json(const Value& v, std::string& out) {
  switch (v.kind()) {
    case Value::Kind::Int: out += v.int_text(); return;
    case Value::Kind::Str: append_json_text(out, v.as_str()); return;
    case Value::Kind::List:
    case Value::Kind::Tuple: {
      out += '[';
      bool first = true;
      for (const auto& e : v.as_list()) {
        if (!first) out += ',';
        first = false;
        write_json(e, out);
      }
      out += ']';
      return;
    }
    case Value::Kind::Dict: {
      out += '{';
      bool first = true;
      for (const auto& [k, e] : v.as_dict()) {
        if (!first) out += ',';
        first = false;
        append_json_text(out, k);
        out += ':';
        write_json(e, out);
      }
      out += '}';
      return;
    }
    default:  // none, booleans and floats (in their shortest form) as nlohmann writes them
      out += to_json(v).dump();
  }
}

}  // namespace

void append_json_text(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    // a run of characters that go as they are, in one append: most of a report's text
    std::size_t plain = i;
    while (plain < text.size()) {
      const auto c = static_cast<unsigned char>(text[plain]);
      if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
      ++plain;
    }
    out.append(text, i, plain - i);
    if ((i = plain) == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8_sequence_length(text, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD
        ++i;
      } else {
        out.append(text, i, n);
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    ++i;
  }
  out += '"';
}

Value parse_json(std::string_view text) {
  check_depth(text);
  ValueBuilder builder;
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) throw JsonDecodeError(builder.message());
  return builder.take();
}

std::string dump_json(const Value& v) {
  std::string out;
  write_json(v, out);
  return out;
}

}  // namespace tovik
