#include "core/action_chains.hpp"

#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"

namespace tovik {

using webdriver::Origin;

webdriver::PointerActions MyActionChains::new_pointer() {
  ++pointer_count;
  return webdriver::PointerActions(w3c_actions.add_pointer_input("touch", "p_" + std::to_string(pointer_count)));
}

std::shared_ptr<webdriver::PointerInput> MyActionChains::click_by_new_pointer(
    const std::shared_ptr<webdriver::Element>& element, double pause_time) {
  if (!element) throw TypeError("click_by_new_pointer 需要一个元素");
  log::lexa_utils()->info("AC: 新建指针并点击元素 {}", element->id());
  ++pointer_count;
  auto p = w3c_actions.add_pointer_input("touch", 'p' + std::to_string(pointer_count));
  p->create_pointer_move(1, Origin::Element, 0, 0, element);
  p->create_pointer_down(0);
  p->create_pause(pause_time);
  p->create_pointer_up(0);
  return p;
}

namespace {
int whole(const Value& v, const char* name) {
  if (!v.is_int()) throw TypeError("touch_by_new_pointer 的参数 " + std::string(name) + " 应为整数，实际为 " + v.type_name() + ": " + repr(v));
  return static_cast<int>(v.as_int());
}
}  // namespace

std::shared_ptr<webdriver::PointerInput> MyActionChains::touch_by_new_pointer(const Value& start_x, const Value& start_y,
                                                                              const Value& end_x, const Value& end_y,
                                                                              const Value& pause_time) {
  const int sx = whole(start_x, "start_x"), sy = whole(start_y, "start_y");
  const int ex = whole(end_x, "end_x"), ey = whole(end_y, "end_y");
  if (!pause_time.is_number() || pause_time.is_bool())
    throw TypeError("touch_by_new_pointer 的参数 pause_time 应为数字，实际为 " + pause_time.type_name());
  log::lexa_utils()->info("创建指针并滑动屏幕 start_x={}, start_y={} -> end_x={},{}", sx, sy, ex, ey);
  ++pointer_count;
  auto p = w3c_actions.add_pointer_input("touch", 'p' + std::to_string(pointer_count));
  p->create_pointer_move(1, Origin::Viewport, sx, sy);
  p->create_pointer_down(0);
  p->create_pause(pause_time.as_float());
  p->create_pointer_move(1, Origin::Viewport, ex, ey);
  p->create_pointer_up(0);
  return p;
}

}  // namespace tovik
