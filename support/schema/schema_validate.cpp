#include "support/schema/schema_validate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include <nlohmann/json.hpp>
// GCC 12 at -O3 sees overlapping copies in std::string operations inside valijson's own code
// (a false -Wrestrict, GCC bug 105329); the code is not ours to rewrite.
#pragma GCC diagnostic push
#if !defined(__clang__)  // clang has no such warning
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>
#pragma GCC diagnostic pop

#include "support/base/errors.hpp"
#include "support/base/value_json.hpp"
#include "support/schema/pointer.hpp"

namespace tovik::schema {

namespace {

using PlainJson = nlohmann::json;  // the kind valijson's adapter reads

PlainJson to_plain_json(const Value& v, const char* what) {
  try {
    return PlainJson(to_json(v));
  } catch (const TypeError& e) {
    throw TypeError(std::string(what) + " cannot be written as JSON: " + e.what());
  }
}

// Draft 2020-12 counts any number without a fraction as an integer; valijson (draft 7) goes by how
// the number is stored. Storing such numbers as integers makes both agree, and changes nothing
// else: JSON Schema compares numbers by value everywhere. The tree's integers end at 64 bits:
// beyond them (-1e19, 1e300, a 30-digit integer) the nearest one stands in, which keeps the kind
// right; a bound such as minimum then compares with that stand-in (inferred schemas have none).
void normalise_numbers(PlainJson& j) {
  if (j.is_number_float()) {
    const double d = j.get<double>();
    if (!std::isfinite(d) || d != std::trunc(d)) return;
    if (d < -9223372036854775808.0) {
      j = std::numeric_limits<std::int64_t>::min();
    } else if (d < 9223372036854775808.0) {
      j = static_cast<std::int64_t>(d);
    } else if (d < 18446744073709551616.0) {
      j = static_cast<std::uint64_t>(d);
    } else {
      j = std::numeric_limits<std::uint64_t>::max();
    }
    return;
  }
  if (j.is_structured()) {
    for (auto& item : j) normalise_numbers(item);
  }
}

const char* json_type(const PlainJson& j) {
  switch (j.type()) {
    case PlainJson::value_t::null: return "null";
    case PlainJson::value_t::boolean: return "boolean";
    case PlainJson::value_t::number_integer:
    case PlainJson::value_t::number_unsigned: return "integer";
    case PlainJson::value_t::number_float: return "number";
    case PlainJson::value_t::string: return "string";
    case PlainJson::value_t::array: return "array";
    case PlainJson::value_t::object: return "object";
    default: return "unknown";
  }
}

bool has_type(const PlainJson& j, const std::string& type) {
  if (type == "number") return j.is_number();
  if (type == "integer") return j.is_number_integer();
  return type == json_type(j);
}

std::optional<std::size_t> parse_index(const std::string& token) {
  if (token.empty() || token.size() > 18) return std::nullopt;
  std::size_t index = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    index = index * 10 + static_cast<std::size_t>(c - '0');
  }
  return index;
}

// The value at a path of raw tokens, or null when the path leaves the document.
const PlainJson* value_at(const PlainJson& root, const std::vector<std::string>& tokens,
                          std::size_t count) {
  const PlainJson* node = &root;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& t = tokens[i];
    if (node->is_object()) {
      auto it = node->find(t);
      if (it == node->end()) return nullptr;
      node = &*it;
    } else if (node->is_array()) {
      const std::optional<std::size_t> index = parse_index(t);
      if (!index || *index >= node->size()) return nullptr;
      node = &(*node)[*index];
    } else {
      return nullptr;
    }
  }
  return node;
}

// Collects the "type" keywords of every subschema that applies to the value at tokens[depth..].
// valijson reports a failed type check without saying which types it wanted; this finds them.
class ExpectedTypes {
 public:
  ExpectedTypes(const PlainJson& schema, const PlainJson& instance,
                const std::vector<std::string>& tokens)
      : root_(schema), instance_(instance), tokens_(tokens) {}

