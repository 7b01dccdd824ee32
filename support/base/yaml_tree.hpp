// A YAML document read into a tree whose nodes remember where they were written, for messages
// that name a line. libyaml reads it: case files are read on every run, and libyaml reads them
// several times faster than yaml-cpp. Writing YAML is value_yaml.hpp's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/base/errors.hpp"
#include "support/base/value.hpp"

namespace tovik {

class YamlNode {
 public:
  enum class Kind { Null, Scalar, Sequence, Map };

  Kind kind = Kind::Null;
  std::string scalar;   // a scalar's text
  bool text = false;    // quoted or tagged !!str: a text whatever it looks like
  int line = 1;         // 1-based, where the node begins
  int column = 1;
  std::vector<YamlNode> items;                          // a sequence's items
  std::vector<std::pair<YamlNode, YamlNode>> entries;   // a mapping's keys and values, in order

  // Defined in the .cpp: clang cannot instantiate std::pair<YamlNode, YamlNode> for implicit
  // ones while YamlNode is still incomplete.
  YamlNode();
  YamlNode(const YamlNode&);
  YamlNode(YamlNode&&) noexcept;
  YamlNode& operator=(const YamlNode&);
  YamlNode& operator=(YamlNode&&) noexcept;
  ~YamlNode();

  bool is_null() const { return kind == Kind::Null; }
  bool is_scalar() const { return kind == Kind::Scalar; }
  bool is_sequence() const { return kind == Kind::Sequence; }
  bool is_map() const { return kind == Kind::Map; }
  // The value of the first key whose scalar text is key; null when there is none or this is no
  // mapping.
  const YamlNode* find(std::string_view key) const;
};

// A document that is not YAML: where, and what libyaml found wrong.
class YamlSyntaxError : public ValueError {
 public:
  YamlSyntaxError(int line, int column, std::string problem);
  int line, column;  // 1-based
  std::string problem;
};

// The first document of text; an empty text is a null node. YamlSyntaxError for text that is not
// YAML, for nesting deeper than 256 levels and for aliases that would grow the tree past a
// million nodes (an alias is a copy of the node its anchor names).
YamlNode parse_yaml_tree(std::string_view text);

// The node as a Value: plain scalars typed by the YAML 1.2 core schema (resolve_plain_scalar),
// quoted ones texts, mapping keys in their text form.
Value to_value(const YamlNode& node);

}  // namespace tovik
