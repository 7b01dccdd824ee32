#include <gtest/gtest.h>

#include "core/base_keyword.hpp"
#include "outside/webdriver/fake_driver.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

using webdriver::FakeDriver;
using webdriver::FakeElement;

namespace {

struct Lookup : ::testing::Test {
  Lookup() : kw(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{})) {
    sink->set_pattern("%v");
    log::add_sink(sink);
    log::set_level(spdlog::level::debug);
    driver->caps = Dict{{"browserName", Value("chrome")}};
    kw.driver = driver;
    kw.wait.emplace(driver, 0.05, 0.01);
  }
  ~Lookup() override {
    log::set_level(spdlog::level::info);
    log::remove_sink(sink);
  }
  std::vector<std::string> info_lines() const {
    std::vector<std::string> out;
    for (const auto& r : sink->records())
      if (r.level == spdlog::level::info) out.push_back(r.message);
    return out;
  }
  std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
  BaseKeyWord kw;
  std::shared_ptr<log::CaptureSink> sink = std::make_shared<log::CaptureSink>();
};

}  // namespace

// In a browser the lookup asks tag, rect, the touch style and readiness in one script; the first
// interactivity check after it uses that answer, later ones ask again.
TEST_F(Lookup, FindsByXpathMarksTheElementAndLogsInOneRoundTrip) {
  auto input = std::make_shared<FakeElement>("e1");
  driver->elements["//input"] = {input};
  Value ready(true);
  driver->on_script = [&](const std::string& script, const List&) -> Value {
    if (script.find("answer.ready") != std::string::npos)
      return Value(Dict{{"tag", Value("input")}, {"x", Value(8)}, {"y", Value(10.5)}, {"width", Value(100)},
                        {"height", Value(20)}, {"ready", ready}});
    return ready;
  };
  EXPECT_EQ(kw.find_element("//input"), input);
  ASSERT_EQ(driver->calls.size(), 2u);
  EXPECT_EQ(driver->calls[0], "find_element:xpath://input");
  EXPECT_NE(driver->calls[1].find("setAttribute('style', arguments[1])"), std::string::npos);
  ASSERT_EQ(driver->script_args.size(), 1u);
  EXPECT_EQ(driver->script_args[0][0].object_as<webdriver::Element>(), input);
  EXPECT_EQ(driver->script_args[0][1], Value("border: 2px solid red;"));
  EXPECT_EQ(info_lines(), (std::vector<std::string>{"正在定位元素: Locator(value='//input', by='xpath', index=0)",
                                                    "元素定位成功: 【input】{'x': 8, 'y': 10.5, 'width': 100, 'height': 20}"}));
  const auto& recs = sink->records();
  bool start = false, found = false;
  for (const auto& r : recs) {
    start = start || (r.level == spdlog::level::debug && r.message.find(", 开始等待...") != std::string::npos);
    found = found || (r.level == spdlog::level::debug && r.message.find(",找到元素...") != std::string::npos);
  }
  EXPECT_TRUE(start && found);

  EXPECT_TRUE(kw.can_interactive(input));
  EXPECT_EQ(driver->calls.size(), 2u);  // answered by the lookup
  ready = Value(false);
  EXPECT_FALSE(kw.can_interactive(input));  // asked again, in one script
  ASSERT_EQ(driver->calls.size(), 3u);
  EXPECT_NE(driver->calls[2].find("tovikReady(arguments[0])"), std::string::npos);
  // the element's own commands were never needed
  input->displayed = false;
  ready = Value(true);
  EXPECT_TRUE(kw.can_interactive(input));
}

