// The lookup scripts against headless Chromium: for elements of many kinds, what one script
// answers must be what chromedriver's separate commands answer.
#include "core/element_scripts.hpp"

#include <gtest/gtest.h>

#include "outside/settings/settings.hpp"
#include "outside/webdriver/factory.hpp"
#include "outside/webdriver/process.hpp"
#include "outside/webdriver/w3c_test_endpoint.hpp"
#include "outside/webdriver/w3c_test_process.hpp"
#include "support/base/printable.hpp"

namespace tovik {
namespace {

using webdriver::w3c_testing::LocalServer;
using webdriver::w3c_testing::ScopedEnv;
using webdriver::w3c_testing::TempDir;

constexpr const char* kPage = R"html(<!doctype html>
<html><head><title>kinds</title></head><body style="margin: 0">
<input id="plain" value="x">
<input id="ro" readonly value="x">
<input id="ro-false" readonly="false" value="x">
<input id="off" disabled value="x">
<textarea id="ro-area" readonly></textarea>
<fieldset disabled><button id="in-off-fieldset">b</button></fieldset>
<div id="none" style="display: none">n<span id="in-none">s</span></div>
<span id="invisible" style="visibility: hidden">v</span>
<div id="collapse" style="visibility: collapse">c</div>
<div id="zero" style="width: 0; height: 0; overflow: visible"><span id="zero-child" style="display: inline-block; width: 10px; height: 10px"></span></div>
<div id="empty"></div>
<div id="transparent" style="opacity: 0">t</div>
<div style="opacity: 0"><span id="in-transparent">t</span></div>
<div id="div-ro" readonly>d</div>
<div id="editable" contenteditable="true">e</div>
<input id="hidden-input" type="hidden" value="h">
<select id="shown-select"><option id="opt">o</option></select>
<select id="hidden-select" style="display: none"><option id="hidden-opt">o</option></select>
<svg width="20" height="20"><linearGradient id="grad"></linearGradient><rect id="svg-rect" width="10" height="10"/></svg>
<a id="link" href="#">link</a>
<div id="far" style="position: absolute; left: 13.5px; top: 2000.75px; width: 40.5px; height: 7.25px">far</div>
<div id="none-sized" style="display: none; width: 30.6px; height: 5px">n</div>
</body></html>)html";

class LookupScripts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (chrome_missing()) return;
    tmp = new TempDir;
    for (const char* name : {"TOVIK_UI_SELENIUM_GRID", "TOVIK_UI_CHROMEDRIVER_PATH", "TOVIK_UI_CAPABILITIES", "TOVIK_UI_CHROME_BINARY"})
      env.push_back(new ScopedEnv(name, std::nullopt));
    env.push_back(new ScopedEnv("TOVIK_UI_HEADLESS", "true"));
    env.push_back(new ScopedEnv("TMPDIR", tmp->path()));
    settings::tovik_ui().reload_settings();
    pages = new LocalServer;
    pages->server().Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content(kPage, "text/html"); });
    pages->start();
    driver = webdriver::get_webdriver("Chrome");
  }
  static void TearDownTestSuite() {
    if (driver) driver->quit();
    driver.reset();
    delete pages;
    for (auto* e : env) delete e;
    env.clear();
    settings::tovik_ui().reload_settings();
    delete tmp;
  }
  void SetUp() override {
    if (chrome_missing()) GTEST_SKIP() << "chromedriver is not installed (apt-get install chromium chromium-driver)";
  }
  static bool chrome_missing() {
    return find_program("chromedriver").empty() && find_program("/usr/bin/chromedriver").empty();
  }

  static inline LocalServer* pages = nullptr;
  static inline TempDir* tmp = nullptr;
  static inline std::vector<ScopedEnv*> env;
  static inline std::shared_ptr<webdriver::Driver> driver;
};

// The mark replaces the element's inline style, and readiness is asked after it, as the
// separate commands were: both ways are compared on a freshly loaded page each.
TEST_F(LookupScripts, AnswerAsTheDriversSeparateCommandsDo) {
  const std::string mark = "outline: 1px solid red;";
  const auto element = [&](const std::string& id) {
    driver->get(pages->url() + "/");
    return driver->find_element("css selector", "#" + id);
  };
  const auto ready_by_commands = [](webdriver::Element& e) {
    const auto readonly = e.get_attribute("readonly");
    return e.is_displayed() && e.is_enabled() && (!readonly || *readonly == "false");
  };
  for (const char* id : {"plain", "ro", "ro-false", "off", "ro-area", "in-off-fieldset", "none", "in-none", "invisible",
                         "collapse", "zero", "zero-child", "empty", "transparent", "in-transparent", "div-ro", "editable",
                         "hidden-input", "shown-select", "opt", "hidden-select", "hidden-opt", "grad", "svg-rect", "link",
                         "far", "none-sized"}) {
    SCOPED_TRACE(id);
    auto e = element(id);
    const bool ready_unmarked = ready_by_commands(*e);
    EXPECT_EQ(repr(driver->execute_script(element_ready_script(), List{Value(std::shared_ptr<Object>(e))})),
              repr(Value(ready_unmarked)));

    const std::string tag = e->tag_name();
    const Value rect = webdriver::to_value(e->rect());
    driver->execute_script("arguments[0].setAttribute('style', arguments[1]);", List{Value(std::shared_ptr<Object>(e)), Value(mark)});
    const bool ready = ready_by_commands(*e);

    e = element(id);
    const Value answer = driver->execute_script(element_lookup_script(), List{Value(std::shared_ptr<Object>(e)), Value(mark)});
    ASSERT_TRUE(answer.is_dict()) << repr(answer);
    const Dict& d = answer.as_dict();
    EXPECT_EQ(repr(d.at("tag")), repr(Value(tag)));
    EXPECT_EQ(repr(d.at("ready")), repr(Value(ready)));
    for (const char* k : {"x", "y", "width", "height"}) EXPECT_EQ(repr(d.at(k)), repr(rect.as_dict().at(k))) << k;
    EXPECT_EQ(e->get_attribute("style"), std::optional<std::string>(mark));
  }
}

}  // namespace
}  // namespace tovik
