#include "support/jsonpath/jsonpath.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "support/base/errors.hpp"
#include "support/base/value_json.hpp"

namespace tovik::jsonpath {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const Value& bookstore() {
  static const Value doc = parse_json(R"({
    "store": {
      "book": [
        {"category": "reference", "author": "Nigel Rees", "title": "Sayings of the Century",
         "price": 8.95},
        {"category": "fiction", "author": "Evelyn Waugh", "title": "Sword of Honour",
         "price": 12.99},
        {"category": "fiction", "author": "Herman Melville", "title": "Moby Dick",
         "isbn": "0-553-21311-3", "price": 8.99},
        {"category": "fiction", "author": "J. R. R. Tolkien", "title": "The Lord of the Rings",
         "isbn": "0-395-19395-8", "price": 22.99}
      ],
      "bicycle": {"color": "red", "price": 19.95}
    },
    "expensive": 10
  })");
  return doc;
}

// Matches as compact JSON: exact about kinds (1 vs 1.0 vs true) and order.
std::string q(const Value& doc, std::string_view expr) {
  return dump_json(Value(query(doc, expr)));
}
// Same, on a document given as JSON text.
std::string qj(std::string_view json, std::string_view expr) { return q(parse_json(json), expr); }
std::string books(std::string_view expr) { return q(bookstore(), expr); }

std::string error_of(std::string_view expr) {
  try {
    Path::compile(expr);
  } catch (const ValueError& e) {
    return e.what();
  }
  return "no error";
}

struct Gadget : Object {
  std::string type_name() const override { return "Gadget"; }
};

TEST(JsonPath, ChildByDotAndBracket) {
  EXPECT_EQ(books("$.store.bicycle.color"), R"(["red"])");
  EXPECT_EQ(books("$['store']['bicycle']['color']"), R"(["red"])");
  EXPECT_EQ(books(R"($["store"]["bicycle"].color)"), R"(["red"])");
  EXPECT_EQ(books(" $ .store [ 'bicycle' ] .price "), "[19.95]");
  EXPECT_EQ(books("$"), dump_json(Value(List{bookstore()})));
  EXPECT_EQ(books("$.store.nothing"), "[]");
  EXPECT_EQ(books("$.store.book.author"), "[]");  // a name on an array selects nothing
  EXPECT_EQ(books("$.expensive.x"), "[]");

  EXPECT_EQ(qj(R"({"数据": {"名字": "张三"}})", "$.数据.名字"), R"(["张三"])");
  EXPECT_EQ(qj(R"({"content-type": "json", "a_1": 2})", "$['content-type']"), R"(["json"])");
  EXPECT_EQ(qj(R"({"content-type": "json", "a_1": 2})", "$.content-type"), R"(["json"])");
  EXPECT_EQ(qj(R"({"content-type": "json", "a_1": 2})", "$.a_1"), "[2]");
  EXPECT_EQ(qj(R"({"it's": 1, "say \"hi\"": 2, "a\\b": 3, "é": 4, "😀": 5, "x y": 6})",
               R"($['it\'s', "say \"hi\"", 'a\\b', '\u00e9', '\uD83D\uDE00', 'x y'])"),
            "[1,2,3,4,5,6]");
  EXPECT_EQ(qj(R"({"it's": 1})", R"($["it's"])"), "[1]");
}

TEST(JsonPath, Wildcard) {
  EXPECT_EQ(books("$.store.book[*].author"),
            R"(["Nigel Rees","Evelyn Waugh","Herman Melville","J. R. R. Tolkien"])");
  EXPECT_EQ(books("$.store.book.*.author"), books("$.store.book[*].author"));
  EXPECT_EQ(books("$.store.*"),
            dump_json(Value(List{bookstore().as_dict().at("store").as_dict().at("book"),
                                 bookstore().as_dict().at("store").as_dict().at("bicycle")})));
  EXPECT_EQ(books("$.store.bicycle[*]"), R"(["red",19.95])");
  EXPECT_EQ(books("$.expensive.*"), "[]");

  Value tuple = Value::tuple({Value(1), Value::tuple({Value(2), Value(3)})});
  EXPECT_EQ(q(tuple, "$[*]"), "[1,[2,3]]");
  EXPECT_EQ(q(tuple, "$[1][-1]"), "[3]");

  // objects are leaves: selected as a whole, never looked into
  Dict d{{"g", Value(std::make_shared<Gadget>())}, {"n", Value(1)}};
  const auto all = query(Value(d), "$.*");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_TRUE(all[0].is_object());
  EXPECT_TRUE(query(Value(d), "$.g.*").empty());
  EXPECT_TRUE(query(Value(d), "$.g[0]").empty());
  EXPECT_EQ(query(Value(d), "$..*").size(), 2u);
}

