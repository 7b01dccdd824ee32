#include "runner/plugins/browser_plugin.hpp"

#include "runner/fixtures.hpp"
#include "outside/settings/settings.hpp"
#include "outside/webdriver/factory.hpp"
#include "outside/webdriver/process.hpp"
#include "support/base/value_json.hpp"

namespace tovik::runner {

namespace {

Value open_driver(const Config&, const TestCase&) {
  const auto& ui = settings::tovik_ui();
  return Value(std::shared_ptr<Object>(webdriver::get_webdriver(ui.text("driver_type"), ui.text("selenium_grid"))));
}

void quit_driver(Value& v) {
  if (auto d = v.object_as<webdriver::Driver>()) d->quit();
}

}  // namespace

void BrowserPlugin::register_fixtures(FixtureRegistry& registry) {
  registry.add({"browser", Scope::Case, "本用例专用的浏览器（tovik_ui.driver_type），用例结束后关闭", open_driver, quit_driver});
  registry.add({"browser_session", Scope::Session, "整个运行共用的浏览器，运行结束后关闭", open_driver, quit_driver});
}

void BrowserPlugin::on_session_finish(const Summary&) {
  // whatever keywords opened with new_driver and never quit ends with the run
  webdriver::stop_all_driver_processes();
}

}  // namespace tovik::runner
