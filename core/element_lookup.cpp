// Element lookup and the interactivity test of BaseKeyWord.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "core/base_keyword.hpp"
#include "core/element_scripts.hpp"
#include "core/locator.hpp"
#include "outside/allure/step.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"

namespace tovik {

namespace {

std::string now_stamp() {
  const double t = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6f", t);
  return buf;
}

bool is_browser(webdriver::Driver& d) { return d.capabilities().contains("browserName"); }

// The answer of lookup_script when it has the expected shape.
struct LookupFacts {
  std::string tag;
  webdriver::Rect rect;
  bool ready = false;
};

std::optional<LookupFacts> lookup_facts(const Value& v) {
  if (!v.is_dict()) return std::nullopt;
  const Dict& d = v.as_dict();
  const Value* tag = d.find("tag");
  const Value* ready = d.find("ready");
  if (!tag || !tag->is_str() || !ready || !ready->is_bool()) return std::nullopt;
  LookupFacts f{tag->as_str(), {}, ready->as_bool()};
  double* fields[] = {&f.rect.x, &f.rect.y, &f.rect.width, &f.rect.height};
  const char* names[] = {"x", "y", "width", "height"};
  for (int i = 0; i < 4; ++i) {
    const Value* n = d.find(names[i]);
    if (!n || !n->is_number()) return std::nullopt;
    *fields[i] = n->as_float();
  }
  return f;
}

}  // namespace

std::shared_ptr<webdriver::Element> BaseKeyWord::find_element(const std::string& locator_str) {
  return allure::step("寻找元素", {{"locator", repr(Value(locator_str))}}, [&] {
    const TovikLocator locator(locator_str);
    const auto& logger = log::lexa_utils();
    logger->info("正在定位元素: {}", locator.repr());
    need_driver();
    need_wait();

    const std::string message = "元素定位失败：等待超时， tovik_locator=" + locator.repr();
    const bool browser = is_browser(*driver);
    _lookup_answer.reset();
    const Value touch_css(settings::tovik_ui().text("touch_css"));
    std::shared_ptr<webdriver::Element> found;
    const auto condition = [&](webdriver::Driver&) -> Value {
      logger->debug("{}, 开始等待...", now_stamp());
      const bool below = _activate_ele && locator.value().rfind("./", 0) == 0;
      std::vector<std::shared_ptr<webdriver::Element>> list;
      if (locator.index() == 0) {
        list.push_back(below ? _activate_ele->find_element(locator.by(), locator.value())
                             : driver->find_element(locator.by(), locator.value()));
      } else {
        list = below ? _activate_ele->find_elements(locator.by(), locator.value())
                     : driver->find_elements(locator.by(), locator.value());
      }
      logger->debug("{},找到元素...", now_stamp());
      if (static_cast<std::int64_t>(list.size()) <= locator.index()) {
        logger->info("元素定位成功，但是数量不足: {} <= {}", list.size(), locator.index_text());
        return Value(false);
      }
      auto ele = list[static_cast<std::size_t>(locator.index())];
      const bool toast = locator.value().find("android.widget.Toast") != std::string::npos;
      std::optional<LookupFacts> facts;
      const List element_and_style{Value(std::shared_ptr<Object>(ele)), touch_css};
      if (browser) {
        facts = lookup_facts(driver->execute_script(element_lookup_script(), element_and_style));
        if (facts) _lookup_answer = LookupAnswer{ele, facts->ready};
      }
      if (toast) {
        logger->info("元素定位成功");
      } else if (facts) {
        logger->info("元素定位成功: 【{}】{}", facts->tag, repr(webdriver::to_value(facts->rect)));
      } else {
        logger->info("元素定位成功: 【{}】{}", ele->tag_name(), repr(webdriver::to_value(ele->rect())));
      }
      // the touch style alone, when the one-trip script could not answer
      if (browser && !facts) driver->execute_script("arguments[0].setAttribute('style', arguments[1]);", element_and_style);
      found = ele;
      return Value(std::shared_ptr<Object>(ele));
    };
    try {
      wait->until(condition, message);
    } catch (const TimeoutException&) {
      logger->error("{}", message);
      throw;
    }
    return found;
  });
}

bool BaseKeyWord::can_interactive(const std::shared_ptr<webdriver::Element>& ele) {
  return allure::step("判断元素是否可以交互", {}, [&] {
    need_driver();
    if (!is_browser(*driver)) return ele->is_enabled();
    if (_lookup_answer && _lookup_answer->element == ele) {
      const bool ready = _lookup_answer->interactive;
      _lookup_answer.reset();  // asked once: what follows may change the page
      return ready;
    }
    if (const Value ready = driver->execute_script(element_ready_script(), List{Value(std::shared_ptr<Object>(ele))}); ready.is_bool())
      return ready.as_bool();
    const bool displayed = ele->is_displayed();
    const bool enabled = ele->is_enabled();
    const auto readonly = ele->get_attribute("readonly");
    return displayed && enabled && (!readonly || *readonly == "false");
  });
}

}  // namespace tovik