TEST(JsonPath, RecursiveDescentInDocumentOrder) {
  EXPECT_EQ(books("$..author"), books("$.store.book[*].author"));
  EXPECT_EQ(books("$.store..price"), "[8.95,12.99,8.99,22.99,19.95]");
  EXPECT_EQ(books("$..price"), "[8.95,12.99,8.99,22.99,19.95]");
  EXPECT_EQ(books("$..book[2].title"), R"(["Moby Dick"])");
  EXPECT_EQ(books("$..book[-1].title"), R"(["The Lord of the Rings"])");
  EXPECT_EQ(books("$..book[?(@.isbn)].title"), R"(["Moby Dick","The Lord of the Rings"])");
  EXPECT_EQ(books("$..book[?(@.price<10)].title"), R"(["Sayings of the Century","Moby Dick"])");

  // store, expensive, book, bicycle, the 4 books, their 18 fields, the bicycle's 2
  EXPECT_EQ(query(bookstore(), "$..*").size(), 28u);
  EXPECT_EQ(
      qj(R"({"o": {"j": 1, "k": 2}, "a": [5, 3, [{"j": 4}, {"k": 6}]]})", "$..*"),
      R"([{"j":1,"k":2},[5,3,[{"j":4},{"k":6}]],1,2,5,3,[{"j":4},{"k":6}],{"j":4},{"k":6},4,6])");
  // the node itself before what lies under it
  EXPECT_EQ(qj(R"({"a": {"a": {"a": 1}}, "b": {"a": 2}})", "$..a"),
            R"([{"a":{"a":1}},{"a":1},1,2])");
  EXPECT_EQ(qj(R"([[1, [2]], [3]])", "$..[0]"), "[[1,[2]],1,2,3]");
  EXPECT_EQ(qj(R"({"a": [{"b": 1}, {"b": 2, "c": {"b": 3}}]})", "$..['b','c']"),
            R"([1,2,{"b":3},3])");
  EXPECT_EQ(qj(R"({"x": [{"v": 1}, {"v": 5}], "y": {"z": {"v": 7}}})", "$..[?(@.v > 2)].v"),
            "[5,7]");
}

TEST(JsonPath, IndexAndSlice) {
  EXPECT_EQ(books("$..book[0,1].title"), R"(["Sayings of the Century","Sword of Honour"])");
  EXPECT_EQ(books("$..book[:2].title"), books("$..book[0,1].title"));
  EXPECT_EQ(books("$..book[4]"), "[]");
  EXPECT_EQ(books("$..book[-5]"), "[]");
  EXPECT_EQ(books("$..book[(@.length-1)].title"), R"(["The Lord of the Rings"])");
  EXPECT_EQ(books("$..book[( @.length - 4 )].title"), R"(["Sayings of the Century"])");
  EXPECT_EQ(books("$..book[(@.length-5)]"), "[]");
  EXPECT_EQ(books("$..book[(@.length)]"), "[]");

  const char* nested = "[[1, 2], [3, 4, 5], [6]]";
  EXPECT_EQ(qj(nested, "$[1][0]"), "[3]");
  EXPECT_EQ(qj(nested, "$[*][1]"), "[2,4]");
  EXPECT_EQ(qj(nested, "$[-1][-1]"), "[6]");
  EXPECT_EQ(qj(nested, "$[1][1:]"), "[4,5]");

  const char* nums = "[0, 1, 2, 3, 4, 5]";
  EXPECT_EQ(qj(nums, "$[::-1]"), "[5,4,3,2,1,0]");
  EXPECT_EQ(qj(nums, "$[1:4]"), "[1,2,3]");
  EXPECT_EQ(qj(nums, "$[-2:]"), "[4,5]");
  EXPECT_EQ(qj(nums, "$[:-4]"), "[0,1]");
  EXPECT_EQ(qj(nums, "$[::2]"), "[0,2,4]");
  EXPECT_EQ(qj(nums, "$[4:1:-2]"), "[4,2]");
  EXPECT_EQ(qj(nums, "$[:1:-2]"), "[5,3]");
  EXPECT_EQ(qj(nums, "$[-1:-3:-1]"), "[5,4]");
  EXPECT_EQ(qj(nums, "$[3:1]"), "[]");
  EXPECT_EQ(qj(nums, "$[1:3:-1]"), "[]");
  EXPECT_EQ(qj(nums, "$[-100:100]"), "[0,1,2,3,4,5]");
  EXPECT_EQ(qj(nums, "$[100:-100:-1]"), "[5,4,3,2,1,0]");
  EXPECT_EQ(qj(nums, "$[ 1 : 5 : 3 ]"), "[1,4]");
  EXPECT_EQ(qj(nums, "$[-9223372036854775808:9223372036854775807:9223372036854775807]"), "[0]");
  EXPECT_EQ(qj(nums, "$[9223372036854775807::-9223372036854775807]"), "[5]");
  EXPECT_EQ(qj(R"({"a": 1})", "$[0:1]"), "[]");
  EXPECT_EQ(qj(R"({"0": 1})", "$[0]"), "[]");  // indexes select array elements only
}

