// An action chain that adds touch pointers of its own, so one chain can carry a multi-touch gesture.
#pragma once

#include <memory>

#include "outside/webdriver/actions.hpp"
#include "support/base/value.hpp"

namespace tovik {

class MyActionChains : public webdriver::ActionChains {
 public:
  using webdriver::ActionChains::ActionChains;

  // A new touch pointer "p_<n>"; the caller queues its actions.
  webdriver::PointerActions new_pointer();
  // A new touch pointer "p<n>" tapping the element's centre, held for pause_time seconds.
  std::shared_ptr<webdriver::PointerInput> click_by_new_pointer(const std::shared_ptr<webdriver::Element>& element,
                                                                double pause_time = 0.1);
  // A new touch pointer "p<n>" swiping between two viewport points; the four coordinates must be
  // whole numbers (TypeError naming the argument otherwise).
  std::shared_ptr<webdriver::PointerInput> touch_by_new_pointer(const Value& start_x, const Value& start_y,
                                                                const Value& end_x, const Value& end_y,
                                                                const Value& pause_time = Value(0.1));

  int pointer_count = 1;
};

}  // namespace tovik