  std::vector<std::string> collect() {
    visit(root_, 0);
    return types_;
  }

 private:
  void visit(const PlainJson& node, std::size_t depth) {
    // Each subschema once per depth: shared definitions would otherwise be walked again for every
    // way of reaching them.
    if (!node.is_object() || !seen_.insert({&node, depth}).second) return;
    for (const char* key : {"anyOf", "oneOf", "allOf"}) {
      auto it = node.find(key);
      if (it != node.end() && it->is_array()) {
        for (const auto& branch : *it) visit(branch, depth);
      }
    }
    if (auto ref = node.find("$ref"); ref != node.end() && ref->is_string()) {
      const std::string& target = ref->get_ref<const std::string&>();
      if (!target.empty() && target[0] == '#') {
        try {
          const PlainJson::json_pointer pointer(target.substr(1));
          if (root_.contains(pointer)) visit(root_.at(pointer), depth);
        } catch (const std::exception&) {
          // Not a pointer we can follow; valijson has judged it already.
        }
      }
    }
    if (depth == tokens_.size()) {
      add_types(node);
      return;
    }
    const PlainJson* parent = value_at(instance_, tokens_, depth);
    if (parent == nullptr) return;
    const std::string& token = tokens_[depth];
    if (parent->is_object()) {
      auto props = node.find("properties");
      if (props != node.end() && props->is_object() && props->contains(token)) {
        visit((*props)[token], depth + 1);
        return;
      }
      if (auto extra = node.find("additionalProperties"); extra != node.end()) {
        visit(*extra, depth + 1);
      }
    } else if (parent->is_array()) {
      auto items = node.find("items");
      if (items == node.end()) return;
      if (items->is_array()) {
        const std::optional<std::size_t> index = parse_index(token);
        if (!index) return;
        if (*index < items->size()) {
          visit((*items)[*index], depth + 1);
        } else if (auto extra = node.find("additionalItems"); extra != node.end()) {
          visit(*extra, depth + 1);
        }
      } else {
        visit(*items, depth + 1);
      }
    }
  }

  void add_types(const PlainJson& node) {
    auto type = node.find("type");
    if (type == node.end()) return;
    auto add = [&](const PlainJson& t) {
      if (!t.is_string()) return;
      const std::string& name = t.get_ref<const std::string&>();
      if (std::find(types_.begin(), types_.end(), name) == types_.end()) types_.push_back(name);
    };
    if (type->is_array()) {
      for (const auto& t : *type) add(t);
    } else {
      add(*type);
    }
  }

  const PlainJson& root_;
  const PlainJson& instance_;
  const std::vector<std::string>& tokens_;
  std::vector<std::string> types_;
  std::set<std::pair<const PlainJson*, std::size_t>> seen_;
};

// valijson follows "$ref" and the in-place keywords (anyOf, not, ...) by plain recursion, so a
// schema that reaches itself again without stepping into the value overflows the stack, e.g.
// {"anyOf": [{"$ref": "#"}]}. Such a schema never decides anything; refuse it before validating.
class LoopCheck {
 public:
  explicit LoopCheck(const PlainJson& root) : root_(root) {}

  void run() {
    pending_.push_back("");
    while (!pending_.empty()) {
      const std::string at = pending_.back();
      pending_.pop_back();
      explore(at);
    }
  }

 private:
  enum class State { Open, Done };

  const PlainJson* node_at(const std::string& pointer) const {
    try {
      const PlainJson::json_pointer p(pointer);
      return root_.contains(p) ? &root_.at(p) : nullptr;
    } catch (const std::exception&) {
      return nullptr;  // not a pointer; valijson reports it
    }
  }

