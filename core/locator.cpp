#include "core/locator.hpp"

#include <limits>

#include <utility>
#include <vector>

#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik {

namespace {

// WebDriver's strategies and the ones Appium adds, by the names users write.
const std::pair<const char*, const char*> kStrategies[] = {
    {"ID", "id"},
    {"XPATH", "xpath"},
    {"LINK_TEXT", "link text"},
    {"PARTIAL_LINK_TEXT", "partial link text"},
    {"NAME", "name"},
    {"TAG_NAME", "tag name"},
    {"CLASS_NAME", "class name"},
    {"CSS_SELECTOR", "css selector"},
    {"IOS_PREDICATE", "-ios predicate string"},
    {"IOS_UIAUTOMATION", "-ios uiautomation"},
    {"IOS_CLASS_CHAIN", "-ios class chain"},
    {"ANDROID_UIAUTOMATOR", "-android uiautomator"},
    {"ANDROID_VIEWTAG", "-android viewtag"},
    {"ANDROID_DATA_MATCHER", "-android datamatcher"},
    {"ANDROID_VIEW_MATCHER", "-android viewmatcher"},
    {"WINDOWS_UI_AUTOMATION", "-windows uiautomation"},
    {"ACCESSIBILITY_ID", "accessibility id"},
    {"IMAGE", "-image"},
    {"CUSTOM", "-custom"},
    {"FLUTTER_INTEGRATION_KEY", "-flutter key"},
    {"FLUTTER_INTEGRATION_SEMANTICS_LABEL", "-flutter semantics label"},
    {"FLUTTER_INTEGRATION_TEXT", "-flutter text"},
    {"FLUTTER_INTEGRATION_TEXT_CONTAINING", "-flutter text containing"},
    {"FLUTTER_INTEGRATION_TYPE", "-flutter type"},
};

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) s.replace(pos, from.size(), to);
  return s;
}

const std::string& text_of(const Value& v, const char* what) {
  if (!v.is_str()) throw TypeError("定位器的 " + std::string(what) + " 应为文本，实际为 " + v.type_name() + ": " + repr(v));
  return v.as_str();
}

[[noreturn]] void parse_failure(const std::string& message) {
  log::lexa_utils()->error("{}", message);
  throw ValueError(message);
}

}  // namespace

const char* locator_strategy(std::string_view name) {
  for (const auto& [n, v] : kStrategies)
    if (name == n) return v;
  return nullptr;
}

TovikLocator::TovikLocator(const std::string& locator_str) {
  _escape_source = std::string(_escape_char) + std::string(_split_char);
  _escape_target = "{_tovik_escape_}";
  const std::string text = replace_all(locator_str, _escape_source, _escape_target);
  std::vector<std::string> pieces;
  for (std::size_t start = 0;;) {
    const auto pos = text.find(_split_char, start);
    pieces.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) break;
    start = pos + _split_char.size();
  }
  if (pieces.size() > 0) set_value(Value(std::string(strip_space(pieces[0]))));
  if (pieces.size() > 1) set_by(Value(std::string(strip_space(pieces[1]))));
  if (pieces.size() > 2) set_index(Value(std::string(strip_space(pieces[2]))));
}

void TovikLocator::set_value(const Value& v) {
  _value = replace_all(text_of(v, "value"), _escape_target.empty() ? "{_tovik_escape_}" : _escape_target, _split_char);
}

void TovikLocator::set_by(const Value& v) {
  const std::string& name = text_of(v, "by");
  const char* strategy = locator_strategy(name);
  if (!strategy) parse_failure("定位器解析失败: 未知的维度策略 value=" + tovik::repr(v));
  _by = strategy;
}

void TovikLocator::set_index(const Value& v) {
  const std::string& s = text_of(v, "index");
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
    parse_failure("定位器解析失败: 位置索引不正确 index=" + tovik::repr(v));
  const Value index = Value::integer(s);
  _index_text = index.int_text();
  // no page has that many matches: the lookup waits for them as for any index beyond the matches
  _index = index.is_big_int() ? std::numeric_limits<std::int64_t>::max() : index.as_int();
}

std::string TovikLocator::repr() const {
  return "Locator(value='" + _value + "', by='" + _by + "', index=" + _index_text + ")";
}

}  // namespace tovik
