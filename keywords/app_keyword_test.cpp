#include "keywords/app_keyword.hpp"

#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "keywords/key_word.hpp"
#include "outside/allure/step.hpp"
#include "outside/webdriver/actions.hpp"
#include "outside/webdriver/fake_driver.hpp"
#include "outside/webdriver/w3c_driver.hpp"
#include "outside/webdriver/w3c_test_endpoint.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

using testing::HasSubstr;
using webdriver::FakeDriver;
using webdriver::FakeElement;
using webdriver::kElementKey;

namespace {

const char* const kNoChain = "ActionChains未创建，请使用 ac_new 关键字创建后再操作";

struct App : ::testing::Test {
  App() : kw(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{})) {
    (void)kw.all_keyword();
    driver->caps = Dict{{"platformName", Value("Android")}};
    kw.driver = driver;
    kw.wait.emplace(driver, 0.05, 0.01);
    driver->elements["left"] = {left};
    driver->elements["right"] = {right};
    sink->set_pattern("%v");
    log::add_sink(sink);
  }
  ~App() override { log::remove_sink(sink); }
  Value call(const std::string& name, List args = {}) { return kw.member("_key_" + name)(args); }
  // The log lines of this module and of the chain helper, in order, with their level.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& r : sink->records()) {
      const std::string& m = r.message;
      if (m.find("正在执行关键字") == std::string::npos && m.find("关键字执行完毕") == std::string::npos &&
          m.find("元素定位") == std::string::npos && m.find("定位元素") == std::string::npos)
        out.push_back(std::string(spdlog::level::to_string_view(r.level).data()) + " " + m);
    }
    return out;
  }
  // The actions payloads sent so far.
  const std::vector<Json>& sent() const { return driver->performed; }
  static Json source(const Json& payload, const std::string& id) {
    for (const auto& s : payload["actions"])
      if (s["id"] == id) return s;
    return Json();
  }

  std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
  std::shared_ptr<FakeElement> left = std::make_shared<FakeElement>("el-left");
  std::shared_ptr<FakeElement> right = std::make_shared<FakeElement>("el-right");
  AppKeyWord kw;
  std::shared_ptr<log::CaptureSink> sink = std::make_shared<log::CaptureSink>();
};

Json move_to(const std::string& element, int duration) {
  return Json{{"type", "pointerMove"}, {"duration", duration}, {"x", 0}, {"y", 0}, {"origin", {{kElementKey, element}}}};
}
Json at(int x, int y, int duration) {
  return Json{{"type", "pointerMove"}, {"duration", duration}, {"x", x}, {"y", y}, {"origin", "viewport"}};
}
const Json kDown = Json{{"type", "pointerDown"}, {"button", 0}};
const Json kUp = Json{{"type", "pointerUp"}, {"button", 0}};
Json pause(int ms) { return Json{{"type", "pause"}, {"duration", ms}}; }

}  // namespace

TEST_F(App, TwoNewPointersTapTogetherWhenTheChainIsPerformed) {
  call("ac_new");
  call("ac_new_click", {Value("left")});
  call("ac_new_click", {Value("right"), Value(0.25)});
  EXPECT_TRUE(sent().empty()) << "queued actions must wait for ac_perform";
  call("ac_perform");
  ASSERT_EQ(sent().size(), 1u);
  const Json& payload = sent()[0];
  ASSERT_EQ(payload["actions"].size(), 2u) << payload;  // the idle mouse and keyboard stay out
  const Json p2 = source(payload, "p_2"), p3 = source(payload, "p_3");
  EXPECT_EQ(p2["parameters"]["pointerType"], "touch");
  EXPECT_EQ(p2["actions"], Json::array({move_to("el-left", 250), kDown, pause(100), kUp}));
  EXPECT_EQ(p3["actions"], Json::array({move_to("el-right", 250), kDown, pause(250), kUp}));
  EXPECT_EQ(lines(), (std::vector<std::string>{"info 新的动作：点击元素 locator=left", "info 新的动作：点击元素 locator=right",
                                               "info 执行创建的动作链"}));
  EXPECT_EQ(kw._ac, nullptr);

  // performed and dropped: the second ac_perform has nothing to run
  sink->clear();
  try {
    call("ac_perform");
    FAIL() << "a second ac_perform must fail";
  } catch (const ValueError& e) {
    EXPECT_EQ(std::string(e.what()), kNoChain);
  }
  EXPECT_EQ(lines(), (std::vector<std::string>{"info 执行创建的动作链", std::string("error ") + kNoChain}));
  EXPECT_EQ(sent().size(), 1u);
}

