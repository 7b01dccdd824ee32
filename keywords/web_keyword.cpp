#include "keywords/web_keyword.hpp"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "core/action_chains.hpp"
#include "keywords/library.hpp"
#include "keywords/web_keyword_docs.hpp"
#include "outside/allure/step.hpp"
#include "outside/settings/settings.hpp"
#include "outside/webdriver/factory.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/base/value_json.hpp"

namespace tovik {

using namespace keyword_docs;

namespace {

Value element_value(const std::shared_ptr<webdriver::Element>& e) { return Value(std::shared_ptr<Object>(e)); }

int pixels(const Value& v, const char* name) {
  if (v.is_int()) return static_cast<int>(v.as_int());
  if (v.is_float() && std::isfinite(v.as_float())) return static_cast<int>(v.as_float());
  if (v.is_str()) {
    char* end = nullptr;
    const long n = std::strtol(v.as_str().c_str(), &end, 10);
    if (!v.as_str().empty() && end && *end == '\0') return static_cast<int>(n);
  }
  throw TypeError("关键字 move 的参数 " + std::string(name) + " 应为整数，实际为 " + v.type_name() + ": " + repr(v));
}

}  // namespace

std::string xpath_literal(const std::string& text) {
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  if (text.find('"') == std::string::npos) return "\"" + text + "\"";
  // both kinds of quote: concat('it', "'", 's "x"')
  std::string out = "concat(";
  std::size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    const auto q = text.find('\'', start);
    const std::string part = text.substr(start, q == std::string::npos ? std::string::npos : q - start);
    if (!part.empty()) {
      out += (first ? "" : ", ") + ("'" + part + "'");
      first = false;
    }
    if (q == std::string::npos) break;
    out += (first ? "" : ", ") + std::string("\"'\"");
    first = false;
    start = q + 1;
  }
  return out + ")";
}

const KeywordClass& WebKeyWord::keyword_class() {
  // configuration defaults as the library read them when it was loaded (see library.hpp)
  const KeywordDefaults& defaults = keyword_defaults();
  static const KeywordClass cls(
      "WebKeyWord", {&BaseKeyWord::keyword_class()},
      {
          keyword<WebKeyWord>("debugger", &WebKeyWord::key_debugger, kDebuggerDoc, "进入调试", {}),
          keyword<WebKeyWord>("shell", &WebKeyWord::key_shell, kShellDoc, "执行脚本命令",
                              {required("scrip", ParamKind::Text), required("scrip_args")}),
          keyword<WebKeyWord>("new_driver", &WebKeyWord::key_new_driver, kNewDriverDoc, "启动新设备",
                              {optional("browser", ParamKind::Text, Value(defaults.driver_type)),
                               optional("hub", ParamKind::Text, Value(defaults.selenium_grid)),
                               optional("capabilities", ParamKind::Text, Value(""))}),
          keyword<WebKeyWord>("goto", &WebKeyWord::key_goto, kGotoDoc, "跳转到指定页面", {required("url", ParamKind::Text)}),
          keyword<WebKeyWord>("touch", &WebKeyWord::key_touch, kTouchDoc, "聚焦元素", {required("locator", ParamKind::Text)}),
          keyword<WebKeyWord>("click", &WebKeyWord::key_click, kClickDoc, "点击元素",
                              {required("locator", ParamKind::Text), optional("force", ParamKind::Any, Value(defaults.force_click))}),
          keyword<WebKeyWord>("input", &WebKeyWord::key_input, kInputDoc, "输入内容",
                              {required("locator", ParamKind::Text), required("content"), optional("clear", ParamKind::Any, Value(true))}),
          keyword<WebKeyWord>("chosen", &WebKeyWord::key_chosen, kChosenDoc, "处理下拉选择",
                              {required("locator", ParamKind::Text), required("value")}),
          keyword<WebKeyWord>("sleep", &WebKeyWord::key_sleep, kSleepDoc, "强制等待", {required("times", ParamKind::TextOrNumber)}),
          keyword<WebKeyWord>("show", &WebKeyWord::key_show, kShowDoc, "展示元素", {required("locator", ParamKind::Text)}),
          keyword<WebKeyWord>("move", &WebKeyWord::key_move, kMoveDoc, "鼠标悬停",
                              {required("locator", ParamKind::Text), optional("x", ParamKind::Any, Value(0)),
                               optional("y", ParamKind::Any, Value(0))}),
          keyword<WebKeyWord>("frame_enter", &WebKeyWord::key_frame_enter, kFrameEnterDoc, "进入frame",
                              {required("locator", ParamKind::Text)}),
          keyword<WebKeyWord>("frame_exit", &WebKeyWord::key_frame_exit, kFrameExitDoc, "返回上一层frame", {}),
          keyword<WebKeyWord>("frame_top", &WebKeyWord::key_frame_top, kFrameTopDoc, "返回顶层frame", {}),
          keyword<WebKeyWord>("alert_ok", &WebKeyWord::key_alert_ok, kAlertOkDoc, "对话框[确定]", {optional("text", ParamKind::Any, Value())}),
          keyword<WebKeyWord>("alert_cancel", &WebKeyWord::key_alert_cancel, kAlertCancelDoc, "对话框[取消]", {}),
          keyword<WebKeyWord>("save", &WebKeyWord::key_save, kSaveDoc, "保存[变量]", {required("var_name"), required("value")}),
          keyword<WebKeyWord>("save_text", &WebKeyWord::key_save_text, kSaveTextDoc, "保存[文本]",
                              {required("locator"), required("var_name"), optional("allow_empty", ParamKind::Any, Value(true))}),
          keyword<WebKeyWord>("save_attr", &WebKeyWord::key_save_attr, kSaveAttrDoc, "保存[元素属性]",
                              {required("locator", ParamKind::Text), required("var_name"), required("attr_name")}),
          keyword<WebKeyWord>("save_title", &WebKeyWord::key_save_title, kSaveTitleDoc, "保存[页面标题]", {required("var_name")}),
          keyword<WebKeyWord>("save_url", &WebKeyWord::key_save_url, kSaveUrlDoc, "保存[URL]", {required("var_name")}),
      });
  return cls;
}

