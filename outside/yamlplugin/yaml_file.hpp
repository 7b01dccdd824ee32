// A mapping kept in a YAML file: read when opened, written whole by save().
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik::yamlplugin {

class YamlFile {
 public:
  // Reads the file when it exists (a missing file is an empty mapping). A file that is not valid
  // YAML, or whose top level is not a mapping, is a ValueError naming the file: its content is
  // never replaced behind the user's back.
  explicit YamlFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return path_; }
  const Dict& data() const { return data_; }

  Value& operator[](std::string_view name) { return data_[name]; }
  const Value* find(std::string_view name) const { return data_.find(name); }
  void set(std::string name, Value value) { data_.set(std::move(name), std::move(value)); }
  void update(const Dict& entries) { data_.update(entries); }

  // Writes the whole mapping: a temporary file in the same directory, then a rename, so a crash
  // leaves either the old file or the new one. OSError when the directory is not writable.
  void save() const;

 private:
  std::filesystem::path path_;
  Dict data_;
};

}  // namespace tovik::yamlplugin