// The ends of int64 as indexes, offsets and steps select what they mean and nothing undefined
// (the step and offset below overflowed before).
TEST(JsonPath, IndexesAtTheEndsOfInt64) {
  const char* nums = "[0, 1, 2]";
  EXPECT_EQ(qj(nums, "$[::-9223372036854775808]"), "[2]");
  EXPECT_EQ(qj(nums, "$[1::-9223372036854775808]"), "[1]");
  EXPECT_EQ(qj(nums, "$[(@.length+9223372036854775807)]"), "[]");
  EXPECT_EQ(qj(nums, "$[(@.length-9223372036854775807)]"), "[]");
  EXPECT_EQ(qj(nums, "$[-9223372036854775808]"), "[]");
  EXPECT_EQ(qj(nums, "$[9223372036854775807]"), "[]");
}

// Every '..' step or filter can multiply the work by the document's size; past a budget the
// evaluation is a ValueError naming the path, not a run that never ends (these ran for hours).
TEST(JsonPath, RunawayEvaluationIsRefused) {
  const Value deep = parse_json(std::string(300, '[') + std::string(300, ']'));
  for (const char* expr : {"$..*..*..*..*..*", "$..[?(@..[?(@..[?(@..*)])])]"}) {
    try {
      Path::compile(expr).evaluate(deep);
      ADD_FAILURE() << expr << " evaluated";
    } catch (const ValueError& e) {
      EXPECT_THAT(e.what(), StartsWith("JSONPath '" + std::string(expr) + "' visits more than 10000000 nodes"));
    }
  }
  // Copies count too: $..* over 5000 nested lists visits 10000 nodes but would copy 12.5 million.
  Value nested{List{}};
  for (int i = 0; i < 5000; ++i) nested = Value(List{std::move(nested)});
  EXPECT_EQ(Path::compile("$..*").select(nested).size(), 5000u);  // pointers copy nothing
  EXPECT_THROW(Path::compile("$..*").evaluate(nested), ValueError);
  // What real responses ask stays well inside: $..* over 100000 nodes.
  const Value big = parse_json(R"({"items": [)" + [] {
    std::string items;
    for (int i = 0; i < 25000; ++i) items += std::string(i ? "," : "") + R"({"id": 1, "n": [2, 3]})";
    return items;
  }() + "]}");
  EXPECT_EQ(Path::compile("$..*").evaluate(big).size(), 125001u);
}

