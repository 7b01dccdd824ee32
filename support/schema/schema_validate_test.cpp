#include "support/schema/schema.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "support/base/errors.hpp"
#include "support/base/value_json.hpp"

namespace tovik::schema {
namespace {

struct Driver : Object {
  std::string type_name() const override { return "WebDriver"; }
};

using Lines = std::vector<std::string>;

TEST(SchemaValidate, ResponseShape) {
  const Value schema = infer(parse_json(R"({"code": 0, "data": ["a"]})"));
  EXPECT_EQ(validate(schema, parse_json(R"({"code": 5, "data": ["x", "y"], "extra": {"z": 1}})")),
            Lines{});
  EXPECT_EQ(validate(schema, parse_json(R"({"data": [], "code": 1})")), Lines{});
  EXPECT_EQ(validate(schema, Value(Dict{{"code", 1}, {"data", Value::tuple({Value("t")})}})),
            Lines{});

  EXPECT_EQ(validate(schema, parse_json(R"({"data": ["x"]})")),
            Lines{"/: missing required property 'code'"});
  EXPECT_EQ(validate(schema, parse_json(R"({"code": "0", "data": ["x"]})")),
            Lines{"/code: expected type integer, got string"});
  EXPECT_EQ(validate(schema, parse_json(R"({"code": 0, "data": ["x", 1]})")),
            Lines{"/data/1: expected type string, got integer"});
  EXPECT_EQ(validate(schema, parse_json(R"({"code": 0, "data": {"0": "x"}})")),
            Lines{"/data: expected type array, got object"});
  EXPECT_EQ(validate(schema, parse_json("[]")), Lines{"/: expected type object, got array"});

  const Lines both = validate(schema, parse_json(R"({"data": [true]})"));
  EXPECT_EQ(both, (Lines{"/data/0: expected type string, got boolean",
                         "/: missing required property 'code'"}));

  // Path steps are escaped as JSON pointers.
  const Value odd = infer(parse_json(R"({"a/b": {"c~d": 1}})"));
  EXPECT_EQ(validate(odd, parse_json(R"({"a/b": {"c~d": null}})")),
            Lines{"/a~1b/c~0d: expected type integer, got null"});
}

TEST(SchemaValidate, IntegralNumbersAreIntegers) {
  const Value integer = parse_json(R"({"type": "integer"})");
  EXPECT_EQ(validate(integer, Value(1)), Lines{});
  EXPECT_EQ(validate(integer, Value(1.0)), Lines{});
  EXPECT_EQ(validate(integer, Value(-0.0)), Lines{});
  EXPECT_EQ(validate(integer, parse_json("1.0")), Lines{});
  // past 64 bits, still whole, of either sign (python3-jsonschema's verdicts)
  for (const char* whole : {"1e19", "-1e19", "1e300", "-1e300", "123456789012345678901234567890",
                            "-123456789012345678901234567890", "12345678901234567890.5"})
    EXPECT_EQ(validate(integer, parse_json(whole)), Lines{}) << whole;
  EXPECT_EQ(validate(integer, parse_json("1e-5")), Lines{"/: expected type integer, got number"});
  EXPECT_EQ(validate(integer, Value(1.5)), Lines{"/: expected type integer, got number"});
  EXPECT_EQ(validate(integer, Value("1")), Lines{"/: expected type integer, got string"});
  EXPECT_EQ(validate(integer, Value(true)), Lines{"/: expected type integer, got boolean"});

  const Value number = parse_json(R"({"type": "number", "minimum": 1.0})");
  EXPECT_EQ(validate(number, Value(1)), Lines{});
  EXPECT_EQ(validate(number, Value(2.5)), Lines{});
  EXPECT_EQ(validate(number, Value(0.5)).size(), 1u);

  // Deep inside an inferred schema too.
  const Value nested = infer(parse_json(R"({"ids": [1, 2]})"));
  EXPECT_EQ(validate(nested, parse_json(R"({"ids": [3.0, 4]})")), Lines{});
  EXPECT_EQ(validate(nested, parse_json(R"({"ids": [3.25]})")),
            Lines{"/ids/0: expected type integer, got number"});
}

TEST(SchemaValidate, NullAndAlternatives) {
  const Value null = parse_json(R"({"type": "null"})");
  EXPECT_EQ(validate(null, Value()), Lines{});
  EXPECT_EQ(validate(null, Value(0)), Lines{"/: expected type null, got integer"});
  EXPECT_EQ(validate(null, Value("")), Lines{"/: expected type null, got string"});

  const Value nullable = infer(parse_json(R"({"name": [null, "a"]})"));
  EXPECT_EQ(validate(nullable, parse_json(R"({"name": [null, "b", null]})")), Lines{});
  const Lines faults = validate(nullable, parse_json(R"({"name": ["b", 7]})"));
  ASSERT_FALSE(faults.empty());
  EXPECT_EQ(faults.front(), "/name/1: expected type null or string, got integer");
  for (const std::string& line : faults) EXPECT_EQ(line.rfind("/name/1: ", 0), 0u) << line;

  // Only the branch that failed at a path is named there.
  const Value either = parse_json(R"({"anyOf": [{"type": "string"},
      {"type": "object", "properties": {"n": {"type": "integer"}}}]})");
  const Lines mixed = validate(either, parse_json(R"({"n": "x"})"));
  EXPECT_NE(std::find(mixed.begin(), mixed.end(), "/: expected type string, got object"),
            mixed.end());
  EXPECT_NE(std::find(mixed.begin(), mixed.end(), "/n: expected type integer, got string"),
            mixed.end());
}

