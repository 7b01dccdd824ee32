// The tovik settings: sections [tovik], [tovik_api] and [tovik_ui] of pytest.ini in the current
// directory over built-in defaults, each key overridable by an environment variable named after
// section and key in upper case (TOVIK_UI_WAIT_MAX), so secrets need not live in the file.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::settings {

// What a declared key holds; value() converts to it.
enum class Kind { Text, Integer, Number, Boolean };

struct KeyDecl {
  std::string name;
  Kind kind;
  std::string default_value;
};

class Section {
 public:
  // keys: the declared keys with their defaults, in the order keys() lists them.
  Section(std::string name, std::vector<KeyDecl> keys);
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;

  const std::string& name() const { return name_; }

  // Re-reads pytest.ini of the current directory and the environment. When the file cannot be
  // parsed (ValueError) or read (OSError) the section falls back to defaults and environment,
  // and the error is rethrown.
  void reload_settings();

  // Getters load the section on first use. Unknown key -> KeyError; a value that does not
  // convert -> ValueError naming section, key, value and origin.
  std::string text(std::string_view key) const;
  std::int64_t integer(std::string_view key) const;
  double number(std::string_view key) const;
  // true/false, yes/no, on/off, 1/0 in any case.
  bool boolean(std::string_view key) const;
  // Empty means not set.
  std::optional<std::string> optional_text(std::string_view key) const;
  // Comma-separated items, trimmed, empty items dropped.
  std::vector<std::string> list(std::string_view key) const;
  // Converted by the key's declared kind; keys only found in the file are text.
  Value value(std::string_view key) const;
  // "default", "pytest.ini" or "environment TOVIK_X", for messages.
  std::string origin(std::string_view key) const;
  // Declared keys in declared order, then keys only found in the file in file order.
  std::vector<std::string> keys() const;
  // The environment variable that overrides key, e.g. "TOVIK_UI_WAIT_MAX".
  std::string env_name(std::string_view key) const;

 private:
  struct Entry {
    std::string key;
    Kind kind;
    std::string value;
    std::string origin;
  };

  void load() const;
  Entry lookup(std::string_view key) const;
  std::int64_t as_integer(const Entry& e) const;
  double as_number(const Entry& e) const;
  bool as_boolean(const Entry& e) const;
  [[noreturn]] void bad_value(const Entry& e, std::string_view what) const;

  std::string name_;
  std::vector<KeyDecl> declared_;
  mutable std::mutex mutex_;
  mutable bool loaded_ = false;
  mutable std::vector<Entry> entries_;
};

Section& tovik();
Section& tovik_api();
Section& tovik_ui();

// tovik, tovik_api, tovik_ui in this order; every section is reloaded even when an earlier one
// fails, and the first failure is rethrown.
void reload_all();

}  // namespace tovik::settings
