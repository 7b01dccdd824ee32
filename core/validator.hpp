// Compares an expected value with an actual one by a named method; constructing it asserts.
#pragma once

#include <string>

#include "support/base/value.hpp"

namespace tovik {

class BaseKeyWord;

class Validator {
 public:
  // Runs "assert_" + assert_name; an unknown name is an AssertionError "未知的断言方法".
  Validator(BaseKeyWord& parent, Value value, std::string assert_name, Value actual_value);

  // a is contained in b: substring of a text, element of a list, key of a mapping.
  static void assert_in(const Value& a, const Value& b);
  // b is contained in a.
  static void assert_contains(const Value& a, const Value& b);
  // a == b; a text never equals a number.
  static void assert_equal(const Value& a, const Value& b);
  // The expression a matches somewhere in the text b.
  static void assert_re(const Value& a, const Value& b);
  // b is valid against the JSON schema inferred from the sample a (texts are parsed as JSON).
  static void assert_scheme(const Value& a, const Value& b);

  BaseKeyWord& parent;
  Value value;
  std::string verify_name;
  Value actual_value;
};

// Python's "a in b" for our values; TypeError when b cannot contain a.
bool contains(const Value& container, const Value& item);

}  // namespace tovik
