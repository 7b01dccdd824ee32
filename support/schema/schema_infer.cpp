#include "support/schema/schema_infer.hpp"

#include <algorithm>
#include <string_view>

#include "support/base/errors.hpp"
#include "support/schema/pointer.hpp"

namespace tovik::schema {

namespace {

constexpr const char* kMetaSchema = "https://json-schema.org/draft/2020-12/schema";

Value typed(const char* type) { return Value(Dict{{"type", type}}); }

bool is_numeric(const std::string& type) { return type == "integer" || type == "number"; }

Value merge_all(const List& schemas);

// Two schemas of the same type, neither an anyOf.
Value merge_same(const Value& a, const Value& b) {
  const Dict& da = a.as_dict();
  const Dict& db = b.as_dict();
  const std::string& type = da.at("type").as_str();
  if (type == "object") {
    Dict properties = da.at("properties").as_dict();
    for (const auto& [key, schema] : db.at("properties").as_dict()) {
      if (Value* mine = properties.find(key)) {
        *mine = merge_all({*mine, schema});
      } else {
        properties.set(key, schema);
      }
    }
    // Required only where every element has the key; keeps the first element's order.
    const List& theirs = db.at("required").as_list();
    List required;
    for (const Value& key : da.at("required").as_list()) {
      if (std::find(theirs.begin(), theirs.end(), key) != theirs.end()) required.push_back(key);
    }
    return Value(Dict{{"type", "object"}, {"properties", properties}, {"required", required}});
  }
  if (type == "array") {
    const Value* ia = da.find("items");
    const Value* ib = db.find("items");
    // An empty list adds nothing to what the items look like.
    if (ia == nullptr && ib == nullptr) return a;
    if (ia == nullptr) return b;
    if (ib == nullptr) return a;
    return Value(Dict{{"type", "array"}, {"items", merge_all({*ia, *ib})}});
  }
  return a;
}

// Adds a schema to the per-type branches of a merge, in first-seen order.
void add_branch(List& branches, const Value& schema) {
  const Dict& s = schema.as_dict();
  if (const Value* any = s.find("anyOf")) {
    for (const Value& branch : any->as_list()) add_branch(branches, branch);
    return;
  }
  const std::string& type = s.at("type").as_str();
  for (Value& branch : branches) {
    const std::string& have = branch.as_dict().at("type").as_str();
    if (have == type) {
      branch = merge_same(branch, schema);
      return;
    }
    if (is_numeric(have) && is_numeric(type)) {
      branch = typed("number");
      return;
    }
  }
  branches.push_back(schema);
}

Value merge_all(const List& schemas) {
  List branches;
  for (const Value& s : schemas) add_branch(branches, s);
  if (branches.size() == 1) return branches.front();
  return Value(Dict{{"anyOf", Value(std::move(branches))}});
}

Value infer_node(const Value& v, const std::string& pointer) {
  switch (v.kind()) {
    case Value::Kind::None: return typed("null");
    case Value::Kind::Bool: return typed("boolean");
    case Value::Kind::Int: return typed("integer");
    case Value::Kind::Float: return typed("number");
    case Value::Kind::Str: return typed("string");
    case Value::Kind::List:
    case Value::Kind::Tuple: {
      const List& items = v.as_list();
      if (items.empty()) return typed("array");
      List schemas;
      schemas.reserve(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) {
        schemas.push_back(infer_node(items[i], pointer + "/" + std::to_string(i)));
      }
      return Value(Dict{{"type", "array"}, {"items", merge_all(schemas)}});
    }
    case Value::Kind::Dict: {
      Dict properties;
      List required;
      for (const auto& [key, item] : v.as_dict()) {
        properties.set(key, infer_node(item, pointer + "/" + pointer_token(key)));
        required.emplace_back(key);
      }
      return Value(Dict{{"type", "object"}, {"properties", properties}, {"required", required}});
    }
    case Value::Kind::Object: break;
  }
  throw TypeError("cannot infer a JSON schema for " + v.type_name() + " object at " +
                  shown_path(pointer));
}

}  // namespace

Value infer(const Value& sample) {
  Dict top{{"$schema", kMetaSchema}};
  top.update(infer_node(sample, "").as_dict());
  return Value(std::move(top));
}

}  // namespace tovik::schema
