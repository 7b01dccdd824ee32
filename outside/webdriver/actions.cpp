#include "outside/webdriver/actions.hpp"

#include <cmath>

#include "support/base/errors.hpp"

namespace tovik::webdriver {

void InputSource::create_pause(double seconds) {
  add(Json{{"type", "pause"}, {"duration", static_cast<long long>(seconds * 1000)}});
}

Json InputSource::encode() const {
  Json j = {{"type", type_}, {"id", id_}, {"actions", Json::array()}};
  for (const auto& a : actions_) j["actions"].push_back(a);
  return j;
}

void PointerInput::create_pointer_move(int duration_ms, Origin origin, int x, int y, const std::shared_ptr<Element>& element) {
  Json a = {{"type", "pointerMove"}, {"duration", duration_ms}, {"x", x}, {"y", y}};
  switch (origin) {
    case Origin::Viewport: a["origin"] = "viewport"; break;
    case Origin::Pointer: a["origin"] = "pointer"; break;
    case Origin::Element:
      if (!element) throw ValueError("a pointer move to an element needs the element");
      a["origin"] = Json{{kElementKey, element->id()}};
      break;
  }
  add(std::move(a));
}

void PointerInput::create_pointer_down(int button) { add(Json{{"type", "pointerDown"}, {"button", button}}); }
void PointerInput::create_pointer_up(int button) { add(Json{{"type", "pointerUp"}, {"button", button}}); }

Json PointerInput::encode() const {
  Json j = InputSource::encode();
  j["parameters"] = Json{{"pointerType", kind_}};
  return j;
}

void KeyInput::create_key_down(const std::string& key) { add(Json{{"type", "keyDown"}, {"value", key}}); }
void KeyInput::create_key_up(const std::string& key) { add(Json{{"type", "keyUp"}, {"value", key}}); }

PointerActions& PointerActions::move_to(const std::shared_ptr<Element>& element, int x, int y) {
  source_->create_pointer_move(duration_, Origin::Element, x, y, element);
  return *this;
}
PointerActions& PointerActions::move_to_location(int x, int y) {
  source_->create_pointer_move(duration_, Origin::Viewport, x, y);
  return *this;
}
PointerActions& PointerActions::move_by(int x, int y) {
  source_->create_pointer_move(duration_, Origin::Pointer, x, y);
  return *this;
}
PointerActions& PointerActions::pointer_down(int button) {
  source_->create_pointer_down(button);
  return *this;
}
PointerActions& PointerActions::pointer_up(int button) {
  source_->create_pointer_up(button);
  return *this;
}
PointerActions& PointerActions::click(const std::shared_ptr<Element>& element) {
  if (element) move_to(element);
  return pointer_down().pointer_up();
}
PointerActions& PointerActions::pause(double seconds) {
  source_->create_pause(seconds);
  return *this;
}

ActionBuilder::ActionBuilder(std::shared_ptr<Driver> driver, int duration_ms)
    : ActionBuilder(std::move(driver), std::make_shared<PointerInput>("mouse", "mouse"), duration_ms) {}

ActionBuilder::ActionBuilder(std::shared_ptr<Driver> driver, std::shared_ptr<PointerInput> pointer, int duration_ms)
    : driver_(std::move(driver)),
      mouse_(pointer ? std::move(pointer) : std::make_shared<PointerInput>("mouse", "mouse")),
      key_(std::make_shared<KeyInput>("keyboard")),
      pointer_action_(mouse_, duration_ms) {
  devices_.push_back(mouse_);
  devices_.push_back(key_);
}

std::shared_ptr<PointerInput> ActionBuilder::add_pointer_input(const std::string& kind, const std::string& name) {
  auto p = std::make_shared<PointerInput>(kind, name);
  devices_.push_back(p);
  return p;
}

std::shared_ptr<KeyInput> ActionBuilder::add_key_input(const std::string& name) {
  auto k = std::make_shared<KeyInput>(name);
  devices_.push_back(k);
  return k;
}

Json ActionBuilder::encode() const {
  Json j = {{"actions", Json::array()}};
  for (const auto& d : devices_)
    if (!d->actions().empty()) j["actions"].push_back(d->encode());
  return j;
}

void ActionBuilder::perform() {
  if (!driver_) throw ValueError("actions need a driver");
  const Json payload = encode();
  clear_actions();
  driver_->perform_actions(payload);
}

void ActionBuilder::clear_actions() {
  for (const auto& d : devices_) d->clear();
}

ActionChains::ActionChains(std::shared_ptr<Driver> driver, int duration_ms)
    : w3c_actions(driver, duration_ms), driver_(std::move(driver)) {}

// Every mouse action gets a keyboard pause, so the two sources stay on the same tick.
ActionChains& ActionChains::move_to_element(const std::shared_ptr<Element>& element) {
  w3c_actions.pointer_action().move_to(element);
  w3c_actions.key_input()->create_pause(0);
  return *this;
}
ActionChains& ActionChains::move_to_element_with_offset(const std::shared_ptr<Element>& element, int x, int y) {
  w3c_actions.pointer_action().move_to(element, x, y);
  w3c_actions.key_input()->create_pause(0);
  return *this;
}
ActionChains& ActionChains::move_by_offset(int x, int y) {
  w3c_actions.pointer_action().move_by(x, y);
  w3c_actions.key_input()->create_pause(0);
  return *this;
}
ActionChains& ActionChains::click(const std::shared_ptr<Element>& element) {
  if (element) move_to_element(element);
  w3c_actions.pointer_action().click();
  w3c_actions.key_input()->create_pause(0);
  w3c_actions.key_input()->create_pause(0);
  return *this;
}
ActionChains& ActionChains::click_and_hold(const std::shared_ptr<Element>& element) {
  if (element) move_to_element(element);
  w3c_actions.pointer_action().pointer_down();
  w3c_actions.key_input()->create_pause(0);
  return *this;
}
ActionChains& ActionChains::release(const std::shared_ptr<Element>& element) {
  if (element) move_to_element(element);
  w3c_actions.pointer_action().pointer_up();
  w3c_actions.key_input()->create_pause(0);
  return *this;
}
ActionChains& ActionChains::pause(double seconds) {
  w3c_actions.pointer_action().pause(seconds);
  w3c_actions.key_input()->create_pause(seconds);
  return *this;
}
void ActionChains::perform() { w3c_actions.perform(); }
void ActionChains::reset_actions() {
  w3c_actions.clear_actions();
  if (driver_) driver_->release_actions();
}

}  // namespace tovik::webdriver
