// Value <-> YAML text. Plain scalars are typed by the YAML 1.2 core schema; quoted ones stay texts.
#pragma once

#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik {

// Parses one YAML document (yaml_tree.hpp); malformed text is a YamlSyntaxError, a ValueError
// naming line and column.
Value parse_yaml(std::string_view text);
// Block-style YAML text that parse_yaml reads back as the same value (tuples as lists). Texts
// that would read back as another kind, or that hold characters a reader folds or refuses, are
// double-quoted with escapes; bytes that are not UTF-8 are written as U+FFFD. An object is a
// TypeError.
std::string dump_yaml(const Value& v);

// The kind a plain (unquoted) scalar stands for.
Value resolve_plain_scalar(const std::string& s);

}  // namespace tovik
