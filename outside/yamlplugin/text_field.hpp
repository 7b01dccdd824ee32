// One text-field check of a YAML case's response validator: the rules a text must meet (equal to,
// holding, starting or ending with a text, matching a pattern, a length or length range, a number
// within bounds) and the case's own failure message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/base/value.hpp"
#include "support/regex/regex.hpp"

namespace tovik::yamlplugin {

class TextField {
 public:
  // Reads the check named assert_name from the case. assert_data is a mapping of the fields
  //   equals, contains, startswith, endswith  text (numbers and booleans in their text form)
  //   regex                                    pattern found anywhere in the text (^...$ for all)
  //   length, min_length, max_length           non-negative whole numbers, in characters
  //   min_value, max_value                     numbers, inclusive: the text must read as a
  //                                            number within them (a response time in ms)
  //   msg                                      the case's own failure message (optional)
  // or a plain text or number, short for {equals: <its text form>}. A mapping that is no such
  // thing, an unknown field, a field of the wrong kind, a pattern that does not compile or a
  // check without any rule is a TypeError or ValueError naming the check and the field.
  static TextField form_asserts(const std::string& assert_name, const Value& assert_data);

  // Whether the text meets every rule given. A regex over text that is not valid UTF-8 is a
  // ValueError.
  bool validate(const std::string& text) const;

  // {name, then the fields given in the order listed above, msg last}: what log lines and
  // failure messages show.
  Dict to_dict() const;

  const std::string& name() const { return name_; }
  const std::optional<std::string>& msg() const { return msg_; }

 private:
  TextField() = default;

  std::string name_;
  std::optional<std::string> equals_;
  std::optional<std::string> contains_;
  std::optional<std::string> startswith_;
  std::optional<std::string> endswith_;
  std::optional<Regex> regex_;
  std::optional<std::int64_t> length_;
  std::optional<std::int64_t> min_length_;
  std::optional<std::int64_t> max_length_;
  std::optional<double> min_value_;
  std::optional<double> max_value_;
  std::optional<std::string> msg_;
};

}  // namespace tovik::yamlplugin