Value WebKeyWord::key_debugger(const Args&) {
  log::lexa()->warn("进入调试，请确保框架处于交互模式！");
  need_driver().debugger();
  return Value();
}

Value WebKeyWord::key_shell(const Args& a) {
  const Value& raw = a["scrip_args"];
  if (!raw.is_str())
    throw TypeError("the JSON object must be str, bytes or bytearray, not " + raw.type_name());
  const Value parsed = parse_json(raw.as_str());
  // the parsed value is one argument: an array is not spread over several
  Value res = need_driver().execute_script(a.text("scrip"), List{parsed});
  log::lexa()->info("命令执行结果:res={}", repr(res));
  return res;
}

Value WebKeyWord::key_new_driver(const Args& a) {
  const auto& logger = log::lexa();
  logger->info("启动新的设备: browser={},hub={}, capabilities={}", repr(a["browser"]), repr(a["hub"]), repr(a["capabilities"]));
  const std::string& caps_text = a.text("capabilities");
  const Value caps = caps_text.empty() ? Value() : parse_json(caps_text);
  driver = webdriver::get_webdriver(a.text("browser"), a.text("hub"), caps);
  if (driver->capabilities().contains("browserName")) {
    try {
      driver->maximize_window();
    } catch (...) {
      logger->info("最大化失败");
    }
  }
  const auto& ui = settings::tovik_ui();
  wait.emplace(driver, ui.number("wait_max"), ui.number("wait_poll"));
  logger->info("新设备启动成功");
  return Value();
}

Value WebKeyWord::key_goto(const Args& a) {
  need_driver().get(a.text("url"));
  return Value();
}

Value WebKeyWord::key_touch(const Args& a) {
  auto ele = find_element(a.text("locator"));
  allure::step("暂存元素", {}, [&] { _activate_ele = ele; });
  return Value();
}

Value WebKeyWord::key_click(const Args& a) {
  auto ele = find_element(a.text("locator"));
  need_wait().until([&](webdriver::Driver&) { return Value(can_interactive(ele)); });
  log::lexa()->info("元素就绪，准备点击... ele.id={}", repr(Value(ele->id())));
  const bool force = a["force"].truthy();
  allure::step("操作元素", {}, [&] {
    if (force) driver->execute_script("return arguments[0].click()", List{element_value(ele)});
    else ele->click();
  });
  return Value();
}

Value WebKeyWord::key_input(const Args& a) {
  auto ele = find_element(a.text("locator"));
  need_wait().until([&](webdriver::Driver&) { return Value(can_interactive(ele)); });
  log::lexa()->info("元素就绪，准备输入... ele.id={}", repr(Value(ele->id())));
  allure::step("操作元素", {}, [&] {
    if (a["clear"].truthy()) ele->clear();
    ele->send_keys(str(a["content"]));
  });
  return Value();
}

Value WebKeyWord::key_chosen(const Args& a) {
  const auto& logger = log::lexa();
  auto box = find_element(a.text("locator"));
  box->click();
  logger->info("加载选项...");
  logger->debug("{}", box->text());
  // The literal keeps quotes in the option text intact, so options such as "it's" can be chosen.
  const std::string xpath = "./div/ul/li[text()=" + xpath_literal(str(a["value"])) + "]";
  std::shared_ptr<webdriver::Element> option;
  need_wait().until([&](webdriver::Driver&) {
    option = box->find_element("xpath", xpath);
    return Value(true);
  });
  logger->info("选中选项： [{}: {}]", option->tag_name(), option->text());
  option->click();
  logger->info("点击选项");
  return Value();
}

