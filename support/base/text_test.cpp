#include "support/base/text.hpp"

#include <gtest/gtest.h>

namespace tovik {
namespace {

TEST(Text, CaseRulesTouchOnlyAsciiLetters) {
  EXPECT_EQ(ascii_lower("Content-TYPE 中文 É"), "content-type 中文 É");
  EXPECT_EQ(ascii_upper("post\xc3\xa9"), "POST\xc3\xa9");
  EXPECT_TRUE(iequals("Set-Cookie", "set-cookie"));
  EXPECT_FALSE(iequals("Set-Cookie", "Set-Cookie2"));
  // bytes of UTF-8 sequences are compared exactly, never folded
  EXPECT_FALSE(iequals("\xc3\xa9", "\xc3\x89"));
}

TEST(Text, ContainsIgnoringCase) {
  EXPECT_TRUE(icontains("X-Api-KEY", "key"));
  EXPECT_TRUE(icontains("token", "TOKEN"));
  EXPECT_TRUE(icontains("anything", ""));
  EXPECT_FALSE(icontains("ke", "key"));
  EXPECT_FALSE(icontains("", "a"));
}

TEST(Text, StripSpaceKeepsInnerBlanks) {
  EXPECT_EQ(strip_space(" \t a b \r\n\f\v"), "a b");
  EXPECT_EQ(strip_space("   "), "");
  EXPECT_EQ(strip_space("\xe3\x80\x80x"), "\xe3\x80\x80x");  // the ideographic space is not ASCII space
}

TEST(Text, MarkupEscapeKeepsTextAndDropsWhatXmlForbids) {
  EXPECT_EQ(markup_escape("a<b & \"c\" 'd'>"), "a&lt;b &amp; &quot;c&quot; &#39;d&#39;&gt;");
  EXPECT_EQ(markup_escape(std::string("x\x01\x08y\tz\n\r\0", 10)), "xy\tz\n\r");
  EXPECT_EQ(markup_escape("中文 ✓"), "中文 ✓");
  // whatever the bytes, the result is a well-formed XML character sequence
  EXPECT_EQ(markup_escape("a\xff\xc3(b\xed\xa0\x80" "c"), "a\uFFFD\uFFFD(b\uFFFD\uFFFD\uFFFD" "c");
  EXPECT_EQ(markup_escape("x\xef\xbf\xbey\xef\xbf\xbfz\xef\xbf\xbd"), "xyz\uFFFD");
  EXPECT_EQ(markup_escape("\xc0\xaf"), "\uFFFD\uFFFD");  // an overlong '/'
  EXPECT_EQ(percent_encode("a-Z_0.~ /?&=%中"), "a-Z_0.~%20%2F%3F%26%3D%25%E4%B8%AD");
}

}  // namespace
}  // namespace tovik
