// Mobile-app keywords on an Appium session: activities, contexts, long press, swipe, the emulator
// shake, and a multi-pointer action chain built row by row and performed with ac_perform.
#pragma once

#include <memory>

#include "core/action_chains.hpp"
#include "core/base_keyword.hpp"

namespace tovik {

class AppKeyWord : public virtual BaseKeyWord {
 public:
  AppKeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures) : BaseKeyWord(std::move(exchanger), std::move(usefixtures)) {}
  static const KeywordClass& keyword_class();
  const KeywordClass& klass() const override { return keyword_class(); }

  Value key_activity(const Args& a);
  Value key_context(const Args& a);
  Value key_press(const Args& a);
  Value key_swipe(const Args& a);
  Value key_ac_new(const Args& a);
  Value key_ac_perform(const Args& a);
  Value key_ac_new_click(const Args& a);
  Value key_ac_new_swipe(const Args& a);
  Value key_ac_touch_down(const Args& a);
  Value key_ac_ele_down(const Args& a);
  Value key_ac_touch_move(const Args& a);
  Value key_ac_ele_move(const Args& a);
  Value key_ac_touch_up(const Args& a);
  Value key_ac_ele_up(const Args& a);
  Value key_shake(const Args& a);

  // True when a chain is being built; otherwise logs and raises the ValueError telling the user
  // to start one with ac_new.
  bool _required_ac();

  // The chain under construction: made by ac_new, performed and dropped by ac_perform.
  std::shared_ptr<MyActionChains> _ac;
};

}  // namespace tovik