Value WebKeyWord::key_sleep(const Args& a) {
  log::lexa()->info("强制等待");
  const double secs = float_of(a["times"]);
  if (secs < 0) throw ValueError("sleep 的时长应为不小于 0 的秒数，实际为 " + repr(a["times"]));
  if (secs == 0) return Value();
  timespec ts;
  ts.tv_sec = static_cast<time_t>(secs);
  ts.tv_nsec = static_cast<long>((secs - static_cast<double>(ts.tv_sec)) * 1e9);
  // A signal (Ctrl-C) ends the sleep early, so the run can stop after this keyword.
  nanosleep(&ts, nullptr);
  return Value();
}

Value WebKeyWord::key_show(const Args& a) {
  auto ele = find_element(a.text("locator"));
  driver->execute_script("arguments[0].scrollIntoView(true)", List{element_value(ele)});
  return Value();
}

Value WebKeyWord::key_move(const Args& a) {
  const auto& logger = log::lexa();
  logger->info("鼠标悬停: locator={}, x={}, y={}", repr(a["locator"]), repr(a["x"]), repr(a["y"]));
  const int x = pixels(a["x"], "x"), y = pixels(a["y"], "y");
  auto ele = find_element(a.text("locator"));
  MyActionChains chain(driver);
  chain.move_to_element_with_offset(ele, x, y);
  chain.perform();
  logger->info("鼠标悬停完成: elm.rect={}, x={}, y={}", repr(webdriver::to_value(ele->rect())), repr(a["x"]), repr(a["y"]));
  return Value();
}

Value WebKeyWord::key_frame_enter(const Args& a) {
  log::lexa()->info("进入frame locator={}", repr(a["locator"]));
  auto ele = find_element(a.text("locator"));
  if (ele->tag_name() != "iframe") throw AssertionError();
  driver->switch_to_frame(ele);
  return Value();
}

Value WebKeyWord::key_frame_exit(const Args&) {
  log::lexa()->info("返回上一层frame");
  need_driver().switch_to_parent_frame();
  return Value();
}

Value WebKeyWord::key_frame_top(const Args&) {
  log::lexa()->info("返回顶层frame");
  need_driver().switch_to_default_content();
  return Value();
}

std::shared_ptr<webdriver::Alert> WebKeyWord::_wait_alert(webdriver::Driver& d) {
  try {
    return d.switch_to_alert();
  } catch (const WebDriverException&) {
    return nullptr;
  }
}

std::shared_ptr<webdriver::Alert> WebKeyWord::wait_for_alert() {
  std::shared_ptr<webdriver::Alert> alert;
  need_wait().until([&](webdriver::Driver& d) {
    alert = _wait_alert(d);
    return Value(alert != nullptr);
  });
  return alert;
}

Value WebKeyWord::key_alert_ok(const Args& a) {
  log::lexa()->info("为alert点击[确定]");
  auto alert = wait_for_alert();
  if (a["text"].truthy()) alert->send_keys(str(a["text"]));
  alert->accept();
  return Value();
}

Value WebKeyWord::key_alert_cancel(const Args&) {
  log::lexa()->info("为alert点击[取消]");
  wait_for_alert()->dismiss();
  return Value();
}

Value WebKeyWord::key_save(const Args& a) {
  log::lexa()->info("保存变量: 【{}】 = {}", str(a["var_name"]), str(a["value"]));
  set_vars(str(a["var_name"]), a["value"]);
  return Value();
}

Value WebKeyWord::key_save_text(const Args& a) {
  const Value& locator = a["locator"];
  if (!locator.is_str()) throw TypeError("'" + locator.type_name() + "' object has no attribute 'lower'");
  std::string text;
  if (iequals(locator.as_str(), "alert")) {
    text = wait_for_alert()->text();
  } else if (a["allow_empty"].truthy()) {
    text = find_element(locator.as_str())->text();
  } else {
    need_wait().until([&](webdriver::Driver&) {
      text = find_element(locator.as_str())->text();
      return Value(!text.empty());
    });
  }
  set_vars(str(a["var_name"]), Value(text));
  return Value();
}

Value WebKeyWord::key_save_attr(const Args& a) {
  auto ele = find_element(a.text("locator"));
  const auto attr = ele->get_attribute(str(a["attr_name"]));
  set_vars(str(a["var_name"]), attr ? Value(*attr) : Value());
  return Value();
}

Value WebKeyWord::key_save_title(const Args& a) {
  set_vars(str(a["var_name"]), Value(need_driver().title()));
  return Value();
}

Value WebKeyWord::key_save_url(const Args& a) {
  set_vars(str(a["var_name"]), Value(need_driver().current_url()));
  return Value();
}

}  // namespace tovik
