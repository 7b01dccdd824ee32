// Locator strings: "value;;by;;index" naming one element for browser and app keywords.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik {

class TovikLocator {
 public:
  static constexpr std::string_view _split_char = ";;";
  static constexpr std::string_view _escape_char = "\\";

  // Fields are stripped; omitted ones keep their defaults (by = xpath, index = 0). "\;;" inside
  // the value stands for ";;". A bad strategy or index is a ValueError (logged at error level).
  explicit TovikLocator(const std::string& locator_str);

  const std::string& value() const { return _value; }
  // Each setter takes a text (anything else is a TypeError) and checks it as parsing does.
  void set_value(const Value& v);
  // The strategy value as the driver protocol spells it, e.g. "xpath", "css selector".
  const std::string& by() const { return _by; }
  // Takes a strategy name such as "XPATH", "ID", "ACCESSIBILITY_ID".
  void set_by(const Value& v);
  // The index, or the largest int64 for one of more digits than 64 bits hold: no lookup finds
  // that many elements.
  std::int64_t index() const { return _index; }
  // The index exactly as a number, e.g. "3" for "003".
  const std::string& index_text() const { return _index_text; }
  // Takes a text of decimal digits, of any length.
  void set_index(const Value& v);

  // Locator(value='//input', by='xpath', index=0)
  std::string repr() const;

 private:
  std::string _by = "xpath";
  std::int64_t _index = 0;
  std::string _index_text = "0";
  std::string _value;
  std::string _escape_source;
  std::string _escape_target;
};

// The strategy value of a name of the strategy table, or null when the name is not in it.
const char* locator_strategy(std::string_view name);

}  // namespace tovik