TEST(SchemaValidate, EachFaultOnceWhereItIs) {
  // Enclosing levels do not repeat a fault that is listed where it happened...
  const Value tuple = parse_json(R"({"items": [{"type": "string"}, {"type": "null"}]})");
  EXPECT_EQ(validate(tuple, parse_json("[1, null, 2]")), Lines{"/0: expected type string, got integer"});
  const Value rest = parse_json(R"({"items": [{"type": "string"}], "additionalItems": {"type": "null"}})");
  EXPECT_EQ(validate(rest, parse_json(R"(["a", null, 2])")), Lines{"/2: expected type null, got integer"});
  // ...but stay when they are all there is to say.
  const Value forbidden = parse_json(R"({"items": {"properties": {"a": false}}})");
  EXPECT_EQ(validate(forbidden, parse_json(R"([{"a": 1}])")),
            Lines{"/0: failed to validate against schema associated with property name 'a'"});

  // Expected types are found through local references and recursion.
  const Value tree = parse_json(R"({"definitions": {"leaf": {"type": "integer"}},
      "anyOf": [{"$ref": "#/definitions/leaf"}, {"type": "array", "items": {"$ref": "#"}}]})");
  EXPECT_EQ(validate(tree, parse_json("[1, [2, 3.0]]")), Lines{});
  const Lines deep = validate(tree, parse_json(R"([1, [2, "x"]])"));
  EXPECT_NE(std::find(deep.begin(), deep.end(), "/1/1: expected type integer or array, got string"),
            deep.end());
}

TEST(SchemaValidate, SchemaAndInstanceProblems) {
  EXPECT_EQ(validate(Value(true), parse_json(R"({"a": 1})")), Lines{});
  EXPECT_EQ(validate(Value(false), Value(1)), Lines{"/: value is not allowed by the schema"});
  // Any "$schema" is accepted; the keywords we write mean the same in both drafts.
  EXPECT_EQ(validate(parse_json(R"({"$schema": "https://example.com/other", "type": "string"})"),
                     Value("s")),
            Lines{});

  auto error_text = [](const Value& schema, const Value& instance) -> std::string {
    try {
      validate(schema, instance);
    } catch (const Error& e) {
      return std::string(e.kind()) + ": " + e.what();
    }
    return "no error";
  };
  EXPECT_EQ(error_text(parse_json(R"({"type": "strin"})"), Value(1)),
            "ValueError: invalid JSON schema: Unrecognised JSON type name 'strin'");
  EXPECT_EQ(error_text(parse_json(R"({"required": "code"})"), Value(Dict{})).rfind("ValueError: ", 0),
            0u);
  EXPECT_EQ(error_text(parse_json(R"({"$ref": "http://example.com/s.json"})"), Value(1))
                .rfind("ValueError: invalid JSON schema", 0),
            0u);
  EXPECT_EQ(error_text(parse_json(R"({"pattern": "("})"), Value("x")).rfind("ValueError: ", 0), 0u);
  // A schema that only ever points back at itself would recurse without end.
  EXPECT_EQ(error_text(parse_json(R"({"anyOf": [{"type": "null"}, {"$ref": "#"}]})"), Value(1)),
            "ValueError: invalid JSON schema: the subschema at / refers back to itself without "
            "stepping into the value");
  EXPECT_EQ(error_text(parse_json(R"({"definitions": {"a": {"allOf": [{"$ref": "#/definitions/b"}]},
                                                      "b": {"not": {"$ref": "#/definitions/a"}}},
                                      "properties": {"p": {"$ref": "#/definitions/a"}}})"),
                       Value(Dict{})),
            "ValueError: invalid JSON schema: the subschema at /definitions/a refers back to itself "
            "without stepping into the value");
  EXPECT_EQ(error_text(Value(5), Value(1)), "TypeError: a JSON schema must be a dict or a bool, not int");
  EXPECT_EQ(error_text(Value(Dict{{"type", Value(std::make_shared<Driver>())}}), Value(1))
                .rfind("TypeError: schema cannot be written as JSON", 0),
            0u);
  EXPECT_EQ(error_text(parse_json(R"({"type": "array"})"),
                       Value::list({Value(std::make_shared<Driver>())})),
            "TypeError: instance cannot be written as JSON: Object of type WebDriver is not JSON "
            "serializable");
}

}  // namespace
}  // namespace tovik::schema
