#include "support/base/yaml_tree.hpp"

#include <gtest/gtest.h>

#include "support/base/printable.hpp"

namespace tovik {

TEST(YamlTree, NodesKnowWhereTheyWereWritten) {
  const YamlNode root = parse_yaml_tree("# comment\nname: 甲\nsteps:\n  - keyword: a\n    args: [1, '2', \"x\", ~, yes]\n  -\n");
  ASSERT_TRUE(root.is_map());
  EXPECT_EQ(root.line, 2);
  const YamlNode* steps = root.find("steps");
  ASSERT_TRUE(steps && steps->is_sequence());
  ASSERT_EQ(steps->items.size(), 2u);
  EXPECT_EQ(steps->items[0].line, 4);
  EXPECT_EQ(steps->items[0].column, 5);
  EXPECT_TRUE(steps->items[1].is_null());  // "-" with nothing after it
  const YamlNode* args = steps->items[0].find("args");
  ASSERT_TRUE(args);
  EXPECT_EQ(args->items[3].kind, YamlNode::Kind::Null);
  EXPECT_FALSE(args->items[1].is_null());
  // quoted scalars stay texts; plain ones are typed; "yes" is a text in YAML 1.2
  EXPECT_EQ(repr(to_value(*args)), "[1, '2', 'x', None, 'yes']");
  EXPECT_EQ(root.find("nothing"), nullptr);
  EXPECT_EQ(args->find("x"), nullptr);  // no mapping
}

TEST(YamlTree, AnchorsAliasesAndTags) {
  const Value v = to_value(parse_yaml_tree("base: &b {url: /x, n: 1}\nuse: *b\nquoted: !!str 12\nmany: |\n  a\n  b\n"));
  EXPECT_EQ(repr(v), "{'base': {'url': '/x', 'n': 1}, 'use': {'url': '/x', 'n': 1}, 'quoted': '12', 'many': 'a\\nb\\n'}");
  EXPECT_TRUE(parse_yaml_tree("").is_null());
  EXPECT_EQ(repr(to_value(parse_yaml_tree("a: 1\n---\nb: 2\n"))), "{'a': 1}");  // the first document
}

// What is not YAML, or would not fit in memory, is refused where it goes wrong, never a crash.
TEST(YamlTree, BadDocumentsAreSyntaxErrorsWithPlace) {
  try {
    parse_yaml_tree("a: 1\nb: [1, 2\n");
    FAIL();
  } catch (const YamlSyntaxError& e) {
    EXPECT_EQ(e.line, 3);
    EXPECT_EQ(e.problem, "while parsing a flow sequence: did not find expected ',' or ']'");
    EXPECT_STREQ(e.what(), "invalid YAML at line 3, column 1: while parsing a flow sequence: did not find expected ',' or ']'");
  }
  EXPECT_THROW(parse_yaml_tree("a: \xff\xfe\n"), YamlSyntaxError);
  EXPECT_THROW(parse_yaml_tree("a: *nowhere\n"), YamlSyntaxError);
  EXPECT_THROW(parse_yaml_tree(std::string(300, '[') + std::string(300, ']')), YamlSyntaxError);
  EXPECT_NO_THROW(parse_yaml_tree(std::string(200, '[') + std::string(200, ']')));
  // each level doubles the one before: refused long before memory runs out
  std::string bomb = "a0: &a0 [x, x]\n";
  for (int i = 1; i < 30; ++i)
    bomb += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [*a" + std::to_string(i - 1) + ", *a" +
            std::to_string(i - 1) + "]\n";
  EXPECT_THROW(parse_yaml_tree(bomb), YamlSyntaxError);
  EXPECT_THROW(to_value(parse_yaml_tree("? [a]\n: 1\n")), YamlSyntaxError);  // a key that is a list
}

}  // namespace tovik