TEST(JsonPath, UnionKeepsMemberOrder) {
  const char* doc = R"({"a": 1, "b": 2, "c": 3})";
  EXPECT_EQ(qj(doc, "$['c','a']"), "[3,1]");
  EXPECT_EQ(qj(doc, "$['a','a']"), "[1,1]");
  EXPECT_EQ(qj(doc, "$['a', 'nope', \"b\"]"), "[1,2]");
  EXPECT_EQ(qj(doc, "$[0,'b']"), "[2]");
  EXPECT_EQ(qj("[10, 11, 12, 13]", "$[3,0]"), "[13,10]");
  EXPECT_EQ(qj("[10, 11, 12, 13]", "$[0,'b',-1]"), "[10,13]");
  EXPECT_EQ(qj("[10, 11, 12, 13]", "$[-1:, :2]"), "[13,10,11]");
  EXPECT_EQ(qj("[10, 11, 12, 13]", "$[::-2, 0, *]"), "[13,11,10,10,11,12,13]");
  EXPECT_EQ(qj("[10, 11, 12, 13]", "$[?(@ > 11), 0]"), "[12,13,10]");
}

TEST(JsonPath, FilterComparisonsAndLogic) {
  EXPECT_EQ(books("$..book[?@.price<10].title"), books("$..book[?(@.price < 10)].title"));
  EXPECT_EQ(books("$..book[?(@.price <= 8.99)].price"), "[8.95,8.99]");
  EXPECT_EQ(books("$..book[?(@.price >= 12.99)].price"), "[12.99,22.99]");
  EXPECT_EQ(books("$..book[?(@.price > 12.99)].price"), "[22.99]");
  EXPECT_EQ(books("$..book[?(10 > @.price)].price"), "[8.95,8.99]");
  EXPECT_EQ(books("$..book[?(@.price > $.expensive)].title"),
            R"(["Sword of Honour","The Lord of the Rings"])");
  EXPECT_EQ(books("$..book[?(@['price'] > $['expensive'])].price"), "[12.99,22.99]");
  EXPECT_EQ(books("$..book[?(@.category == 'fiction' && @.price < 10)].title"), R"(["Moby Dick"])");
  EXPECT_EQ(books("$..book[?(@.price < 9 || @.price > 20)].price"), "[8.95,8.99,22.99]");
  EXPECT_EQ(books("$..book[?(!@.isbn)].title"), R"(["Sayings of the Century","Sword of Honour"])");
  EXPECT_EQ(books("$..book[?(!(@.price < 10))].price"), "[12.99,22.99]");
  // && binds tighter than ||, ! tighter than &&, parentheses regroup
  EXPECT_EQ(books("$..book[?(@.price > 20 || @.isbn && @.price < 10)].price"), "[8.99,22.99]");
  EXPECT_EQ(books("$..book[?((@.price > 20 || @.isbn) && @.price < 10)].price"), "[8.99]");
  EXPECT_EQ(books("$..book[?(!@.isbn && @.price < 10 || @.price > 20)].price"), "[8.95,22.99]");
  EXPECT_EQ(books("$..book[?(!(@.isbn && @.price < 10))].price"), "[8.95,12.99,22.99]");
  EXPECT_EQ(books("$..book[?(!!@.isbn)].price"), "[8.99,22.99]");
  // over a mapping the filter tests its values
  EXPECT_EQ(books("$.store[?(@.color)].price"), "[19.95]");
  EXPECT_EQ(books("$.store.bicycle[?(@ == 'red')]"), R"(["red"])");
  // the root exists everywhere; a missing root path nowhere
  EXPECT_EQ(query(bookstore(), "$..book[?($.expensive)]").size(), 4u);
  EXPECT_EQ(books("$..book[?($.cheap)]"), "[]");
  // filters nest
  EXPECT_EQ(
      qj(R"([{"tags": ["a", "b"]}, {"tags": ["c"]}, {"tags": []}])", "$[?(@.tags[?(@ == 'b')])]"),
      R"([{"tags":["a","b"]}])");
  EXPECT_EQ(qj(R"([{"a": [{"b": 1}]}, {"a": [{"c": 1}]}])", "$[?(@..b)]"), R"([{"a":[{"b":1}]}])");
  EXPECT_EQ(qj(R"([{"a": [1, 2]}, {"a": [3]}])", "$[?(@.a[1] == 2)]"), R"([{"a":[1,2]}])");
}