  void explore(const std::string& at) {
    if (auto it = state_.find(at); it != state_.end()) {
      if (it->second == State::Open) {
        throw ValueError("invalid JSON schema: the subschema at " + shown_path(at) +
                         " refers back to itself without stepping into the value");
      }
      return;
    }
    const PlainJson* node = node_at(at);
    if (node == nullptr || !node->is_object()) {
      state_[at] = State::Done;
      return;
    }
    state_[at] = State::Open;
    for (const char* key : {"allOf", "anyOf", "oneOf"}) {
      if (auto list = node->find(key); list != node->end() && list->is_array()) {
        for (std::size_t i = 0; i < list->size(); ++i) {
          explore(at + "/" + key + "/" + std::to_string(i));
        }
      }
    }
    for (const char* key : {"not", "if", "then", "else"}) {
      if (node->contains(key)) explore(at + "/" + key);
    }
    if (auto deps = node->find("dependencies"); deps != node->end() && deps->is_object()) {
      for (auto it = deps->begin(); it != deps->end(); ++it) {
        if (!it->is_array()) explore(at + "/dependencies/" + pointer_token(it.key()));
      }
    }
    if (auto ref = node->find("$ref"); ref != node->end() && ref->is_string()) {
      const std::string& target = ref->get_ref<const std::string&>();
      if (!target.empty() && target[0] == '#') explore(target.substr(1));
    }
    state_[at] = State::Done;

    // Subschemas of parts of the value: each starts its own search once this one is over.
    for (const char* key : {"additionalProperties", "additionalItems", "contains", "propertyNames"}) {
      if (node->contains(key)) pending_.push_back(at + "/" + key);
    }
    for (const char* key : {"properties", "patternProperties"}) {
      if (auto map = node->find(key); map != node->end() && map->is_object()) {
        for (auto it = map->begin(); it != map->end(); ++it) {
          pending_.push_back(at + "/" + key + "/" + pointer_token(it.key()));
        }
      }
    }
    if (auto items = node->find("items"); items != node->end()) {
      if (items->is_array()) {
        for (std::size_t i = 0; i < items->size(); ++i) {
          pending_.push_back(at + "/items/" + std::to_string(i));
        }
      } else {
        pending_.push_back(at + "/items");
      }
    }
  }

  const PlainJson& root_;
  std::map<std::string, State> state_;
  std::vector<std::string> pending_;
};

struct Fault {
  std::vector<std::string> tokens;  // raw property names and indexes from the root
  std::string pointer;
  std::string description;
};

