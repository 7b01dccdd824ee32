#include "outside/yamlplugin/text_field.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::yamlplugin {

namespace {

constexpr std::string_view kKnownFields =
    "equals, contains, startswith, endswith, regex, length, min_length, max_length, min_value, max_value, msg";
constexpr std::string_view kCheckFields =
    "equals, contains, startswith, endswith, regex, length, min_length, max_length, min_value, max_value";

std::string where(const std::string& assert_name, std::string_view field) {
  return "断言 " + assert_name + " 的字段 " + std::string(field);
}

// Case files write numbers where a text is meant (a status code, an id): compare their text form.
std::string text_of(const std::string& assert_name, std::string_view field, const Value& v) {
  if (v.is_str()) return v.as_str();
  if (v.is_number() || v.is_bool()) return str(v);
  throw TypeError(where(assert_name, field) + " 应为文本，实际为 " + v.type_name() + ": " + repr(v));
}

std::int64_t length_of(const std::string& assert_name, std::string_view field, const Value& v) {
  if (!v.is_int())
    throw TypeError(where(assert_name, field) + " 应为非负整数，实际为 " + v.type_name() + ": " + repr(v));
  if (v.int_text()[0] == '-') throw ValueError(where(assert_name, field) + " 应为非负整数，实际为 " + repr(v));
  // no text is that long: the largest int64 compares the same
  return v.is_big_int() ? std::numeric_limits<std::int64_t>::max() : v.as_int();
}

double bound_of(const std::string& assert_name, std::string_view field, const Value& v) {
  if (!v.is_number() || v.is_bool() || !std::isfinite(v.as_float()))
    throw TypeError(where(assert_name, field) + " 应为数字，实际为 " + v.type_name() + ": " + repr(v));
  return v.as_float();
}

// The number a text reads as in full (blanks around it allowed), or none: "12", "-3.5", "1e3".
std::optional<double> number_in(std::string_view text) {
  text = strip_space(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double d = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(d)) return std::nullopt;
  return d;
}

// Code points, not bytes: a Chinese character counts once. Bytes of broken UTF-8 that are not
// continuation bytes count one each, so any text has a length.
std::int64_t characters(std::string_view text) {
  std::int64_t n = 0;
  for (const unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

TextField TextField::form_asserts(const std::string& assert_name, const Value& assert_data) {
  TextField field;
  field.name_ = assert_name;
  if (assert_data.is_str() || assert_data.is_number() || assert_data.is_bool()) {
    field.equals_ = str(assert_data);
    return field;
  }
  if (!assert_data.is_dict())
    throw TypeError("断言 " + assert_name + " 的内容应为字典（字段到值的映射）或文本，实际为 " + assert_data.type_name() +
                    ": " + repr(assert_data));

  using TextMember = std::optional<std::string> TextField::*;
  using LengthMember = std::optional<std::int64_t> TextField::*;
  static const std::pair<std::string_view, TextMember> texts[] = {
      {"equals", &TextField::equals_},
      {"contains", &TextField::contains_},
      {"startswith", &TextField::startswith_},
      {"endswith", &TextField::endswith_},
  };
  static const std::pair<std::string_view, LengthMember> lengths[] = {
      {"length", &TextField::length_},
      {"min_length", &TextField::min_length_},
      {"max_length", &TextField::max_length_},
  };

  for (const auto& [key, value] : assert_data.as_dict()) {
    bool known = false;
    for (const auto& [name, member] : texts)
      if (key == name) {
        field.*member = text_of(assert_name, key, value);
        known = true;
      }
    for (const auto& [name, member] : lengths)
      if (key == name) {
        field.*member = length_of(assert_name, key, value);
        known = true;
      }
    if (key == "min_value" || key == "max_value") {
      (key == "min_value" ? field.min_value_ : field.max_value_) = bound_of(assert_name, key, value);
      known = true;
    } else if (key == "regex") {
      const std::string pattern = text_of(assert_name, key, value);
      try {
        field.regex_.emplace(pattern);  // compiled here, so a broken pattern fails before any request
      } catch (const ValueError& e) {
        throw ValueError(where(assert_name, key) + " 不是有效的正则表达式: " + e.what());
      }
      known = true;
    } else if (key == "msg") {
      // "msg:" with nothing after it reads as null: no message of the case's own
      if (!value.is_none()) field.msg_ = text_of(assert_name, key, value);
      known = true;
    }
    if (!known)
      throw ValueError("断言 " + assert_name + " 中有未知的字段 " + key + "，可用的字段: " + std::string(kKnownFields));
  }

  if (!field.equals_ && !field.contains_ && !field.startswith_ && !field.endswith_ && !field.regex_ && !field.length_ &&
      !field.min_length_ && !field.max_length_ && !field.min_value_ && !field.max_value_)
    throw ValueError("断言 " + assert_name + " 没有任何检查字段，至少需要其中之一: " + std::string(kCheckFields));
  if (field.min_length_ && field.max_length_ && *field.min_length_ > *field.max_length_)
    throw ValueError("断言 " + assert_name + " 的 min_length (" + std::to_string(*field.min_length_) + ") 大于 max_length (" +
                     std::to_string(*field.max_length_) + ")，没有文本能通过");
  return field;
}

bool TextField::validate(const std::string& text) const {
  if (equals_ && text != *equals_) return false;
  if (contains_ && text.find(*contains_) == std::string::npos) return false;
  if (startswith_ && !starts_with(text, *startswith_)) return false;
  if (endswith_ && !ends_with(text, *endswith_)) return false;
  if (length_ || min_length_ || max_length_) {
    const std::int64_t n = characters(text);
    if (length_ && n != *length_) return false;
    if (min_length_ && n < *min_length_) return false;
    if (max_length_ && n > *max_length_) return false;
  }
  if (min_value_ || max_value_) {
    const std::optional<double> n = number_in(text);
    if (!n || (min_value_ && *n < *min_value_) || (max_value_ && *n > *max_value_)) return false;
  }
  // last: the only rule that can fail on the text itself (broken UTF-8)
  if (regex_ && !regex_->search(text)) return false;
  return true;
}

Dict TextField::to_dict() const {
  Dict out{{"name", Value(name_)}};
  const auto put_text = [&](const char* key, const std::optional<std::string>& v) {
    if (v) out.set(key, Value(*v));
  };
  const auto put_length = [&](const char* key, const std::optional<std::int64_t>& v) {
    if (v) out.set(key, Value(static_cast<long long>(*v)));
  };
  put_text("equals", equals_);
  put_text("contains", contains_);
  put_text("startswith", startswith_);
  put_text("endswith", endswith_);
  if (regex_) out.set("regex", Value(regex_->pattern()));
  put_length("length", length_);
  put_length("min_length", min_length_);
  put_length("max_length", max_length_);
  if (min_value_) out.set("min_value", Value(*min_value_));
  if (max_value_) out.set("max_value", Value(*max_value_));
  put_text("msg", msg_);
  return out;
}

}  // namespace tovik::yamlplugin