TEST(JsonPath, FilterEqualityIsTypeStrict) {
  const char* mixed = R"([1, 1.0, "1", true, false, 0, null, [1], {"a": 1}])";
  EXPECT_EQ(qj(mixed, "$[?(@ == 1)]"), "[1,1.0]");
  EXPECT_EQ(qj(mixed, "$[?(@ == 1.0)]"), "[1,1.0]");
  EXPECT_EQ(qj(mixed, "$[?(@ == '1')]"), R"(["1"])");
  EXPECT_EQ(qj(mixed, R"($[?(@ == "1")])"), R"(["1"])");
  EXPECT_EQ(qj(mixed, "$[?(@ == true)]"), "[true]");
  EXPECT_EQ(qj(mixed, "$[?(@ == false)]"), "[false]");
  EXPECT_EQ(qj(mixed, "$[?(@ == 0)]"), "[0]");
  EXPECT_EQ(qj(mixed, "$[?(@ == null)]"), "[null]");
  EXPECT_EQ(qj(mixed, "$[?(@ != 1)]"), R"(["1",true,false,0,null,[1],{"a":1}])");
  EXPECT_EQ(qj(mixed, "$[?(@ < 2)]"), "[1,1.0,0]");
  EXPECT_EQ(qj(mixed, "$[?(@ <= true)]"), "[]");
  EXPECT_EQ(qj(mixed, "$[?(@ >= null)]"), "[]");
  EXPECT_EQ(qj("[15, 1.5, -2, 0.1]", "$[?(@ == 1.5e1)]"), "[15]");
  EXPECT_EQ(qj("[15, 1.5, -2, 0.1]", "$[?(@ == 15E-1)]"), "[1.5]");
  EXPECT_EQ(qj("[15, 1.5, -2, 0.1]", "$[?(@ == -2)]"), "[-2]");
  EXPECT_EQ(qj("[15, 1.5, -2, 0.1]", "$[?(@ < -1.5)]"), "[-2]");
  EXPECT_EQ(qj("[15, 1.5, -2, 0.1]", "$[?(@ == 1e-1)]"), "[0.1]");
  EXPECT_EQ(qj("[9007199254740993]", "$[?(@ == 9007199254740992)]"), "[]");  // no float rounding
  const char* big = "[12345678901234567890, 12345678901234567891, 1.2345678901234567e19, -99999999999999999999]";
  EXPECT_EQ(qj(big, "$[?(@ == 12345678901234567890)]"), "[12345678901234567890]");
  EXPECT_EQ(qj(big, "$[?(@ > 12345678901234567890)]"), "[12345678901234567891]");
  EXPECT_EQ(qj(big, "$[?(@ < -9223372036854775808)]"), "[-99999999999999999999]");
  const char* words = R"(["apple", "b", "banana", "Z", "é"])";
  EXPECT_EQ(qj(words, "$[?(@ >= 'b')]"), R"(["b","banana","é"])");
  EXPECT_EQ(qj(words, "$[?(@ < 'a')]"), R"(["Z"])");

  // a missing value equals only another missing one, and is not null
  const char* sparse = R"([{"a": null}, {}, {"a": 1, "b": 1},
      {"a": [1, {"x": 2}], "b": [1, {"x": 2}]},
      {"a": {"x": 1, "y": 2}, "b": {"y": 2, "x": 1}}, {"a": [1], "b": [1, 2]}])";
  EXPECT_EQ(qj(sparse, "$[?(@.a == null)]"), R"([{"a":null}])");
  EXPECT_EQ(query(parse_json(sparse), "$[?(@.a != null)]").size(), 5u);
  EXPECT_EQ(qj(sparse, "$[?(@.a == @.b)]"),
            R"([{},{"a":1,"b":1},{"a":[1,{"x":2}],"b":[1,{"x":2}]},)"
            R"({"a":{"x":1,"y":2},"b":{"y":2,"x":1}}])");
  EXPECT_EQ(qj(sparse, "$[?(@.a < @.b)]"), "[]");
  EXPECT_EQ(books("$..book[?(@.isbn != '0-553-21311-3')].price"), "[8.95,12.99,22.99]");

  // tuples compare as arrays
  Dict d{{"a", Value::tuple({Value(1), Value(2)})}, {"b", Value::list({Value(1), Value(2)})}};
  EXPECT_EQ(query(Value(List{Value(d)}), "$[?(@.a == @.b)]").size(), 1u);
}