Fault make_fault(const valijson::ValidationResults::Error& error) {
  Fault f;
  for (const std::string& part : error.context) {
    // valijson writes the root as "<root>" and every step below it as "[name]".
    if (part.size() >= 2 && part.front() == '[' && part.back() == ']') {
      f.tokens.push_back(part.substr(1, part.size() - 2));
      f.pointer += "/" + pointer_token(f.tokens.back());
    }
  }
  f.description = error.description;
  return f;
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Where the fault that a summary message is about sits: "Failed to validate item #3 in array." at
// P is about P/3, "... property name 'x'." about P/x, "... item #3 against corresponding item
// schema." about P itself. Nothing when the message is not such a summary.
std::optional<std::string> summarised_path(const Fault& f) {
  static const std::string item = "Failed to validate item #";
  static const std::string property =
      "Failed to validate against schema associated with property name '";
  const std::string& d = f.description;
  if (starts_with(d, item)) {
    // Only this one is reported at the item itself; the others at the list.
    if (d.find(" against corresponding item schema.") != std::string::npos) return f.pointer;
    const std::size_t end = d.find_first_not_of("0123456789", item.size());
    return f.pointer + "/" + d.substr(item.size(), end - item.size());
  }
  if (starts_with(d, property) && d.size() >= property.size() + 2) {
    return f.pointer + "/" + pointer_token(d.substr(property.size(), d.size() - property.size() - 2));
  }
  if (starts_with(d, "Failed to validate against child schema #")) return f.pointer;
  return std::nullopt;
}

bool is_branch_summary(const std::string& description) {
  return starts_with(description, "Failed to validate against any schemas allowed by anyOf") ||
         starts_with(description, "Failed to validate against exactly one child schema") ||
         starts_with(description, "Failed to validate against any child schemas allowed by oneOf");
}

// valijson repeats every fault at each enclosing level ("Failed to validate item #0 in array.");
// such a line adds nothing when the fault it summarises is listed itself. Indexed by path, as a
// large invalid list gives thousands of faults.
class Redundancy {
 public:
  explicit Redundancy(const std::vector<Fault>& faults) {
    for (const Fault& f : faults) {
      if (!is_branch_summary(f.description)) ++listed_[f.pointer];
    }
  }

  bool operator()(const Fault& f) const {
    const std::optional<std::string> about = summarised_path(f);
    if (!about) return false;
    if (auto it = listed_.find(*about); it != listed_.end()) {
      // f itself is listed at its own path and does not count.
      if (it->second > (f.pointer == *about ? 1 : 0)) return true;
    }
    const std::string below = *about + "/";
    auto it = listed_.lower_bound(below);
    return it != listed_.end() && starts_with(it->first, below);
  }

 private:
  std::map<std::string, int> listed_;
};

std::string sentence(std::string description) {
  if (!description.empty() && description.back() == '.') description.pop_back();
  if (!description.empty() && description[0] >= 'A' && description[0] <= 'Z') {
    description[0] = static_cast<char>(description[0] - 'A' + 'a');
  }
  return description;
}

std::string describe(const Fault& f, const PlainJson& schema, const PlainJson& instance) {
  if (f.description != "Value type not permitted by 'type' constraint.") {
    return sentence(f.description);
  }
  const PlainJson* value = value_at(instance, f.tokens, f.tokens.size());
  if (value == nullptr) return sentence(f.description);
  std::vector<std::string> wanted;
  for (const std::string& t : ExpectedTypes(schema, instance, f.tokens).collect()) {
    // Types the value has belong to other branches that did not fail here.
    if (!has_type(*value, t)) wanted.push_back(t);
  }
  if (wanted.empty()) return sentence(f.description) + ", got " + json_type(*value);
  std::string text = "expected type ";
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (i > 0) text += i + 1 == wanted.size() ? " or " : ", ";
    text += wanted[i];
  }
  return text + ", got " + json_type(*value);
}

}  // namespace

std::vector<std::string> validate(const Value& schema, const Value& instance) {
  if (!schema.is_dict() && !schema.is_bool()) {
    throw TypeError("a JSON schema must be a dict or a bool, not " + schema.type_name());
  }
  PlainJson schema_json = to_plain_json(schema, "schema");
  PlainJson instance_json = to_plain_json(instance, "instance");
  normalise_numbers(schema_json);
  normalise_numbers(instance_json);

  LoopCheck(schema_json).run();

  valijson::Schema parsed;
  try {
    valijson::SchemaParser parser(valijson::SchemaParser::kDraft7);
    const valijson::adapters::NlohmannJsonAdapter adapter(schema_json);
    parser.populateSchema(adapter, parsed);
  } catch (const std::exception& e) {
    throw ValueError(std::string("invalid JSON schema: ") + e.what());
  }

  valijson::ValidationResults results;
  bool valid = false;
  try {
    valijson::Validator validator(valijson::Validator::kStrongTypes);
    const valijson::adapters::NlohmannJsonAdapter target(instance_json);
    valid = validator.validate(parsed, target, &results);
  } catch (const std::exception& e) {
    throw ValueError(std::string("invalid JSON schema: ") + e.what());
  }
  if (valid) return {};

  std::vector<Fault> faults;
  valijson::ValidationResults::Error error;
  while (results.popError(error)) faults.push_back(make_fault(error));

  const Redundancy redundant(faults);
  std::vector<std::string> messages;
  std::set<std::string> seen;
  for (const Fault& f : faults) {
    if (redundant(f)) continue;
    std::string line = shown_path(f.pointer) + ": " + describe(f, schema_json, instance_json);
    if (seen.insert(line).second) messages.push_back(std::move(line));
  }
  // A false schema fails without a word.
  if (messages.empty()) messages.push_back("/: value is not allowed by the schema");
  return messages;
}

}  // namespace tovik::schema