TEST_F(App, ChainKeywordsWithoutAChainLogTheirLineThenRefuse) {
  const std::vector<std::pair<std::string, List>> calls = {
      {"ac_new_click", {Value("left")}},
      {"ac_new_swipe", {Value(1), Value(2), Value(3), Value(4)}},
      {"ac_touch_down", {Value(10), Value(20)}},
      {"ac_ele_down", {Value("left")}},
      {"ac_touch_move", {Value(30), Value(40)}},
      {"ac_ele_move", {Value("left")}},
      {"ac_touch_up", {}},
  };
  const std::vector<std::string> own = {
      "新的动作：点击元素 locator=left", "新的动作：滑动屏幕 start_x=1, start_y=2 -> end_x=3,4", "新的动作：线下指针x=10, y=20",
      "新的动作：按下元素locator=left",  "新的动作：移动指针 x=30, y=40", "新的动作：移动元素locator=left",
      "新的动作：释放指针"};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    sink->clear();
    EXPECT_THROW(call(calls[i].first, calls[i].second), ValueError) << calls[i].first;
    EXPECT_EQ(lines(), (std::vector<std::string>{"info " + own[i], std::string("error ") + kNoChain})) << calls[i].first;
  }
  // nothing was looked up for the element keywords either
  EXPECT_TRUE(driver->calls.empty()) << testing::PrintToString(driver->calls);
  EXPECT_TRUE(sent().empty());
}

TEST_F(App, TheDefaultPointerTakesDownMoveAndUpFromCoordinatesAndElements) {
  call("ac_new");
  call("ac_touch_down", {Value(10), Value(20.0)});  // an integral float counts as a whole number
  call("ac_ele_move", {Value("right")});
  call("ac_touch_move", {Value(30), Value(40)});
  call("ac_touch_up");
  call("ac_ele_down", {Value("left")});
  call("ac_ele_up");
  call("ac_perform");
  ASSERT_EQ(sent().size(), 1u);
  const Json mouse = source(sent()[0], "mouse");
  EXPECT_EQ(mouse["parameters"]["pointerType"], "mouse");
  EXPECT_EQ(mouse["actions"], Json::array({at(10, 20, 250), kDown, move_to("el-right", 250), at(30, 40, 250), kUp,
                                           move_to("el-left", 250), kDown, kUp}));
  EXPECT_THAT(lines(), testing::Contains("info 新的动作：线下指针x=10, y=20"));
}

TEST_F(App, AcEleUpReleasesInsideANestedStepOfTheSameTitle) {
  allure::TestResult result;
  {
    allure::ScopedTest recording(result);
    call("ac_new");
    call("ac_ele_up");
  }
  ASSERT_EQ(result.steps.size(), 2u);
  EXPECT_EQ(result.steps[0].name, "创建新的动作链");
  const auto& up = result.steps[1];
  EXPECT_EQ(up.name, "新的动作：释放指针");
  ASSERT_EQ(up.steps.size(), 1u);
  EXPECT_EQ(up.steps[0].name, "新的动作：释放指针");
  EXPECT_EQ(kw._ac->w3c_actions.pointer_action().source()->actions(), std::vector<Json>{kUp});
  // the nested call is the keyword itself, not a second dispatch
  const auto messages = sink->messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "新的动作：释放指针"), 1);
  EXPECT_EQ(lines(), (std::vector<std::string>{"info 新的动作：释放指针"}));
}

TEST_F(App, AcNewDropsAnUnperformedChainAndAcNewSwipeAddsTouchPointers) {
  call("ac_new");
  call("ac_new_click", {Value("left")});
  call("ac_new");  // starts over: the tap above is gone
  call("ac_new_swipe", {Value(100), Value(500), Value(100), Value(100)});
  call("ac_new_swipe", {Value(300), Value(500), Value(300), Value(100), Value("0.5")});
  call("ac_perform");
  const Json& payload = sent().at(0);
  ASSERT_EQ(payload["actions"].size(), 2u) << payload;
  EXPECT_EQ(source(payload, "p2")["actions"], Json::array({at(100, 500, 1), kDown, pause(100), at(100, 100, 1), kUp}));
  EXPECT_EQ(source(payload, "p3")["actions"][2], pause(500));
  EXPECT_THAT(lines(), testing::Contains("info 创建指针并滑动屏幕 start_x=100, start_y=500 -> end_x=100,100"));
}

