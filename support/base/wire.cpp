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
