#include "core/action_chains.hpp"

#include <gtest/gtest.h>

#include "outside/webdriver/fake_driver.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

TEST(MyActionChains, NewPointersAreNumberedPerChainAndQueueTheirGestures) {
  auto driver = std::make_shared<webdriver::FakeDriver>();
  auto a = std::make_shared<webdriver::FakeElement>("el-a");
  auto b = std::make_shared<webdriver::FakeElement>("el-b");
  auto sink = std::make_shared<log::CaptureSink>();
  sink->set_pattern("%v");
  log::add_sink(sink);
  MyActionChains chain(driver);
  auto p2 = chain.click_by_new_pointer(a);
  auto p3 = chain.click_by_new_pointer(b, 0.25);
  auto p4 = chain.new_pointer();
  auto p5 = chain.touch_by_new_pointer(Value(100), Value(500), Value(100), Value(100));
  log::remove_sink(sink);
  EXPECT_EQ(p2->id(), "p2");
  EXPECT_EQ(p3->id(), "p3");
  EXPECT_EQ(p4.source()->id(), "p_4");
  EXPECT_EQ(p5->id(), "p5");
  EXPECT_EQ(sink->messages(), (std::vector<std::string>{"AC: 新建指针并点击元素 el-a", "AC: 新建指针并点击元素 el-b",
                                                        "创建指针并滑动屏幕 start_x=100, start_y=500 -> end_x=100,100"}));
  const Json tap = p2->encode();
  EXPECT_EQ(tap["parameters"]["pointerType"], "touch");
  ASSERT_EQ(tap["actions"].size(), 4u);
  EXPECT_EQ(tap["actions"][0], (Json{{"type", "pointerMove"}, {"duration", 1}, {"x", 0}, {"y", 0},
                                    {"origin", {{webdriver::kElementKey, "el-a"}}}}));
  EXPECT_EQ(tap["actions"][1], (Json{{"type", "pointerDown"}, {"button", 0}}));
  EXPECT_EQ(tap["actions"][2], (Json{{"type", "pause"}, {"duration", 100}}));
  EXPECT_EQ(tap["actions"][3], (Json{{"type", "pointerUp"}, {"button", 0}}));
  EXPECT_EQ(p3->encode()["actions"][2]["duration"], 250);
  const Json swipe = p5->encode();
  ASSERT_EQ(swipe["actions"].size(), 5u);
  EXPECT_EQ(swipe["actions"][0]["x"], 100);
  EXPECT_EQ(swipe["actions"][0]["y"], 500);
  EXPECT_EQ(swipe["actions"][0]["origin"], "viewport");
  EXPECT_EQ(swipe["actions"][3]["y"], 100);
  EXPECT_EQ(swipe["actions"][4]["type"], "pointerUp");
  // performing sends the touch pointers side by side (the idle mouse and keyboard stay out)
  chain.perform();
  const Json& sent = driver->performed.at(0)["actions"];
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0]["id"], "p2");
  EXPECT_EQ(sent[1]["id"], "p3");
  EXPECT_EQ(sent[2]["id"], "p5");
  // a new chain counts from the start again
  MyActionChains fresh(driver);
  EXPECT_EQ(fresh.new_pointer().source()->id(), "p_2");
  try {
    fresh.touch_by_new_pointer(Value(1), Value(2.5), Value(3), Value(4));
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_NE(std::string(e.what()).find("start_y"), std::string::npos);
  }
}

}  // namespace tovik