// A page where the script cannot answer (it returns null) gets the separate commands.
TEST_F(Lookup, WithoutTheScriptsAnswerTheSeparateCommandsServe) {
  auto input = std::make_shared<FakeElement>("e1");
  input->tag = "input";
  input->box = {8, 10.5, 100, 20};
  driver->elements["//input"] = {input};
  EXPECT_EQ(kw.find_element("//input"), input);
  ASSERT_EQ(driver->calls.size(), 3u);
  EXPECT_EQ(driver->calls[2], "script:arguments[0].setAttribute('style', arguments[1]);");
  EXPECT_EQ(info_lines().back(), "元素定位成功: 【input】{'x': 8, 'y': 10.5, 'width': 100, 'height': 20}");
  EXPECT_TRUE(kw.can_interactive(input));
  input->attributes["readonly"] = "true";
  EXPECT_FALSE(kw.can_interactive(input));
}

TEST_F(Lookup, TooFewMatchesPollsThenTimesOut) {
  driver->elements["//li"] = {std::make_shared<FakeElement>("a"), std::make_shared<FakeElement>("b")};
  try {
    kw.find_element("//li;;XPATH;;2");
    FAIL();
  } catch (const TimeoutException& e) {
    EXPECT_STREQ(e.what(), "元素定位失败：等待超时， tovik_locator=Locator(value='//li', by='xpath', index=2)");
  }
  const auto lines = info_lines();
  EXPECT_GE(std::count(lines.begin(), lines.end(), "元素定位成功，但是数量不足: 2 <= 2"), 2);
  bool error_logged = false;
  for (const auto& r : sink->records())
    error_logged = error_logged || (r.level == spdlog::level::err && r.message.rfind("元素定位失败：等待超时", 0) == 0);
  EXPECT_TRUE(error_logged);
  // index > 0 asks for all matches
  EXPECT_EQ(driver->calls.front(), "find_elements:xpath://li");
  // a missing element times out the same way; other driver errors end the wait at once
  EXPECT_THROW(kw.find_element("//none"), TimeoutException);
  EXPECT_THROW(kw.find_element("a;;bad"), ValueError);
}

TEST_F(Lookup, RelativeLocatorsSearchBelowTheTouchedElement) {
  auto panel = std::make_shared<FakeElement>("panel");
  auto inner = std::make_shared<FakeElement>("inner");
  auto outer = std::make_shared<FakeElement>("outer");
  panel->children["./button"] = {inner};
  driver->elements["./button"] = {outer};
  driver->elements["//button"] = {outer};
  EXPECT_EQ(kw.find_element("./button"), outer);  // nothing touched yet: the whole page
  kw._activate_ele = panel;
  EXPECT_EQ(kw.find_element("./button"), inner);
  EXPECT_EQ(kw.find_element("//button"), outer);
}

TEST_F(Lookup, AppsNeitherStyleNorReadTagsOfToasts) {
  driver->caps = Dict{{"platformName", Value("Android")}};
  auto toast = std::make_shared<FakeElement>("t");
  driver->elements["//*[@class='android.widget.Toast']"] = {toast};
  EXPECT_EQ(kw.find_element("//*[@class='android.widget.Toast']"), toast);
  EXPECT_EQ(info_lines().back(), "元素定位成功");
  for (const auto& c : driver->calls) EXPECT_EQ(c.find("script:"), std::string::npos);
  // in apps only is_enabled counts
  toast->displayed = false;
  toast->attributes["readonly"] = "true";
  EXPECT_TRUE(kw.can_interactive(toast));
  toast->enabled = false;
  EXPECT_FALSE(kw.can_interactive(toast));
}

TEST_F(Lookup, BrowserInteractivityNeedsDisplayedEnabledAndNotReadonly) {
  auto e = std::make_shared<FakeElement>("x");
  EXPECT_TRUE(kw.can_interactive(e));
  e->attributes["readonly"] = "true";
  EXPECT_FALSE(kw.can_interactive(e));
  e->attributes["readonly"] = "false";
  EXPECT_TRUE(kw.can_interactive(e));
  e->displayed = false;
  EXPECT_FALSE(kw.can_interactive(e));
  BaseKeyWord no_driver(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{}));
  EXPECT_THROW(no_driver.find_element("//a"), ValueError);
}

}  // namespace tovik
