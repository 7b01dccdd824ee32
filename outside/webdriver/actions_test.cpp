#include "outside/webdriver/actions.hpp"

#include <gtest/gtest.h>

#include "outside/webdriver/fake_driver.hpp"

namespace tovik::webdriver {

TEST(Actions, ChainEncodesTheW3cPayloadAndEmptiesAfterPerform) {
  auto driver = std::make_shared<FakeDriver>();
  auto el = std::make_shared<FakeElement>("e-1");
  ActionChains chain(driver);
  chain.move_to_element_with_offset(el, 5, -3).click().pause(0.25);
  auto touch = chain.w3c_actions.add_pointer_input("touch", "p2");
  touch->create_pointer_move(1, Origin::Viewport, 100, 500);
  touch->create_pointer_down();
  touch->create_pause(0.1);
  touch->create_pointer_up();
  chain.perform();
  ASSERT_EQ(driver->performed.size(), 1u);
  const Json& sent = driver->performed[0]["actions"];
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0]["type"], "pointer");
  EXPECT_EQ(sent[0]["id"], "mouse");
  EXPECT_EQ(sent[0]["parameters"]["pointerType"], "mouse");
  EXPECT_EQ(sent[0]["actions"][0],
            (Json{{"type", "pointerMove"}, {"duration", 250}, {"x", 5}, {"y", -3}, {"origin", {{kElementKey, "e-1"}}}}));
  EXPECT_EQ(sent[0]["actions"][1]["type"], "pointerDown");
  EXPECT_EQ(sent[0]["actions"][3], (Json{{"type", "pause"}, {"duration", 250}}));
  // the keyboard pauses once per mouse action, so both sources keep the same ticks
  EXPECT_EQ(sent[1]["type"], "key");
  EXPECT_EQ(sent[1]["actions"].size(), sent[0]["actions"].size());
  EXPECT_EQ(sent[2]["id"], "p2");
  EXPECT_EQ(sent[2]["parameters"]["pointerType"], "touch");
  EXPECT_EQ(sent[2]["actions"][2], (Json{{"type", "pause"}, {"duration", 100}}));
  EXPECT_EQ(sent[2]["actions"][0]["origin"], "viewport");
  // performed actions are gone: a second perform sends no source
  chain.perform();
  EXPECT_TRUE(driver->performed[1]["actions"].empty());
}

}  // namespace tovik::webdriver
