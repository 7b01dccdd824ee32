#include "support/regex/regex.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "support/base/errors.hpp"

namespace tovik {
namespace {

List texts(std::initializer_list<const char*> items) {
  List out;
  for (const char* s : items) out.emplace_back(s);
  return out;
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const ValueError& e) {
    return e.what();
  }
  return "no ValueError";
}

TEST(Regex, SearchIsUnanchoredUnlessThePatternAnchors) {
  EXPECT_TRUE(Regex("b+").search("abbbc"));
  EXPECT_FALSE(Regex("^b+$").search("abbbc"));
  EXPECT_TRUE(Regex("^ab+c$").search("abbbc"));
  EXPECT_FALSE(Regex("x").search("abc"));
  EXPECT_TRUE(Regex("^$").search(""));
  EXPECT_FALSE(Regex("^a").search("ba"));
  // $ before a final newline, as in Perl and Python.
  EXPECT_TRUE(Regex("c$").search("abc\n"));
  // Deep backtracking over a long subject outgrows the JIT stack; it must still match.
  EXPECT_TRUE(Regex("(a|b)*c").search(std::string(200000, 'a') + "c"));
  EXPECT_EQ(Regex("(?:.|\n)*c").find_all(std::string(100000, '\n') + "c").size(), 1u);

  auto m = Regex("b+").search_match("abbbc");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->text, "bbb");
  EXPECT_EQ(m->span, (Span{1, 4}));
  EXPECT_TRUE(m->groups.empty());
  EXPECT_FALSE(Regex("z").search_match("abc"));
}

TEST(Regex, ChineseTextCountsCharactersNotBytes) {
  auto word = Regex("\\w+").search_match("价格：100元");
  ASSERT_TRUE(word);
  EXPECT_EQ(word->text, "价格");
  EXPECT_TRUE(Regex("^.{2}$").search("中文"));
  EXPECT_FALSE(Regex("^.{6}$").search("中文"));
  EXPECT_EQ(Regex("\\w+").find_all("你好 世界, ok"), texts({"你好", "世界", "ok"}));

  // Offsets are bytes into the subject, so callers can slice it.
  auto digits = Regex("(\\d+)元").search_match("价格：100元");
  ASSERT_TRUE(digits);
  EXPECT_EQ(digits->span, (Span{9, 15}));
  ASSERT_EQ(digits->group_spans.size(), 1u);
  EXPECT_EQ(digits->group_spans[0], (Span{9, 12}));
  EXPECT_EQ(digits->groups[0], "100");
}

TEST(Regex, FindAllShapesResultsByGroupCount) {
  Regex none("\\d+");
  EXPECT_EQ(none.group_count(), 0u);
  EXPECT_EQ(none.find_all("a1b22c333"), texts({"1", "22", "333"}));
  EXPECT_TRUE(none.find_all("abc").empty());

  Regex non_capturing("(?:ab)+");
  EXPECT_EQ(non_capturing.group_count(), 0u);
  EXPECT_EQ(non_capturing.find_all("ababx ab"), texts({"abab", "ab"}));

  Regex one("(\\w)=\\d");
  EXPECT_EQ(one.group_count(), 1u);
  EXPECT_EQ(one.find_all("a=1, b=2"), texts({"a", "b"}));

  Regex two("(\\w+)=(\\d+)");
  EXPECT_EQ(two.group_count(), 2u);
  const auto pairs = two.find_all("x=1 yy=22");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_TRUE(pairs[0].is_tuple());
  EXPECT_EQ(pairs[0], Value::tuple(texts({"x", "1"})));
  EXPECT_EQ(pairs[1], Value::tuple(texts({"yy", "22"})));
}

TEST(Regex, GroupThatDidNotTakePart) {
  Regex re("(a)?(b)");
  EXPECT_EQ(re.find_all("b ab"),
            (std::vector<Value>{Value::tuple(texts({"", "b"})), Value::tuple(texts({"a", "b"}))}));

  auto m = re.search_match("b");
  ASSERT_TRUE(m);
  ASSERT_EQ(m->groups.size(), 2u);
  EXPECT_FALSE(m->groups[0]);
  EXPECT_FALSE(m->group_spans[0]);
  EXPECT_EQ(m->groups[1], "b");

  // A group that took part but matched nothing is '' rather than absent.
  auto empty = Regex("(a*)b").search_match("b");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->groups[0], "");
  EXPECT_EQ(Regex("(x)?y").find_all("yy"), texts({"", ""}));
}

TEST(Regex, EmptyMatchesAdvanceAsPythonDoes) {
  EXPECT_EQ(Regex("a*").find_all("baac"), texts({"", "aa", "", ""}));
  // A non-empty match may start where an empty one just did.
  EXPECT_EQ(Regex("a*|b").find_all("b"), texts({"", "b", ""}));
  EXPECT_EQ(Regex("\\b|:+").find_all("a::bc"), texts({"", "", "::", "", ""}));
  EXPECT_EQ(Regex("").find_all(""), texts({""}));
  // One step is one character: three positions in two Chinese characters, not seven bytes.
  EXPECT_EQ(Regex("x*").find_all("中文"), texts({"", "", ""}));
  EXPECT_EQ(Regex("文*").find_all("中文文"), texts({"", "文文", ""}));
}

TEST(Regex, CopiesShareTheCompiledPattern) {
  std::optional<Regex> original(std::in_place, "(\\d)");
  Regex copy = *original;
  original.reset();
  EXPECT_EQ(copy.pattern(), "(\\d)");
  EXPECT_EQ(copy.group_count(), 1u);
  EXPECT_EQ(copy.find_all("1a2"), texts({"1", "2"}));
}

TEST(Regex, BadInputIsAValueError) {
  const std::string unclosed = error_of([] { Regex("a(b"); });
  EXPECT_NE(unclosed.find("invalid regular expression 'a(b' at position 3:"), std::string::npos)
      << unclosed;
  EXPECT_NE(unclosed.find("missing closing parenthesis"), std::string::npos) << unclosed;

  // The position counts characters of the pattern.
  const std::string chinese = error_of([] { Regex("中文["); });
  EXPECT_NE(chinese.find("'中文[' at position 3:"), std::string::npos) << chinese;

  const std::string range = error_of([] { Regex("[z-a]"); });
  EXPECT_NE(range.find("'[z-a]'"), std::string::npos) << range;
  EXPECT_NE(range.find("range out of order"), std::string::npos) << range;

  const std::string bad_pattern = error_of([] { Regex("a\xff"); });
  EXPECT_NE(bad_pattern.find("invalid regular expression"), std::string::npos) << bad_pattern;

  Regex re("b");
  const std::string bad_subject = error_of([&] { re.search("ab\xff"); });
  EXPECT_NE(bad_subject.find("not valid UTF-8 at byte 2"), std::string::npos) << bad_subject;
  EXPECT_NE(error_of([&] { re.find_all("\xe4\xb8"); }).find("UTF-8"), std::string::npos);
  EXPECT_NE(error_of([&] { re.search_match("\xc0\x80"); }).find("UTF-8"), std::string::npos);

  // Runaway backtracking stops at PCRE2's limit instead of hanging.
  const std::string runaway =
      error_of([] { Regex("(a+)+$").search(std::string(40, 'a') + "b"); });
  EXPECT_NE(runaway.find("'(a+)+$' could not be matched"), std::string::npos) << runaway;
}

}  // namespace
}  // namespace tovik
