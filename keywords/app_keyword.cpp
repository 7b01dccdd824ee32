#include "keywords/app_keyword.hpp"

#include <iostream>
#include <limits>

#include "keywords/app_keyword_docs.hpp"
#include "keywords/library.hpp"
#include "outside/webdriver/actions.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"

namespace tovik {

using namespace keyword_docs;

namespace {

const char* const kNoChain = "ActionChains未创建，请使用 ac_new 关键字创建后再操作";

// Seconds given as a number or a decimal text, converted while the arguments are bound, so a bad
// value fails before anything is logged or sent.
Param seconds(std::string name, double default_value) {
  Param p = optional(std::move(name), ParamKind::Any, Value(default_value));
  p.check = [](const Value& v) { return Value(float_of(v)); };
  return p;
}

// A screen coordinate in pixels: a whole number that the wire's 32-bit integers can carry.
Param pixel(std::string name) {
  Param p = required(name, ParamKind::Integer);
  p.check = [name](const Value& v) {
    if (v.is_big_int() || v.as_int() < std::numeric_limits<int>::min() || v.as_int() > std::numeric_limits<int>::max())
      throw ValueError("坐标 " + name + " 超出范围: " + str(v));
    return v;
  };
  return p;
}

std::vector<Param> swipe_params() {
  return {pixel("start_x"), pixel("start_y"), pixel("end_x"), pixel("end_y"), seconds("times", 0.1)};
}

int coordinate(const Args& a, const char* name) { return static_cast<int>(a.integer(name)); }

}  // namespace

const KeywordClass& AppKeyWord::keyword_class() {
  keyword_defaults();  // loading any class is the library's moment for its configuration defaults
  static const KeywordClass cls(
      "AppKeyWord", {&BaseKeyWord::keyword_class()},
      {
          keyword<AppKeyWord>("activity", &AppKeyWord::key_activity, kActivityDoc, "启动新的Activity",
                              {required("activity_name", ParamKind::Text), optional("package_name", ParamKind::OptionalText, Value())}),
          keyword<AppKeyWord>("context", &AppKeyWord::key_context, kContextDoc, "切换上下文",
                              {optional("context_name", ParamKind::Text, Value("NATIVE_APP"))}),
          keyword<AppKeyWord>("press", &AppKeyWord::key_press, kPressDoc, "长按元素",
                              {required("locator", ParamKind::Text), optional("times", ParamKind::Any, Value(1.0))}),
          keyword<AppKeyWord>("swipe", &AppKeyWord::key_swipe, kSwipeDoc, "滑动屏幕", swipe_params()),
          keyword<AppKeyWord>("ac_new", &AppKeyWord::key_ac_new, kAcNewDoc, "创建新的动作链", {}),
          keyword<AppKeyWord>("ac_perform", &AppKeyWord::key_ac_perform, kAcPerformDoc, "执行创建的动作链", {}),
          keyword<AppKeyWord>("ac_new_click", &AppKeyWord::key_ac_new_click, kAcNewClickDoc, "新的动作：点击元素",
                              {required("locator", ParamKind::Text), optional("times", ParamKind::Any, Value(0.1))}),
          keyword<AppKeyWord>("ac_new_swipe", &AppKeyWord::key_ac_new_swipe, kAcNewSwipeDoc, "新的动作：滑动屏幕", swipe_params()),
          keyword<AppKeyWord>("ac_touch_down", &AppKeyWord::key_ac_touch_down, kAcTouchDownDoc, "新的动作：按下指针",
                              {pixel("x"), pixel("y")}),
          keyword<AppKeyWord>("ac_ele_down", &AppKeyWord::key_ac_ele_down, kAcEleDownDoc, "新的动作：按下元素",
                              {required("locator", ParamKind::Text)}),
          keyword<AppKeyWord>("ac_touch_move", &AppKeyWord::key_ac_touch_move, kAcTouchMoveDoc, "新的动作：移动指针",
                              {pixel("x"), pixel("y")}),
          keyword<AppKeyWord>("ac_ele_move", &AppKeyWord::key_ac_ele_move, kAcEleMoveDoc, "新的动作：移动元素",
                              {required("locator", ParamKind::Text)}),
          keyword<AppKeyWord>("ac_touch_up", &AppKeyWord::key_ac_touch_up, kAcTouchUpDoc, "新的动作：释放指针", {}),
          keyword<AppKeyWord>("ac_ele_up", &AppKeyWord::key_ac_ele_up, kAcEleUpDoc, "新的动作：释放指针", {}),
          keyword<AppKeyWord>("shake", &AppKeyWord::key_shake, kShakeDoc, "模拟手机摇一摇", {}),
      });
  return cls;
}

bool AppKeyWord::_required_ac() {
  if (_ac) return true;
  log::lexa()->error("{}", kNoChain);
  throw ValueError(kNoChain);
}

Value AppKeyWord::key_activity(const Args& a) {
  auto& d = need_driver();
  const std::string package = a["package_name"].is_none() ? d.current_package() : a.text("package_name");
  d.start_activity(package, a.text("activity_name"));
  return Value();
}

Value AppKeyWord::key_context(const Args& a) {
  need_driver().switch_to_context(a.text("context_name"));
  return Value();
}

Value AppKeyWord::key_press(const Args& a) {
  log::lexa()->info("长按元素 locator={}, times={}", a.text("locator"), str(a["times"]));
  const double times = float_of(a["times"]);
  auto ele = find_element(a.text("locator"));
  MyActionChains chain(driver);
  chain.move_to_element(ele);
  chain.w3c_actions.pointer_action().pointer_down().pause(times).pointer_up();
  chain.perform();
  return Value();
}

Value AppKeyWord::key_swipe(const Args& a) {
  const int sx = coordinate(a, "start_x"), sy = coordinate(a, "start_y");
  const int ex = coordinate(a, "end_x"), ey = coordinate(a, "end_y");
  log::lexa()->info("滑动屏幕 start_x={}, start_y={} -> end_x={},{}", sx, sy, ex, ey);
  need_driver();
  MyActionChains chain(driver);
  chain.w3c_actions = webdriver::ActionBuilder(driver, std::make_shared<webdriver::PointerInput>("touch", "touch"));
  chain.w3c_actions.pointer_action()
      .move_to_location(sx, sy)
      .pointer_down()
      .pause(a.number("times"))
      .move_to_location(ex, ey)
      .pointer_up();
  chain.perform();
  return Value();
}

Value AppKeyWord::key_ac_new(const Args&) {
  need_driver();
  // an unperformed chain from before is dropped with its actions
  _ac = std::make_shared<MyActionChains>(driver);
  return Value();
}

Value AppKeyWord::key_ac_perform(const Args&) {
  log::lexa()->info("执行创建的动作链");
  _required_ac();
  _ac->perform();
  _ac.reset();
  return Value();
}

Value AppKeyWord::key_ac_new_click(const Args& a) {
  log::lexa()->info("新的动作：点击元素 locator={}", a.text("locator"));
  _required_ac();
  const double times = float_of(a["times"]);
  auto ele = find_element(a.text("locator"));
  _ac->new_pointer().move_to(ele).pointer_down().pause(times).pointer_up();
  return Value();
}

Value AppKeyWord::key_ac_new_swipe(const Args& a) {
  log::lexa()->info("新的动作：滑动屏幕 start_x={}, start_y={} -> end_x={},{}", a.integer("start_x"), a.integer("start_y"),
                    a.integer("end_x"), a.integer("end_y"));
  _required_ac();
  _ac->touch_by_new_pointer(a["start_x"], a["start_y"], a["end_x"], a["end_y"], a["times"]);
  return Value();
}

Value AppKeyWord::key_ac_touch_down(const Args& a) {
  log::lexa()->info("新的动作：线下指针x={}, y={}", a.integer("x"), a.integer("y"));
  _required_ac();
  _ac->w3c_actions.pointer_action().move_to_location(coordinate(a, "x"), coordinate(a, "y")).pointer_down();
  return Value();
}

Value AppKeyWord::key_ac_ele_down(const Args& a) {
  log::lexa()->info("新的动作：按下元素locator={}", a.text("locator"));
  _required_ac();
  auto ele = find_element(a.text("locator"));
  _ac->w3c_actions.pointer_action().move_to(ele).pointer_down();
  return Value();
}

Value AppKeyWord::key_ac_touch_move(const Args& a) {
  log::lexa()->info("新的动作：移动指针 x={}, y={}", a.integer("x"), a.integer("y"));
  _required_ac();
  _ac->w3c_actions.pointer_action().move_to_location(coordinate(a, "x"), coordinate(a, "y"));
  return Value();
}

Value AppKeyWord::key_ac_ele_move(const Args& a) {
  log::lexa()->info("新的动作：移动元素locator={}", a.text("locator"));
  _required_ac();
  auto ele = find_element(a.text("locator"));
  _ac->w3c_actions.pointer_action().move_to(ele);
  return Value();
}

Value AppKeyWord::key_ac_touch_up(const Args&) {
  log::lexa()->info("新的动作：释放指针");
  _required_ac();
  _ac->w3c_actions.pointer_action().pointer_up();
  return Value();
}

Value AppKeyWord::key_ac_ele_up(const Args&) {
  // the keyword itself, in a step of its own, not through dispatch
  return member("key_ac_touch_up")();
}

Value AppKeyWord::key_shake(const Args&) {
  auto& d = need_driver();
  const std::string before = d.page_source();
  for (int i = 0; i < 1000; ++i) {
    std::cout << "第" << i << "次摇晃" << std::endl;
    d.execute_script("mobile:execEmuConsoleCommand", List{Value(Dict{{"command", Value("sensor set acceleration 10:20:30")}})});
    d.execute_script("mobile:execEmuConsoleCommand", List{Value(Dict{{"command", Value("sensor set acceleration 0:0:0")}})});
    if (d.page_source() != before) break;
  }
  return Value();
}

}  // namespace tovik