TEST_F(App, SwipeChecksItsArgumentsBeforeLoggingOrSending) {
  call("swipe", {Value(100), Value(800), Value(300), Value(400)});
  EXPECT_EQ(lines(), (std::vector<std::string>{"info 滑动屏幕 start_x=100, start_y=800 -> end_x=300,400"}));
  ASSERT_EQ(sent().size(), 1u);
  const Json touch = source(sent()[0], "touch");
  EXPECT_EQ(touch["parameters"]["pointerType"], "touch");
  EXPECT_EQ(touch["actions"], Json::array({at(100, 800, 250), kDown, pause(100), at(300, 400, 250), kUp}));
  EXPECT_TRUE(source(sent()[0], "mouse").is_null()) << "the touch pointer replaces the mouse";

  sink->clear();
  for (const auto& name : {"swipe", "ac_new_swipe"}) {
    try {
      call(name, {Value(1), Value("2"), Value(2.5), Value(4)});
      FAIL() << name;
    } catch (const TypeError& e) {
      EXPECT_THAT(e.what(), HasSubstr("start_y")) << name;  // the first offending one
    }
    EXPECT_THROW(call(name, {Value(1), Value(2), Value(3), Value(4), Value("slow")}), ValueError) << name;
    EXPECT_THROW(call(name, {Value(1), Value(2), Value(3), Value(4), Value()}), TypeError) << name;
    EXPECT_THROW(call(name, {Value(1), Value(2), Value(3), Value(1e12)}), ValueError) << name;  // beyond the wire's integers
  }
  EXPECT_TRUE(lines().empty()) << testing::PrintToString(lines());
  EXPECT_EQ(sent().size(), 1u);
}

TEST_F(App, PressHoldsTheElementAndLeavesTheChainAlone) {
  call("ac_new");
  call("ac_touch_down", {Value(1), Value(2)});
  call("press", {Value("left")});
  call("press", {Value("right"), Value("2.5")});
  call("swipe", {Value(1), Value(2), Value(3), Value(4), Value(0)});
  ASSERT_EQ(sent().size(), 3u);
  const Json mouse = source(sent()[0], "mouse");
  EXPECT_EQ(mouse["actions"], Json::array({move_to("el-left", 250), kDown, pause(1000), kUp}));
  EXPECT_EQ(source(sent()[1], "mouse")["actions"][2], pause(2500));
  EXPECT_EQ(source(sent()[2], "touch")["actions"][2], pause(0));
  EXPECT_THAT(lines(), testing::Contains("info 长按元素 locator=left, times=1.0"));
  EXPECT_THAT(lines(), testing::Contains("info 长按元素 locator=right, times=2.5"));
  // the chain under construction kept its own action and nothing else
  ASSERT_NE(kw._ac, nullptr);
  EXPECT_EQ(kw._ac->w3c_actions.pointer_action().source()->actions().size(), 2u);

  EXPECT_THROW(call("press", {Value("missing")}), TimeoutException);
  EXPECT_EQ(sent().size(), 3u);
}

TEST_F(App, ActivityAndContextGoToTheDriver) {
  call("activity", {Value(".MainActivity")});
  call("activity", {Value(".Settings"), Value("com.other")});
  call("context");
  call("context", {Value("WEBVIEW_1")});
  EXPECT_EQ(driver->calls, (std::vector<std::string>{"current_package", "activity:com.example.app/.MainActivity",
                                                     "activity:com.other/.Settings", "context:NATIVE_APP",
                                                     "context:WEBVIEW_1"}));
  EXPECT_THROW(call("activity", {Value(5)}), TypeError);

  AppKeyWord no_device(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{}));
  EXPECT_THROW(no_device.member("_key_context")(List{}), ValueError);
  EXPECT_THROW(no_device.member("_key_ac_new")(List{}), ValueError);
}

TEST_F(App, ShakeStopsOnceThePageChanges) {
  int reads = 0;
  driver->on_page_source = [&] { return ++reads == 1 ? std::string("<a/>") : std::string("<b/>"); };
  testing::internal::CaptureStdout();
  call("shake");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "第0次摇晃\n");
  ASSERT_EQ(driver->script_args.size(), 2u);
  EXPECT_EQ(driver->calls, (std::vector<std::string>{"page_source", "script:mobile:execEmuConsoleCommand",
                                                     "script:mobile:execEmuConsoleCommand", "page_source"}));
  EXPECT_EQ(driver->script_args[0], (List{Value(Dict{{"command", Value("sensor set acceleration 10:20:30")}})}));
  EXPECT_EQ(driver->script_args[1], (List{Value(Dict{{"command", Value("sensor set acceleration 0:0:0")}})}));
}

TEST_F(App, ShakeGivesUpQuietlyAfterAThousandPasses) {
  testing::internal::CaptureStdout();
  call("shake");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(driver->script_args.size(), 2000u);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1000);
  EXPECT_THAT(out, testing::EndsWith("第999次摇晃\n"));

  // a driver that cannot run the console command fails the keyword with its own error
  driver->on_script = [](const std::string&, const List&) -> Value { throw WebDriverException("unsupported operation"); };
  testing::internal::CaptureStdout();
  EXPECT_THROW(call("shake"), WebDriverException);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "第0次摇晃\n");
}

