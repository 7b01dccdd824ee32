#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"
#include "support/base/value_yaml.hpp"

namespace tovik {

TEST(ValueJson, RoundTripKeepsKindsAndOrder) {
  const Value v = parse_json(R"({"z":1,"a":[true,null,1.5,"中文"],"n":{"big":18446744073709551615,"neg":-3}})");
  EXPECT_EQ(repr(v), "{'z': 1, 'a': [True, None, 1.5, '中文'], 'n': {'big': 18446744073709551615, 'neg': -3}}");
  EXPECT_EQ(dump_json(parse_json(R"({"b":2,"a":"中"})")), R"({"b":2,"a":"中"})");
  EXPECT_EQ(dump_json(Value::tuple({Value(1), Value("x")})), R"([1,"x"])");
  EXPECT_TRUE(parse_json("2.0").is_float());
  EXPECT_TRUE(parse_json("2").is_int());
}

// Integers of any size come through JSON exactly, both ways; numbers written with a fraction or an
// exponent stay floats.
TEST(ValueJson, IntegersBeyond64BitsKeepTheirDigits) {
  const Value v = parse_json(R"({"u": 18446744073709551615, "big": -123456789012345678901234567890,
                                 "f": 1e19, "g": 12345678901234567890.0, "max": 9223372036854775807})");
  const Dict& d = v.as_dict();
  EXPECT_TRUE(d.at("u").is_big_int());
  EXPECT_EQ(d.at("big").int_text(), "-123456789012345678901234567890");
  EXPECT_TRUE(d.at("f").is_float());
  EXPECT_TRUE(d.at("g").is_float());
  EXPECT_FALSE(d.at("max").is_big_int());
  EXPECT_EQ(dump_json(v), R"({"u":18446744073709551615,"big":-123456789012345678901234567890,)"
                          R"("f":1e+19,"g":1.2345678901234567e+19,"max":9223372036854775807})");
  EXPECT_EQ(repr(d.at("big")), "-123456789012345678901234567890");
  EXPECT_EQ(to_json(d.at("u")), Json(18446744073709551615ULL));
  EXPECT_EQ(from_json(Json(18446744073709551615ULL)), d.at("u"));
  // texts, nesting and order as before; a repeated key keeps its place and takes the last value
  EXPECT_EQ(dump_json(parse_json(R"({"s": "é\n\"", "b": [1, {"x": 2.5}, []], "e": {}})")),
            R"({"s":"é\n\"","b":[1,{"x":2.5},[]],"e":{}})");
  EXPECT_EQ(dump_json(parse_json(R"({"b": 1, "a": null, "b": true})")), R"({"b":true,"a":null})");
}

// Texts are written as nlohmann writes them where they are UTF-8, and stay valid JSON where not.
TEST(ValueJson, TextsAreEscapedAsJsonAndAlwaysValid) {
  for (const std::string& text : {std::string("plain"), std::string("q\"b\\s/"), std::string("\b\f\n\r\t\x01\x1f\x7f"),
                                 std::string("中文 é 😀"), std::string("nul\0in", 6)}) {
    std::string out;
    append_json_text(out, text);
    EXPECT_EQ(out, Json(text).dump()) << text;
  }
  std::string out;
  append_json_text(out, "a\xff\xc3(b\xed\xa0\x80");  // a stray byte, a cut sequence, a surrogate
  EXPECT_EQ(Json::parse(out).get<std::string>(), "a\uFFFD\uFFFD(b\uFFFD\uFFFD\uFFFD");
}

TEST(ValueJson, MalformedTextIsAJsonDecodeError) {
  EXPECT_THROW(parse_json("{\"a\":"), JsonDecodeError);
  EXPECT_THROW(parse_json(""), JsonDecodeError);
  try {
    parse_json("[1, 2,, 3]");
  } catch (const JsonDecodeError& e) {
    EXPECT_NE(std::string(e.what()).find("byte 7"), std::string::npos) << e.what();
  }
  struct Opaque : Object {
    std::string type_name() const override { return "Opaque"; }
  };
  EXPECT_THROW(to_json(Value(std::make_shared<Opaque>())), TypeError);
}

// Response bodies are not ours: whatever they hold ends as a JsonDecodeError, never as another
// exception or a stack overflow.
TEST(ValueJson, HostileDocumentsAreJsonDecodeErrors) {
  EXPECT_THROW(parse_json("1e400"), JsonDecodeError);
  EXPECT_THROW(parse_json(R"({"boo]k":1e308233720368547.57@b@b547.57@b ]}')"), JsonDecodeError);
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  try {
    parse_json(deep);
    ADD_FAILURE() << "200000 levels accepted";
  } catch (const JsonDecodeError& e) {
    EXPECT_NE(std::string(e.what()).find("nested deeper than 1000 levels"), std::string::npos) << e.what();
  }
  // The limit counts structure only: brackets inside texts and closed ones do not add up.
  EXPECT_NO_THROW(parse_json(std::string(1000, '[') + std::string(1000, ']')));
  const std::string brackets(2000, '[');
  EXPECT_EQ(parse_json("[\"\\\"" + brackets + "\", [[]], [[]]]").as_list()[0].as_str(), "\"" + brackets);
}