TEST(JsonPath, CompiledPathIsReusable) {
  const Path p = Path::compile("$..book[?(@.price < $.limit)].title");
  EXPECT_EQ(p.text(), "$..book[?(@.price < $.limit)].title");
  Value doc = bookstore();
  doc.as_dict().set("limit", Value(9));
  EXPECT_EQ(dump_json(Value(p.evaluate(doc))), R"(["Sayings of the Century","Moby Dick"])");
  doc.as_dict().set("limit", Value(100));
  EXPECT_EQ(p.evaluate(doc).size(), 4u);
  const Path copy = p;
  EXPECT_EQ(copy.evaluate(bookstore()).size(), 0u);

  const auto hits = Path::compile("$.store.bicycle.color").select(doc);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0], doc.as_dict().at("store").as_dict().at("bicycle").as_dict().find("color"));
}

TEST(JsonPath, MalformedExpressionsNamePosition) {
  EXPECT_EQ(
      error_of("$.a["),
      "invalid JSONPath '$.a[' at position 4: expected a selector (quoted name, index, slice, "
      "'*', filter '?...' or '(@.length-N)'), found end of expression");
  EXPECT_EQ(error_of("$."),
            "invalid JSONPath '$.' at position 2: expected a name or '*' after '.', found end of "
            "expression");
  EXPECT_EQ(error_of("store"),
            "invalid JSONPath 'store' at position 0: expected '$' at the start, found 's'");
  EXPECT_THAT(error_of("$["),
              StartsWith("invalid JSONPath '$[' at position 2: expected a selector"));
  EXPECT_THAT(
      error_of("$[?(@.a ==)]"),
      StartsWith("invalid JSONPath '$[?(@.a ==)]' at position 10: expected a value to compare"));
  EXPECT_THAT(error_of("$['a"), HasSubstr("at position 2: unclosed quote"));
  EXPECT_THAT(error_of(R"($["a\"])"), HasSubstr("at position 2: unclosed quote"));
  EXPECT_THAT(error_of("$.a)"),
              HasSubstr("at position 3: expected '.', '..' or '[' after a step, found ')'"));
  EXPECT_THAT(error_of("$.a b"), HasSubstr("at position 4: expected '.', '..' or '['"));
  EXPECT_THAT(error_of(""), HasSubstr("at position 0: expected '$'"));
  EXPECT_THAT(error_of("$.."), HasSubstr("at position 3: expected a name, '*' or '[' after '..'"));
  EXPECT_THAT(error_of("$..."), HasSubstr("at position 3: expected a name, '*' or '[' after '..'"));
  EXPECT_THAT(error_of("$[0"), HasSubstr("at position 3: expected ',' or ']'"));
  EXPECT_THAT(error_of("$[0,]"), HasSubstr("at position 4: expected a selector"));
  EXPECT_THAT(error_of("$[abc]"), HasSubstr("at position 2: expected a selector"));
  EXPECT_THAT(error_of("$[1.5]"), HasSubstr("at position 3: expected ',' or ']', found '.'"));
  EXPECT_THAT(error_of("$[-]"), HasSubstr("at position 3: expected digits"));
  EXPECT_THAT(error_of("$[1:2:0]"), HasSubstr("at position 6: slice step cannot be 0"));
  EXPECT_THAT(error_of("$[99999999999999999999]"), HasSubstr("at position 2: index out of range"));
  EXPECT_THAT(error_of(R"($['\q'])"), HasSubstr("at position 3: unknown escape '\\q'"));
  EXPECT_THAT(error_of(R"($['\u12'])"), HasSubstr("at position 3: expected 4 hex digits"));
  EXPECT_THAT(error_of(R"($['\ud800'])"), HasSubstr("at position 3: high surrogate"));
  EXPECT_THAT(error_of(R"($['\udc00'])"), HasSubstr("at position 3: lone low surrogate"));
  EXPECT_THAT(error_of("$[(@.foo)]"), HasSubstr("at position 3: only (@.length-N) is supported"));
  EXPECT_THAT(error_of("$[(@.length*2)]"), HasSubstr("at position 11: only (@.length-N)"));
  EXPECT_THAT(error_of("@.a"), HasSubstr("at position 0: expected '$'"));
  EXPECT_THAT(error_of("$[@.a]"), HasSubstr("at position 2: expected a selector"));
  // positions count characters, not bytes; the found character is shown whole
  EXPECT_THAT(error_of("$.数据[字]"),
              HasSubstr("at position 5: expected a selector (quoted name, "
                        "index, slice, '*', filter '?...' or '(@.length-N)'), found '字'"));
  // an expression holding a single quote is quoted with double quotes
  EXPECT_THAT(error_of("$['it\\'s'"), StartsWith(R"(invalid JSONPath "$['it\\'s'" at position 9)"));
}

TEST(JsonPath, MalformedFilters) {
  EXPECT_THAT(error_of("$[?(@.a = 1)]"), HasSubstr("at position 8: use '==' to compare"));
  EXPECT_THAT(error_of("$[?(@.a == 1)"), HasSubstr("at position 13: expected ',' or ']'"));
  EXPECT_THAT(error_of("$[?(@.a == 1]"), HasSubstr("at position 12: expected ')', found ']'"));
  EXPECT_THAT(error_of("$[?()]"), HasSubstr("at position 4: expected a path"));
  EXPECT_THAT(error_of("$[?]"), HasSubstr("at position 3: expected a path"));
  EXPECT_THAT(error_of("$[?(1)]"), HasSubstr("at position 4: a literal alone is not a test"));
  EXPECT_THAT(error_of("$[?(@.a == maybe)]"), HasSubstr("at position 11: unknown word 'maybe'"));
  EXPECT_THAT(error_of("$[?(@.a == 1.5e)]"),
              HasSubstr("at position 15: expected digits in the exponent"));
  EXPECT_THAT(error_of("$[?(@.a == 1e999)]"), HasSubstr("at position 11: number out of range"));
  EXPECT_THAT(error_of("$[?(@.a & @.b)]"), HasSubstr("at position 8: expected '&&'"));
  EXPECT_THAT(error_of("$[?(@.a | @.b)]"), HasSubstr("at position 8: expected '||'"));
  EXPECT_THAT(error_of("$[?(@.a &&)]"), HasSubstr("at position 10: expected a path"));
  EXPECT_THAT(error_of("$[?(!@.a == 1)]"), HasSubstr("at position 5: '!' negates a test"));
  EXPECT_THAT(error_of("$[?(@..a == 1)]"),
              HasSubstr("at position 4: a compared path must name a single value"));
  EXPECT_THAT(error_of("$[?(1 == @.a[*])]"),
              HasSubstr("at position 9: a compared path must name a single value"));
  EXPECT_THAT(error_of("$[?(@.a == 'x)]"), HasSubstr("at position 11: unclosed quote"));

  std::string deep = "$[?" + std::string(100, '(') + "@.a" + std::string(100, ')') + "]";
  EXPECT_THAT(error_of(deep), HasSubstr("filter nested too deeply"));
  std::string nots = "$[?" + std::string(100, '!') + "@.a]";
  EXPECT_THAT(error_of(nots), HasSubstr("filter nested too deeply"));
  std::string filters;
  for (int i = 0; i < 100; ++i) filters += "@[?";
  EXPECT_THAT(error_of("$[?" + filters + "@" + std::string(100, ']') + "]"),
              HasSubstr("filter nested too deeply"));
  std::string fine = "$[?" + std::string(30, '(') + "@.a" + std::string(30, ')') + "]";
  EXPECT_EQ(error_of(fine), "no error");
}

// Arbitrary text built from JSONPath's own characters: compiling either succeeds or raises
// ValueError, and whatever compiles evaluates.
TEST(JsonPath, ArbitraryInputNeverCrashes) {
  const std::string alphabet = "$@.*[]()?:,'\"\\-019 abx=!<>&|ue";
  std::mt19937 rng(12345);
  const Value doc = bookstore();
  int compiled = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string expr = n % 2 ? "$" : "";
    const int len = static_cast<int>(rng() % 16);
    for (int i = 0; i < len; ++i) expr += alphabet[rng() % alphabet.size()];
    try {
      const Path p = Path::compile(expr);
      p.evaluate(doc);
      ++compiled;
    } catch (const ValueError& e) {
      EXPECT_THAT(e.what(), StartsWith("invalid JSONPath ")) << expr;
    }
  }
  EXPECT_GT(compiled, 100);
}

}  // namespace
}  // namespace tovik::jsonpath
