// W3C actions: input sources with their queued actions, sent to the driver in one request.
// The shapes follow the WebDriver standard's "Perform Actions" payload.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "outside/webdriver/driver.hpp"
#include "support/base/value_json.hpp"

namespace tovik::webdriver {

// The key of a web element reference on the wire.
inline constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";

class InputSource {
 public:
  InputSource(std::string type, std::string id) : type_(std::move(type)), id_(std::move(id)) {}
  virtual ~InputSource() = default;
  const std::string& id() const { return id_; }
  const std::string& type() const { return type_; }
  const std::vector<Json>& actions() const { return actions_; }
  void add(Json action) { actions_.push_back(std::move(action)); }
  void clear() { actions_.clear(); }
  // Pause of the given seconds (milliseconds on the wire, cut to an integer).
  void create_pause(double seconds);
  virtual Json encode() const;

 protected:
  std::string type_, id_;
  std::vector<Json> actions_;
};

enum class Origin { Viewport, Pointer, Element };

class PointerInput : public InputSource {
 public:
  // kind: "mouse", "touch" or "pen"
  PointerInput(std::string kind, std::string name) : InputSource("pointer", std::move(name)), kind_(std::move(kind)) {}
  const std::string& kind() const { return kind_; }
  // duration in milliseconds; with an element origin, x and y are offsets from its centre
  void create_pointer_move(int duration_ms, Origin origin, int x, int y, const std::shared_ptr<Element>& element = nullptr);
  void create_pointer_down(int button = 0);
  void create_pointer_up(int button = 0);
  Json encode() const override;

 private:
  std::string kind_;
};

class KeyInput : public InputSource {
 public:
  explicit KeyInput(std::string name) : InputSource("key", std::move(name)) {}
  void create_key_down(const std::string& key);
  void create_key_up(const std::string& key);
};

// The queue of one pointer, with the usual move duration.
class PointerActions {
 public:
  explicit PointerActions(std::shared_ptr<PointerInput> source, int duration_ms = 250)
      : source_(std::move(source)), duration_(duration_ms) {}
  PointerActions& move_to(const std::shared_ptr<Element>& element, int x = 0, int y = 0);
  PointerActions& move_to_location(int x, int y);
  PointerActions& move_by(int x, int y);
  PointerActions& pointer_down(int button = 0);
  PointerActions& pointer_up(int button = 0);
  PointerActions& click(const std::shared_ptr<Element>& element = nullptr);
  PointerActions& pause(double seconds);
  const std::shared_ptr<PointerInput>& source() const { return source_; }

 private:
  std::shared_ptr<PointerInput> source_;
  int duration_;
};

// All input sources of one gesture; perform() sends those with actions and empties them.
class ActionBuilder {
 public:
  explicit ActionBuilder(std::shared_ptr<Driver> driver, int duration_ms = 250);
  // With the given pointer in place of the default mouse (a touch pointer for swipes).
  ActionBuilder(std::shared_ptr<Driver> driver, std::shared_ptr<PointerInput> pointer, int duration_ms = 250);
  std::shared_ptr<PointerInput> add_pointer_input(const std::string& kind, const std::string& name);
  std::shared_ptr<KeyInput> add_key_input(const std::string& name);
  const std::vector<std::shared_ptr<InputSource>>& devices() const { return devices_; }
  PointerActions& pointer_action() { return pointer_action_; }
  const std::shared_ptr<KeyInput>& key_input() const { return key_; }
  // {"actions": [encoded sources that have actions]}
  Json encode() const;
  void perform();
  void clear_actions();

 private:
  std::shared_ptr<Driver> driver_;
  std::vector<std::shared_ptr<InputSource>> devices_;
  std::shared_ptr<PointerInput> mouse_;
  std::shared_ptr<KeyInput> key_;
  PointerActions pointer_action_;
};

// A chain of user actions on the default mouse and keyboard, performed together.
class ActionChains {
 public:
  explicit ActionChains(std::shared_ptr<Driver> driver, int duration_ms = 250);
  virtual ~ActionChains() = default;

  ActionChains& move_to_element(const std::shared_ptr<Element>& element);
  ActionChains& move_to_element_with_offset(const std::shared_ptr<Element>& element, int x, int y);
  ActionChains& move_by_offset(int x, int y);
  ActionChains& click(const std::shared_ptr<Element>& element = nullptr);
  ActionChains& click_and_hold(const std::shared_ptr<Element>& element = nullptr);
  ActionChains& release(const std::shared_ptr<Element>& element = nullptr);
  ActionChains& pause(double seconds);
  void perform();
  void reset_actions();

  ActionBuilder w3c_actions;

 protected:
  std::shared_ptr<Driver> driver_;
};

}  // namespace tovik::webdriver