TEST(ValueYaml, PlainScalarsAreTypedQuotedOnesStayTexts) {
  const Value v = parse_yaml(
      "a: 1\nb: 1.5\nc: true\nd: ~\ne: '1'\nf: \"true\"\ng: hello\nh: 0x1f\ni: .inf\nj: -2e3\nk:\nl: [1, two]\n");
  EXPECT_EQ(repr(v), "{'a': 1, 'b': 1.5, 'c': True, 'd': None, 'e': '1', 'f': 'true', 'g': 'hello', 'h': 31, "
                     "'i': inf, 'j': -2000.0, 'k': None, 'l': [1, 'two']}");
  EXPECT_THROW(parse_yaml("a: [1,\n"), ValueError);
}

// The core schema's number forms, and the near misses that stay texts.
TEST(ValueYaml, NumberFormsOfTheCoreSchema) {
  const auto kind = [](const char* s) { return repr(resolve_plain_scalar(s)); };
  EXPECT_EQ(kind("+12"), "12");
  EXPECT_EQ(kind("-0"), "0");
  EXPECT_EQ(kind("0o17"), "15");
  EXPECT_EQ(kind("0xFF"), "255");
  EXPECT_EQ(kind("1."), "1.0");
  EXPECT_EQ(kind(".5"), "0.5");
  EXPECT_EQ(kind("-1.5E+2"), "-150.0");
  EXPECT_EQ(kind("+.inf"), "inf");
  EXPECT_EQ(kind("-.Inf"), "-inf");
  EXPECT_EQ(kind(".NaN"), "nan");
  EXPECT_EQ(kind("99999999999999999999"), "99999999999999999999");  // beyond 64 bits, kept exactly
  EXPECT_EQ(kind("-123456789012345678901234567890"), "-123456789012345678901234567890");
  for (const char* text : {"0x", "0o8", "0xg", "1e", "1e+", ".", "-", "+", "1.2.3", "-.nan", "1_000", "12a", " 1", "0b1"})
    EXPECT_TRUE(resolve_plain_scalar(text).is_str()) << text;
}

TEST(ValueYaml, DumpReadsBackToTheSameValue) {
  Dict d{{"num", Value(1)},          {"float", Value(0.1)},     {"big", Value(1e16)},
         {"text_num", Value("42")},  {"text_bool", Value("no")}, {"text_null", Value("null")},
         {"empty", Value("")},       {"none", Value()},         {"colon", Value("a: b")},
         {"multi", Value("x\ny")},   {"中文", Value("值")},     {"list", Value::list({Value(1), Value("2")})},
         {"true", Value(true)}};
  const Value back = parse_yaml(dump_yaml(Value(d)));
  EXPECT_EQ(repr(back), repr(Value(d))) << dump_yaml(Value(d));
}

// Texts that read back changed (line breaks folded into spaces, a document marker, noncharacters
// replaced) or not at all (control characters) while yaml-cpp wrote the YAML; as texts, keys and
// inside blocks, they must read back as they were.
TEST(ValueYaml, DumpKeepsTextsThatReadersTakeForBreaksMarkersOrControls) {
  const std::string long_key(1500, 'k');
  const std::vector<std::string> texts{"tabt\r hee", "a\r\nb\r", "登录\xC2\x85成功", "x\xE2\x80\xA8y\xE2\x80\xA9",
                                       "---  m", "... end", "---", "\x7F\x01", "a\xEF\xBF\xBE" "b\xEF\xBF\xBF",
                                       "\xEF\xB7\x90", "\xEF\xBB\xBFx", "ends:", "a: b # c", "\t", " lead",
                                       "trail ", "\"'\\", long_key};
  for (const std::string& text : texts) {
    for (const Value& v : {Value(text), Value(Dict{{text, Value(text)}}), Value(List{Value(text)}),
                           Value(Dict{{text, Value(List{Value(Dict{{text, Value(1)}})})}})}) {
      const std::string yaml = dump_yaml(v);
      try {
        EXPECT_EQ(repr(parse_yaml(yaml)), repr(v)) << yaml;
      } catch (const ValueError& e) {
        ADD_FAILURE() << repr(v) << " wrote " << yaml << ", which does not read back: " << e.what();
      }
    }
  }
  // Other texts keep their characters as they are, in plain block style.
  const Value tags = Value::list({Value("a"), Value(Dict{{"k", Value(1)}})});
  const Value vars(Dict{{"user", Value(Dict{{"name", Value("张三")}, {"tags", tags}})},
                        {"rows", Value::list({Value::list({Value(1), Value(2.5)}), Value()})},
                        {"empty", Value(List{})}});
  EXPECT_EQ(dump_yaml(vars),
            "user:\n  name: 张三\n  tags:\n    - a\n    - k: 1\n"
            "rows:\n  - - 1\n    - 2.5\n  - null\n"
            "empty: []\n");
  // Bytes that are not UTF-8 cannot be a YAML text.
  EXPECT_EQ(repr(parse_yaml(dump_yaml(Value("a\xFF" "b")))), "'a\xEF\xBF\xBD" "b'");
}

}  // namespace tovik
