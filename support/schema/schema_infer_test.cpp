#include "support/schema/schema_infer.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/base/errors.hpp"
#include "support/base/value_json.hpp"

namespace tovik::schema {
namespace {

// Compared as JSON text so that key order counts too.
std::string inferred(const Value& sample) { return dump_json(infer(sample)); }
std::string json(std::string_view text) { return dump_json(parse_json(text)); }

struct Driver : Object {
  std::string type_name() const override { return "WebDriver"; }
};

TEST(SchemaInfer, DescribesNestedValues) {
  const Value sample = parse_json(R"({"code": 0, "msg": "ok", "ratio": 1.0, "ok": true,
      "gone": null, "data": {"items": [{"id": 1, "tags": ["a", "b"]}], "empty": []}})");
  EXPECT_EQ(inferred(sample), json(R"({
    "$schema": "https://json-schema.org/draft/2020-12/schema",
    "type": "object",
    "properties": {
      "code": {"type": "integer"},
      "msg": {"type": "string"},
      "ratio": {"type": "number"},
      "ok": {"type": "boolean"},
      "gone": {"type": "null"},
      "data": {"type": "object",
               "properties": {
                 "items": {"type": "array",
                           "items": {"type": "object",
                                     "properties": {"id": {"type": "integer"},
                                                    "tags": {"type": "array",
                                                             "items": {"type": "string"}}},
                                     "required": ["id", "tags"]}},
                 "empty": {"type": "array"}},
               "required": ["items", "empty"]}},
    "required": ["code", "msg", "ratio", "ok", "gone", "data"]})"));

  EXPECT_EQ(inferred(Value("x")),
            json(R"({"$schema": "https://json-schema.org/draft/2020-12/schema", "type": "string"})"));
  EXPECT_EQ(inferred(Value(List{})),
            json(R"({"$schema": "https://json-schema.org/draft/2020-12/schema", "type": "array"})"));
  EXPECT_EQ(inferred(Value(Dict{})), json(R"({"$schema": "https://json-schema.org/draft/2020-12/schema",
      "type": "object", "properties": {}, "required": []})"));
  // A tuple is a list to JSON.
  EXPECT_EQ(inferred(Value::tuple({Value(1), Value(2)})),
            json(R"({"$schema": "https://json-schema.org/draft/2020-12/schema", "type": "array",
                     "items": {"type": "integer"}})"));
}

TEST(SchemaInfer, MergesListElements) {
  const std::string meta = R"("$schema": "https://json-schema.org/draft/2020-12/schema", )";
  // Keys missing from some elements are described but not required; a key's schemas merge.
  EXPECT_EQ(inferred(parse_json(R"([{"a": 1, "b": "x"}, {"c": null, "a": 2.5}, {"a": 3, "b": "y"}])")),
            json("{" + meta + R"("type": "array", "items": {"type": "object",
                "properties": {"a": {"type": "number"}, "b": {"type": "string"},
                               "c": {"type": "null"}},
                "required": ["a"]}})"));
  // Merging goes down through nested objects and lists.
  EXPECT_EQ(inferred(parse_json(R"([{"p": {"x": 1, "l": [1]}}, {"p": {"x": "s", "y": true, "l": []}}])")),
            json("{" + meta + R"("type": "array", "items": {"type": "object",
                "properties": {"p": {"type": "object",
                    "properties": {"x": {"anyOf": [{"type": "integer"}, {"type": "string"}]},
                                   "l": {"type": "array", "items": {"type": "integer"}},
                                   "y": {"type": "boolean"}},
                    "required": ["x", "l"]}},
                "required": ["p"]}})"));
  // Different kinds give anyOf in first-seen order; integer and number are one kind.
  EXPECT_EQ(inferred(parse_json(R"([1, "a", null, 2.5, true, "b", {"k": 1}, [1]])")),
            json("{" + meta + R"("type": "array", "items": {"anyOf": [
                {"type": "number"}, {"type": "string"}, {"type": "null"}, {"type": "boolean"},
                {"type": "object", "properties": {"k": {"type": "integer"}}, "required": ["k"]},
                {"type": "array", "items": {"type": "integer"}}]}})"));
  // A property that is already anyOf takes in a third element's kind without nesting anyOf.
  EXPECT_EQ(inferred(parse_json(R"([{"v": 1}, {"v": "a"}, {"v": 2.5}, {"v": "b"}])")),
            json("{" + meta + R"("type": "array", "items": {"type": "object",
                "properties": {"v": {"anyOf": [{"type": "number"}, {"type": "string"}]}},
                "required": ["v"]}})"));
  // Lists of lists: an empty inner list adds nothing; all empty keeps items out.
  EXPECT_EQ(inferred(parse_json(R"([[], ["a"], [1]])")),
            json("{" + meta + R"("type": "array", "items": {"type": "array",
                "items": {"anyOf": [{"type": "string"}, {"type": "integer"}]}}})"));
  EXPECT_EQ(inferred(parse_json(R"([[], []])")),
            json("{" + meta + R"("type": "array", "items": {"type": "array"}})"));
}

TEST(SchemaInfer, ObjectsCannotBeDescribed) {
  Dict sample{{"data", Value::list({Value(1), Value(std::make_shared<Driver>())})}};
  try {
    infer(Value(sample));
    FAIL() << "no TypeError";
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "cannot infer a JSON schema for WebDriver object at /data/1");
  }
}

}  // namespace
}  // namespace tovik::schema
