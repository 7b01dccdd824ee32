#include "core/locator.hpp"

#include <cstdint>

#include <gtest/gtest.h>

#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

namespace {
std::string value_error(const std::string& text) {
  try {
    TovikLocator l(text);
  } catch (const ValueError& e) {
    return e.what();
  }
  return "no error";
}
}  // namespace

TEST(Locator, FieldsDefaultsAndStripping) {
  const TovikLocator plain("  //input  ");
  EXPECT_EQ(plain.value(), "//input");
  EXPECT_EQ(plain.by(), "xpath");
  EXPECT_EQ(plain.index(), 0);
  EXPECT_EQ(plain.repr(), "Locator(value='//input', by='xpath', index=0)");
  const TovikLocator full(" KW ;; ID ;; 2 ");
  EXPECT_EQ(full.value(), "KW");
  EXPECT_EQ(full.by(), "id");
  EXPECT_EQ(full.index(), 2);
  EXPECT_EQ(TovikLocator("a;;CSS_SELECTOR").by(), "css selector");
  EXPECT_EQ(TovikLocator("登录;;ACCESSIBILITY_ID").by(), "accessibility id");
  EXPECT_EQ(TovikLocator("x;;XPATH;;1;;ignored;;more").index(), 1);
  // commas need no escape; an escaped separator stays in the value
  EXPECT_EQ(TovikLocator("//p[contains(text(), 'x,y')]").value(), "//p[contains(text(), 'x,y')]");
  const TovikLocator escaped(R"(//p[text()='a\;;b'];;XPATH;;3)");
  EXPECT_EQ(escaped.value(), "//p[text()='a;;b']");
  EXPECT_EQ(escaped.index(), 3);
  // quotes inside the value are shown as they are
  EXPECT_EQ(TovikLocator("//a[@x='1']").repr(), "Locator(value='//a[@x='1']', by='xpath', index=0)");
}

// Any non-negative integer is an index; one past 64 bits waits like any index beyond the matches.
TEST(Locator, IndexesOfAnySize) {
  const TovikLocator big("//li;;XPATH;;000123456789012345678901234567890");
  EXPECT_EQ(big.index_text(), "123456789012345678901234567890");
  EXPECT_EQ(big.index(), INT64_MAX);
  EXPECT_EQ(big.repr(), "Locator(value='//li', by='xpath', index=123456789012345678901234567890)");
  const TovikLocator plain("//li;;XPATH;;0042");
  EXPECT_EQ(plain.index(), 42);
  EXPECT_EQ(plain.repr(), "Locator(value='//li', by='xpath', index=42)");
}

TEST(Locator, BadStrategyOrIndexIsLoggedAndRaised) {
  auto sink = std::make_shared<log::CaptureSink>();
  sink->set_pattern("%l %v");
  log::add_sink(sink);
  EXPECT_EQ(value_error("a;;id"), "定位器解析失败: 未知的维度策略 value='id'");
  EXPECT_EQ(value_error("a;;"), "定位器解析失败: 未知的维度策略 value=''");
  EXPECT_EQ(value_error("a;;XPATH;;"), "定位器解析失败: 位置索引不正确 index=''");
  EXPECT_EQ(value_error("a;;XPATH;;-1"), "定位器解析失败: 位置索引不正确 index='-1'");
  EXPECT_EQ(value_error("a;;XPATH;;1.5"), "定位器解析失败: 位置索引不正确 index='1.5'");
  EXPECT_EQ(value_error("a;;XPATH;;+1"), "定位器解析失败: 位置索引不正确 index='+1'");
  // a failing field stops the parse: the bad index after a bad strategy is not looked at
  EXPECT_EQ(value_error("a;;nope;;x"), "定位器解析失败: 未知的维度策略 value='nope'");
  log::remove_sink(sink);
  ASSERT_EQ(sink->records().size(), 7u);
  EXPECT_EQ(sink->records()[0].level, spdlog::level::err);

  TovikLocator l("a");
  EXPECT_THROW(l.set_index(Value(2)), TypeError);
  EXPECT_THROW(l.set_by(Value()), TypeError);
  l.set_index(Value("4"));
  l.set_by(Value("NAME"));
  l.set_value(Value("q"));
  EXPECT_EQ(l.repr(), "Locator(value='q', by='name', index=4)");
}

}  // namespace tovik
