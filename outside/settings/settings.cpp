#include "outside/settings/settings.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "outside/settings/ini_reader.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::settings {
namespace {

constexpr std::string_view kFileName = "pytest.ini";

// from_chars takes no leading '+', people write one anyway.
std::string_view drop_plus(std::string_view s) {
  if (s.size() > 1 && s.front() == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
  return s;
}

std::optional<std::int64_t> to_integer(std::string_view s) {
  s = drop_plus(strip_space(s));
  std::int64_t out = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return out;
}

std::optional<double> to_number(std::string_view s) {
  s = drop_plus(strip_space(s));
  double out = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(out))
    return std::nullopt;
  return out;
}

std::optional<bool> to_boolean(std::string_view s) {
  const std::string t = ascii_lower(strip_space(s));
  if (t == "true" || t == "yes" || t == "on" || t == "1") return true;
  if (t == "false" || t == "no" || t == "off" || t == "0") return false;
  return std::nullopt;
}

}  // namespace

Section::Section(std::string name, std::vector<KeyDecl> keys)
    : name_(std::move(name)), declared_(std::move(keys)) {}

void Section::reload_settings() {
  std::lock_guard lock(mutex_);
  load();
}

void Section::load() const {
  std::vector<Entry> fresh;
  fresh.reserve(declared_.size());
  for (const auto& entry : declared_)
    fresh.push_back({entry.name, entry.kind, entry.default_value, "default"});

  std::exception_ptr failure;
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(kFileName, ec);
  if (ec) path = kFileName;
  if (std::filesystem::exists(path, ec)) {
    try {
      for (auto& [key, value] : read_ini_section(path.string(), name_)) {
        auto it = std::find_if(fresh.begin(), fresh.end(),
                               [&key = key](const Entry& e) { return e.key == key; });
        if (it == fresh.end()) {
          fresh.push_back({key, Kind::Text, std::move(value), std::string(kFileName)});
        } else {
          it->value = std::move(value);
          it->origin = kFileName;
        }
      }
    } catch (const Error&) {
      // A broken file is not half applied: defaults stand, the caller hears why.
      failure = std::current_exception();
      fresh.resize(declared_.size());
    }
  }

  for (auto& e : fresh) {
    const std::string var = env_name(e.key);
    if (const char* env = std::getenv(var.c_str())) {
      e.value = env;
      e.origin = "环境变量 " + var;
    }
  }
  entries_ = std::move(fresh);
  loaded_ = true;
  if (failure) std::rethrow_exception(failure);
}

Section::Entry Section::lookup(std::string_view key) const {
  std::lock_guard lock(mutex_);
  if (!loaded_) load();
  for (const auto& e : entries_)
    if (e.key == key) return e;
  std::string known;
  for (const auto& e : entries_) known += (known.empty() ? "" : "、") + e.key;
  throw KeyError("没有配置项 " + name_ + "." + std::string(key) + "（已知：" + known + "）");
}

void Section::bad_value(const Entry& e, std::string_view what) const {
  throw ValueError("配置项 " + name_ + "." + e.key + " = " + repr_text(e.value) + "（来自 " + e.origin + "）不是" +
                   std::string(what));
}

std::string Section::text(std::string_view key) const { return lookup(key).value; }

std::int64_t Section::as_integer(const Entry& e) const {
  if (auto v = to_integer(e.value)) return *v;
  bad_value(e, "整数");
}

double Section::as_number(const Entry& e) const {
  if (auto v = to_number(e.value)) return *v;
  bad_value(e, "数字");
}

bool Section::as_boolean(const Entry& e) const {
  if (auto v = to_boolean(e.value)) return *v;
  bad_value(e, "布尔值（true/false、yes/no、on/off、1/0）");
}

std::int64_t Section::integer(std::string_view key) const { return as_integer(lookup(key)); }
double Section::number(std::string_view key) const { return as_number(lookup(key)); }
bool Section::boolean(std::string_view key) const { return as_boolean(lookup(key)); }

std::optional<std::string> Section::optional_text(std::string_view key) const {
  std::string v = lookup(key).value;
  if (v.empty()) return std::nullopt;
  return v;
}

std::vector<std::string> Section::list(std::string_view key) const {
  const std::string v = lookup(key).value;
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= v.size()) {
    std::size_t end = v.find(',', start);
    if (end == std::string::npos) end = v.size();
    const std::string_view item = strip_space(std::string_view(v).substr(start, end - start));
    if (!item.empty()) out.emplace_back(item);
    start = end + 1;
  }
  return out;
}

Value Section::value(std::string_view key) const {
  const Entry e = lookup(key);
  switch (e.kind) {
    case Kind::Text: return Value(e.value);
    case Kind::Integer: return Value(as_integer(e));
    case Kind::Number: return Value(as_number(e));
    case Kind::Boolean: return Value(as_boolean(e));
  }
  return Value(e.value);
}

std::string Section::origin(std::string_view key) const { return lookup(key).origin; }

std::vector<std::string> Section::keys() const {
  std::lock_guard lock(mutex_);
  if (!loaded_) load();
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.key);
  return out;
}

std::string Section::env_name(std::string_view key) const { return ascii_upper(name_ + "_" + std::string(key)); }

Section& tovik() {
  static Section section("tovik", {
                                      {"allure_path", Kind::Text, "allure"},
                                      {"allure_report", Kind::Text, "./report"},
                                      {"allure_show", Kind::Boolean, "false"},
                                      {"allure_url", Kind::Text, ""},
                                      {"allure_local_port", Kind::Integer, "5000"},
                                      {"qywx_url", Kind::Text, ""},
                                      {"dingding_url", Kind::Text, ""},
                                      {"dingding_secret", Kind::Text, ""},
                                      {"email_server", Kind::Text, ""},
                                      {"email_port", Kind::Integer, "465"},
                                      {"email_account", Kind::Text, ""},
                                      {"email_password", Kind::Text, ""},
                                      {"email_to", Kind::Text, ""},
                                      {"email_encryption", Kind::Text, "ssl"},
                                  });
  return section;
}

Section& tovik_api() {
  static Section section("tovik_api", {
                                          {"base_url", Kind::Text, ""},
                                          {"timeout", Kind::Number, "30"},
                                      });
  return section;
}

Section& tovik_ui() {
  static Section section("tovik_ui", {
                                         {"driver_type", Kind::Text, "chrome"},
                                         {"selenium_grid", Kind::Text, ""},
                                         {"force_click", Kind::Boolean, "false"},
                                         {"wait_max", Kind::Number, "10"},
                                         {"wait_poll", Kind::Number, "0.5"},
                                         {"touch_css", Kind::Text, "border: 2px solid red;"},
                                         {"headless", Kind::Boolean, "true"},
                                         {"chromedriver_path", Kind::Text, ""},
                                         {"chrome_binary", Kind::Text, ""},
                                         {"capabilities", Kind::Text, ""},
                                         {"session_wait", Kind::Number, "300"},
                                     });
  return section;
}

void reload_all() {
  std::exception_ptr first;
  for (Section* s : {&tovik(), &tovik_api(), &tovik_ui()}) {
    try {
      s->reload_settings();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

}  // namespace tovik::settings
