#include "core/base_keyword.hpp"

#include <iostream>

#include "core/base_keyword_docs.hpp"
#include "core/validator.hpp"
#include "outside/allure/step.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"

namespace tovik {

using namespace keyword_docs;

Value KeywordCall::operator()(const List& args, const Dict& kwargs) const {
  if (!logged_) return entry_->invoke(*self_, args, kwargs);
  if (!kwargs.empty())
    throw TypeError("关键字 " + entry_->name + " 只接受位置参数，不接受命名参数 " + repr(Value(kwargs)));
  const auto& logger = log::lexa_utils();
  logger->info("正在执行关键字: 【{}】{}", entry_->name, repr(Value::tuple(entry_->shown(args))));
  Value result = entry_->invoke(*self_, args);
  logger->info("关键字执行完毕 ");
  return result;
}

BaseKeyWord::BaseKeyWord(std::shared_ptr<Exchange> exchanger_, Value usefixtures_)
    : exchanger(std::move(exchanger_)) {
  if (!usefixtures_.is_dict())
    throw TypeError("usefixtures 应为字典（fixture 名称到值的映射），实际为 " + usefixtures_.type_name());
  usefixtures = std::move(usefixtures_.as_dict());
}

const KeywordClass& BaseKeyWord::keyword_class() {
  static const KeywordClass cls(
      "BaseKeyWord", {},
      {
          keyword<BaseKeyWord>("assert", &BaseKeyWord::key_assert, kAssertDoc, "执行断言",
                               {required("value"), required("assert_name", ParamKind::Text),
                                optional("actual_value", ParamKind::Any, Value(""))}),
          keyword<BaseKeyWord>("set_driver", &BaseKeyWord::key_set_driver, kSetDriverDoc, "从fixtures请求浏览器",
                               {required("fixture_name", ParamKind::Text)}),
      });
  return cls;
}

namespace {

// The keyword name inside a dispatch name: the text after the first "_key_", up to the next one.
std::optional<std::string_view> dispatch_name(std::string_view name) {
  const auto first = name.find(BaseKeyWord::_key_prefix);
  if (first == std::string_view::npos) return std::nullopt;
  std::string_view rest = name.substr(first + BaseKeyWord::_key_prefix.size());
  return rest.substr(0, rest.find(BaseKeyWord::_key_prefix));
}

constexpr std::string_view kMethodPrefix = "key_";

}  // namespace

KeywordCall BaseKeyWord::member(std::string_view name) {
  const KeywordClass& cls = klass();
  // A real member: the keyword method itself, without the dispatch log lines.
  if (name.substr(0, kMethodPrefix.size()) == kMethodPrefix) {
    if (const KeywordEntry* entry = cls.find(name.substr(kMethodPrefix.size()))) return KeywordCall(this, entry, false);
  }
  const auto keyword = dispatch_name(name);
  if (!keyword) throw AttributeError("不存在的关键字成员：" + std::string(name));
  if (!cls.has_keyword(*keyword)) throw AttributeError("不存在的关键字：" + std::string(*keyword));
  return KeywordCall(this, cls.find(*keyword), true);
}

bool BaseKeyWord::has_member(std::string_view name) const {
  const KeywordClass& cls = klass();
  if (name.substr(0, kMethodPrefix.size()) == kMethodPrefix && cls.find(name.substr(kMethodPrefix.size())))
    return true;
  const auto keyword = dispatch_name(name);
  return keyword && cls.has_keyword(*keyword);
}

namespace {
const char* const kNoDevice = "尚未启动设备：请先使用 new_driver 或 set_driver 关键字";
}

webdriver::Driver& BaseKeyWord::need_driver() {
  if (!driver) throw ValueError(kNoDevice);
  return *driver;
}

webdriver::WebDriverWait& BaseKeyWord::need_wait() {
  if (!wait) throw ValueError(kNoDevice);
  return *wait;
}

void BaseKeyWord::print_key_doc(std::ostream& out) const { klass().print_key_doc(out); }
void BaseKeyWord::print_key_doc() const { klass().print_key_doc(std::cout); }

void BaseKeyWord::set_vars(const std::string& var_name, Value value) {
  allure::step("设置变量", {{"var_name", repr(Value(var_name))}, {"value", repr(value)}}, [&] {
    if (!exchanger) throw ValueError("没有变量存储，无法保存变量 " + var_name);
    exchanger->file.set(var_name, std::move(value));
  });
}

void BaseKeyWord::attach_failure_evidence() {
  if (!driver) return;
  webdriver::Evidence e;
  try {
    e = driver->failure_evidence(kEvidenceSeconds);
  } catch (const std::exception& error) {
    log::lexa()->warn("未能取得失败现场（截图、源码）：{}", error.what());
    return;
  }
  if (!e.screenshot_png.empty()) allure::attach("失败截图", "image/png", std::move(e.screenshot_png));
  if (!e.source.empty())
    allure::attach(e.app ? "界面源码" : "页面源码", e.app ? "text/xml" : "text/html", std::move(e.source));
  if (!e.console_log.empty()) allure::attach("浏览器控制台日志", "text/plain", std::move(e.console_log));
}

Value BaseKeyWord::key_set_driver(const Args& a) {
  const Value& fixture = usefixtures.at(a.text("fixture_name"));
  auto d = fixture.object_as<webdriver::Driver>();
  if (!d) throw AssertionError();
  driver = d;
  if (driver->capabilities().contains("browserName")) {
    try {
      driver->maximize_window();
    } catch (...) {
      log::lexa_utils()->info("最大化失败");
    }
  }
  const auto& ui = settings::tovik_ui();
  wait.emplace(driver, ui.number("wait_max"), ui.number("wait_poll"));
  return Value();
}

Value BaseKeyWord::key_assert(const Args& a) {
  const Value& value = a["value"];
  const Value& assert_name = a["assert_name"];
  const Value& actual_value = a["actual_value"];
  log::lexa_utils()->info("正在断言 value={}, assert_name={}, actual_value={}", repr(value), repr(assert_name),
                          repr(actual_value));
  Validator(*this, value, assert_name.as_str(), actual_value);
  return Value();
}

}  // namespace tovik
