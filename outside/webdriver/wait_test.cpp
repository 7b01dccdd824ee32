#include "outside/webdriver/wait.hpp"

#include <gtest/gtest.h>

#include "outside/webdriver/fake_driver.hpp"

namespace tovik::webdriver {

TEST(WebDriverWait, ReturnsTheFirstTrueValueAndTreatsMissingElementsAsFalse) {
  auto driver = std::make_shared<FakeDriver>();
  WebDriverWait wait(driver, 2, 0.01);
  int calls = 0;
  Value v = wait.until([&](Driver&) -> Value {
    ++calls;
    if (calls == 1) throw NoSuchElementException("not yet");
    if (calls == 2) return Value(0);  // false values keep the wait going
    return Value("found");
  });
  EXPECT_EQ(v, Value("found"));
  EXPECT_EQ(calls, 3);
}

TEST(WebDriverWait, OtherErrorsEndTheWaitAtOnce) {
  auto driver = std::make_shared<FakeDriver>();
  WebDriverWait wait(driver, 5, 0.01);
  int calls = 0;
  EXPECT_THROW(wait.until([&](Driver&) -> Value {
    ++calls;
    throw WebDriverException("stale element reference");
  }),
               WebDriverException);
  EXPECT_EQ(calls, 1);
}

TEST(WebDriverWait, TimesOutWithTheMessageAfterPolling) {
  auto driver = std::make_shared<FakeDriver>();
  WebDriverWait wait(driver, 0.05, 0.01);
  int calls = 0;
  try {
    wait.until([&](Driver&) -> Value {
      ++calls;
      throw NoSuchElementException("never");
    }, "元素定位超时");
    FAIL() << "expected a time-out";
  } catch (const TimeoutException& e) {
    EXPECT_STREQ(e.what(), "元素定位超时");
  }
  EXPECT_GE(calls, 3);  // polled repeatedly, and once more at the deadline
  WebDriverWait zero(driver, 0, 0.01);
  calls = 0;
  EXPECT_THROW(zero.until([&](Driver&) -> Value { ++calls; return Value(); }), TimeoutException);
  EXPECT_EQ(calls, 1);  // a zero time-out still looks once
}

}  // namespace tovik::webdriver
