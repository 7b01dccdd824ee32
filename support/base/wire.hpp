// A compact binary record for handing data between tovik's own processes (a parallel run's
// controller and its workers): texts with their length in front, so any bytes (pictures, logs in
// any encoding) pass unchanged, and integers as fixed eight bytes. Not a file format: both ends
// are the same build.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik {

class WireOut {
 public:
  WireOut& text(std::string_view s);
  WireOut& number(std::int64_t n);
  WireOut& flag(bool b) { return number(b ? 1 : 0); }
  // Any value but an object (TypeError): kinds, big integers and key order kept.
  WireOut& value(const Value& v);
  const std::string& bytes() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads what WireOut wrote, in the same order. ValueError when the record ends early.
class WireIn {
 public:
  explicit WireIn(std::string_view bytes) : in_(bytes) {}
  std::string text();
  std::int64_t number();
  bool flag() { return number() != 0; }
  Value value();
  // A count that must fit what is left (each item takes at least one byte): a damaged record
  // then fails here instead of asking for billions of items.
  std::size_t count();
  bool at_end() const { return in_.empty(); }

 private:
  std::string_view take(std::size_t n);
  std::string_view in_;
};

}  // namespace tovik
