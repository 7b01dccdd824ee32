#include "support/base/yaml_tree.hpp"

#include <yaml.h>

#include <map>
#include <memory>

#include "support/base/value_yaml.hpp"

namespace tovik {

namespace {

constexpr std::size_t kMaxDepth = 256;
constexpr std::size_t kMaxNodes = 1000000;

std::size_t count_nodes(const YamlNode& n) {
  std::size_t c = 1;
  for (const auto& i : n.items) c += count_nodes(i);
  for (const auto& [k, v] : n.entries) c += count_nodes(k) + count_nodes(v);
  return c;
}

std::string anchor_of(const yaml_char_t* a) { return a ? reinterpret_cast<const char*>(a) : ""; }

// A container being read, with the key of a mapping entry whose value has not come yet.
struct Frame {
  YamlNode node;
  std::string anchor;
  bool has_key = false;
  YamlNode key;
};

struct Builder {
  std::vector<Frame> stack;
  std::map<std::string, std::pair<YamlNode, std::size_t>> anchors;  // node and its size
  std::size_t nodes = 0;
  bool done = false;
  YamlNode root;

  void add(YamlNode n, const std::string& anchor, std::size_t size) {
    nodes += size;
    if (nodes > kMaxNodes) throw YamlSyntaxError(n.line, n.column, "the document grows past a million nodes");
    if (!anchor.empty()) anchors[anchor] = {n, size};
    if (stack.empty()) {
      root = std::move(n);
      done = true;
      return;
    }
    Frame& top = stack.back();
    if (top.node.is_sequence()) {
      top.node.items.push_back(std::move(n));
    } else if (!top.has_key) {
      top.key = std::move(n);
      top.has_key = true;
    } else {
      top.node.entries.emplace_back(std::move(top.key), std::move(n));
      top.has_key = false;
    }
  }

  void open(YamlNode::Kind kind, const yaml_mark_t& mark, const yaml_char_t* anchor) {
    if (stack.size() >= kMaxDepth)
      throw YamlSyntaxError(static_cast<int>(mark.line) + 1, static_cast<int>(mark.column) + 1,
                            "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
    Frame f;
    f.node.kind = kind;
    f.node.line = static_cast<int>(mark.line) + 1;
    f.node.column = static_cast<int>(mark.column) + 1;
    f.anchor = anchor_of(anchor);
    stack.push_back(std::move(f));
  }

  void close() {
    Frame f = std::move(stack.back());
    stack.pop_back();
    // the container itself counts once; its children were counted as they came
    add(std::move(f.node), f.anchor, 1);
    if (!f.anchor.empty()) anchors[f.anchor].second = count_nodes(anchors[f.anchor].first);
  }
};

}  // namespace

YamlNode::YamlNode() = default;
YamlNode::YamlNode(const YamlNode&) = default;
YamlNode::YamlNode(YamlNode&&) noexcept = default;
YamlNode& YamlNode::operator=(const YamlNode&) = default;
YamlNode& YamlNode::operator=(YamlNode&&) noexcept = default;
YamlNode::~YamlNode() = default;

const YamlNode* YamlNode::find(std::string_view key) const {
  for (const auto& [k, v] : entries)
    if (k.is_scalar() || k.is_null())
      if (k.scalar == key) return &v;
  return nullptr;
}

YamlSyntaxError::YamlSyntaxError(int line_, int column_, std::string problem_)
    : ValueError("invalid YAML at line " + std::to_string(line_) + ", column " + std::to_string(column_) + ": " + problem_),
      line(line_),
      column(column_),
      problem(std::move(problem_)) {}

YamlNode parse_yaml_tree(std::string_view text) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) throw ValueError("cannot start the YAML reader");
  const std::unique_ptr<yaml_parser_t, void (*)(yaml_parser_t*)> guard(&parser, &yaml_parser_delete);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());

  Builder b;
  while (!b.done) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event)) {
      std::string problem = parser.problem ? parser.problem : "unreadable YAML";
      if (parser.context) problem = std::string(parser.context) + ": " + problem;
      throw YamlSyntaxError(static_cast<int>(parser.problem_mark.line) + 1, static_cast<int>(parser.problem_mark.column) + 1,
                            std::move(problem));
    }
    const std::unique_ptr<yaml_event_t, void (*)(yaml_event_t*)> event_guard(&event, &yaml_event_delete);
    const yaml_mark_t& mark = event.start_mark;
    switch (event.type) {
      case YAML_SCALAR_EVENT: {
        YamlNode n;
        n.line = static_cast<int>(mark.line) + 1;
        n.column = static_cast<int>(mark.column) + 1;
        n.scalar.assign(reinterpret_cast<const char*>(event.data.scalar.value), event.data.scalar.length);
        const std::string tag = anchor_of(event.data.scalar.tag);
        n.text = event.data.scalar.style != YAML_PLAIN_SCALAR_STYLE || tag == "tag:yaml.org,2002:str" || tag == "!";
        n.kind = !n.text && resolve_plain_scalar(n.scalar).is_none() ? YamlNode::Kind::Null : YamlNode::Kind::Scalar;
        b.add(std::move(n), anchor_of(event.data.scalar.anchor), 1);
        break;
      }
      case YAML_SEQUENCE_START_EVENT: b.open(YamlNode::Kind::Sequence, mark, event.data.sequence_start.anchor); break;
      case YAML_MAPPING_START_EVENT: b.open(YamlNode::Kind::Map, mark, event.data.mapping_start.anchor); break;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: b.close(); break;
      case YAML_ALIAS_EVENT: {
        const std::string name = anchor_of(event.data.alias.anchor);
        const auto it = b.anchors.find(name);
        if (it == b.anchors.end())
          throw YamlSyntaxError(static_cast<int>(mark.line) + 1, static_cast<int>(mark.column) + 1, "unknown anchor " + name);
        b.add(it->second.first, "", it->second.second);
        break;
      }
      case YAML_STREAM_END_EVENT: b.done = true; break;  // no document: a null root
      default: break;
    }
  }
  return std::move(b.root);
}

Value to_value(const YamlNode& node) {
  switch (node.kind) {
    case YamlNode::Kind::Null: return Value();
    case YamlNode::Kind::Scalar: return node.text ? Value(node.scalar) : resolve_plain_scalar(node.scalar);
    case YamlNode::Kind::Sequence: {
      List items;
      items.reserve(node.items.size());
      for (const auto& i : node.items) items.push_back(to_value(i));
      return Value(std::move(items));
    }
    case YamlNode::Kind::Map: {
      Dict d;
      for (const auto& [k, v] : node.entries) {
        if (!k.is_scalar() && !k.is_null())
          throw YamlSyntaxError(k.line, k.column, "a mapping key must be a scalar, not a list or mapping");
        d.set(k.scalar, to_value(v));
      }
      return Value(std::move(d));
    }
  }
  return Value();
}

}  // namespace tovik
