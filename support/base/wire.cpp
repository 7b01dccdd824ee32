#include "support/base/wire.hpp"

#include <cstring>

#include "support/base/errors.hpp"

namespace tovik {

WireOut& WireOut::number(std::int64_t n) {
  char buf[8];
  std::memcpy(buf, &n, sizeof buf);
  out_.append(buf, sizeof buf);
  return *this;
}

WireOut& WireOut::text(std::string_view s) {
  number(static_cast<std::int64_t>(s.size()));
  out_.append(s);
  return *this;
}

WireOut& WireOut::value(const Value& v) {
  number(static_cast<std::int64_t>(v.kind()));
  switch (v.kind()) {
    case Value::Kind::None: break;
    case Value::Kind::Bool: flag(v.as_bool()); break;
    case Value::Kind::Int:
      if (v.is_big_int()) flag(true).text(v.int_text());
      else flag(false).number(v.as_int());
      break;
    case Value::Kind::Float: {
      const double d = v.as_float();
      std::int64_t bits = 0;
      std::memcpy(&bits, &d, sizeof bits);
      number(bits);
      break;
    }
    case Value::Kind::Str: text(v.as_str()); break;
    case Value::Kind::List:
    case Value::Kind::Tuple:
      number(static_cast<std::int64_t>(v.as_list().size()));
      for (const Value& item : v.as_list()) value(item);
      break;
    case Value::Kind::Dict:
      number(static_cast<std::int64_t>(v.as_dict().size()));
      for (const auto& [key, item] : v.as_dict()) {
        text(key);
        value(item);
      }
      break;
    case Value::Kind::Object: throw TypeError("对象 " + v.type_name() + " 无法交给另一个进程");
  }
  return *this;
}

Value WireIn::value() {
  const std::int64_t kind = number();
  switch (static_cast<Value::Kind>(kind)) {
    case Value::Kind::None: return Value();
    case Value::Kind::Bool: return Value(flag());
    case Value::Kind::Int:
      if (flag()) return Value::integer(text());
      return Value(static_cast<long long>(number()));
    case Value::Kind::Float: {
      const std::int64_t bits = number();
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      return Value(d);
    }
    case Value::Kind::Str: return Value(text());
    case Value::Kind::List:
    case Value::Kind::Tuple: {
      List items(count());
      for (Value& item : items) item = value();
      return static_cast<Value::Kind>(kind) == Value::Kind::Tuple ? Value::tuple(std::move(items)) : Value(std::move(items));
    }
    case Value::Kind::Dict: {
      Dict d;
      for (std::size_t n = count(); n > 0; --n) {
        std::string key = text();
        d.set(std::move(key), value());
      }
      return Value(std::move(d));
    }
    default: throw ValueError("数据已损坏：未知的值类型 " + std::to_string(kind));
  }
}

std::string_view WireIn::take(std::size_t n) {
  if (n > in_.size()) throw ValueError("数据不完整：还需 " + std::to_string(n) + " 字节，只剩 " + std::to_string(in_.size()));
  const std::string_view out = in_.substr(0, n);
  in_.remove_prefix(n);
  return out;
}

std::int64_t WireIn::number() {
  std::int64_t n = 0;
  std::memcpy(&n, take(sizeof n).data(), sizeof n);
  return n;
}

std::string WireIn::text() {
  const std::int64_t n = number();
  if (n < 0) throw ValueError("数据已损坏：长度为负");
  return std::string(take(static_cast<std::size_t>(n)));
}

std::size_t WireIn::count() {
  const std::int64_t n = number();
  if (n < 0 || static_cast<std::uint64_t>(n) > in_.size()) throw ValueError("数据已损坏：个数 " + std::to_string(n) + " 超出剩余数据");
  return static_cast<std::size_t>(n);
}

}  // namespace tovik