// What an Appium server receives for the operations the fake driver lacks: the current package
// and the activity as mobile commands, the shake as emulator console commands.
TEST(AppOnTheWire, ActivityAndShakeSendAppiumMobileCommands) {
  webdriver::w3c_testing::RecordingEndpoint endpoint(Json{{"platformName", "Android"}});
  int sources = 0;
  endpoint.respond([&](const webdriver::w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    const auto value = [](const Json& v) { return std::optional<std::pair<int, Json>>({200, Json{{"value", v}}}); };
    if (r.path == "/session/s-1/execute/sync" && r.body["script"] == "mobile: getCurrentPackage") return value("com.example.shop");
    if (r.path == "/session/s-1/source") return value(++sources < 3 ? "<hierarchy/>" : "<hierarchy changed=\"1\"/>");
    return std::nullopt;
  });
  AppKeyWord kw(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{}));
  kw.driver = webdriver::W3CDriver::connect(endpoint.url(), Json{{"platformName", "Android"}});
  kw.wait.emplace(kw.driver, 0.05, 0.01);

  kw.member("_key_activity")(List{Value(".CartActivity")});
  testing::internal::CaptureStdout();
  kw.member("_key_shake")(List{});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "第0次摇晃\n第1次摇晃\n");

  std::vector<Json> scripts;
  for (const auto& r : endpoint.requests())
    if (r.path == "/session/s-1/execute/sync") scripts.push_back(r.body);
  const auto console = [](const char* command) {
    return Json{{"script", "mobile:execEmuConsoleCommand"}, {"args", {{{"command", command}}}}};
  };
  EXPECT_EQ(scripts, (std::vector<Json>{
                         Json{{"script", "mobile: getCurrentPackage"}, {"args", Json::array()}},
                         Json{{"script", "mobile: startActivity"}, {"args", {{{"intent", "com.example.shop/.CartActivity"}}}}},
                         console("sensor set acceleration 10:20:30"), console("sensor set acceleration 0:0:0"),
                         console("sensor set acceleration 10:20:30"), console("sensor set acceleration 0:0:0")}));
  EXPECT_EQ(sources, 3);
  kw.driver->quit();
}

TEST(AppDocs, TextsFollowTheHouseLayout) {
  std::ostringstream out;
  AppKeyWord::keyword_class().print_key_doc(out);
  const std::string docs = out.str();
  EXPECT_THAT(docs, HasSubstr("关键字：ac_new\n\n        创建新的ActionChains （适用于Appium）\n--------------------\n"));
  EXPECT_THAT(docs, HasSubstr("关键字：ac_new_swipe\n        使用新指针进行滑动（多点触控），也用于坐标值点击（适用于Appium）\n\n"
                              "        start_x: int,\n        start_y: int,\n        end_x: int,\n        end_y: int,\n"
                              "        times: float = 0.1,\n--------------------\n"));
  EXPECT_THAT(docs, HasSubstr("关键字：press\n        长按指定的元素（适用于Appium）\n\n"
                              "        :param locator: 定位器字符串，具体格式请参考关键字：show\n"
                              "        :param times: 长按的秒数，默认为：1.0\n"));
  EXPECT_THAT(docs, HasSubstr("关键字：shake\n        模拟摇晃手机 （适用于Appium +  Android 模拟器）\n--------------------\n"));
  EXPECT_THAT(docs, testing::Not(HasSubstr("读取关键字文档出错")));
}

TEST(AppClasses, OnlyTheUnionAddsBrowserKeywordsAndSharesOneDriver) {
  auto exchanger = std::make_shared<Exchange>("/nonexistent-dir/v.yaml");
  AppKeyWord app(exchanger, Value(Dict{}));
  EXPECT_FALSE(app.has_member("_key_click"));
  EXPECT_TRUE(app.has_member("_key_assert"));
  EXPECT_TRUE(app.has_member("_key_ac_new"));

  KeyWord both(exchanger, Value(Dict{}));
  auto driver = std::make_shared<FakeDriver>();
  auto button = std::make_shared<FakeElement>("b-1");
  driver->elements["//button"] = {button};
  both.driver = driver;
  both.wait.emplace(driver, 0.05, 0.01);
  both.member("_key_press")(List{Value("//button"), Value(0.2)});
  both.member("_key_click")(List{Value("//button")});
  both.member("_key_assert")(List{Value(1), Value("equal"), Value(1)});
  EXPECT_EQ(driver->performed.size(), 1u);
  EXPECT_EQ(button->calls, (std::vector<std::string>{"click"}));
}

}  // namespace tovik
