// Headless Chromium through chromedriver, started by the factory, on pages served by the test.
#include <signal.h>

#include <algorithm>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "outside/settings/settings.hpp"
#include "outside/webdriver/actions.hpp"
#include "outside/webdriver/factory.hpp"
#include "outside/webdriver/process.hpp"
#include "outside/webdriver/w3c_test_endpoint.hpp"
#include "outside/webdriver/w3c_test_process.hpp"
#include "support/base/errors.hpp"

namespace tovik::webdriver {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using w3c_testing::LocalServer;
using w3c_testing::ScopedEnv;
using w3c_testing::TempDir;

constexpr const char* kPage = R"html(<!doctype html>
<html><head><title>tovik test page</title></head><body>
<h1 id="heading" class="title main">Welcome</h1>
<input id="user" name="username" class="field" data-role="login">
<input id="agree" type="checkbox">
<button id="go" type="button" onclick="document.getElementById('out').textContent = 'clicked ' + (++window.clicks)">Go</button>
<button id="off" disabled>Off</button>
<div id="out"></div>
<div id="hidden" style="display:none">secret</div>
<div id="box" style="position:absolute; left:20px; top:400px; width:200px; height:50px">box</div>
<span id="a.b:c">odd id</span>
<ul id="list"><li class="item">one</li><li class="item">two</li><li class="item">three</li></ul>
<button id="alert" onclick="alert('hello')">alert</button>
<button id="confirm" onclick="document.getElementById('result').textContent = String(confirm('sure?'))">confirm</button>
<button id="prompt" onclick="document.getElementById('result').textContent = String(prompt('name?'))">prompt</button>
<div id="result"></div>
<iframe id="f1" src="/frame1"></iframe>
<script>window.clicks = 0;</script>
</body></html>)html";

std::string chromedriver() {
  std::string p = find_program("chromedriver");
  return p.empty() ? find_program("/usr/bin/chromedriver") : p;
}

pid_t new_driver_pid(const std::vector<pid_t>& before) {
  for (pid_t p : live_driver_processes()) {
    if (std::find(before.begin(), before.end(), p) == before.end()) return p;
  }
  return -1;
}

// Settings, a temporary directory and the page server for a suite.
class ChromeSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (chromedriver().empty()) return;
    tmp = new TempDir;
    for (const char* name : {"TOVIK_UI_SELENIUM_GRID", "TOVIK_UI_CHROMEDRIVER_PATH", "TOVIK_UI_CAPABILITIES", "TOVIK_UI_CHROME_BINARY"}) {
      env.push_back(new ScopedEnv(name, std::nullopt));
    }
    env.push_back(new ScopedEnv("TOVIK_UI_HEADLESS", "true"));
    env.push_back(new ScopedEnv("TMPDIR", tmp->path()));
    settings::tovik_ui().reload_settings();

    pages = new LocalServer;
    auto html = [](const std::string& body) {
      return [body](const httplib::Request&, httplib::Response& res) { res.set_content(body, "text/html; charset=utf-8"); };
    };
    pages->server().Get("/", html(kPage));
    pages->server().Get("/frame1", html("<p id=\"one\">level one</p><iframe id=\"f2\" src=\"/frame2\"></iframe>"));
    pages->server().Get("/frame2", html("<p id=\"deep\">level two</p>"));
    pages->start();
  }

  static void TearDownTestSuite() {
    delete pages;
    pages = nullptr;
    for (auto* e : env) delete e;
    env.clear();
    settings::tovik_ui().reload_settings();
    delete tmp;
    tmp = nullptr;
  }

  void SetUp() override {
    if (chromedriver().empty()) GTEST_SKIP() << "chromedriver is not installed (apt-get install chromium chromium-driver)";
  }

  static inline LocalServer* pages = nullptr;
  static inline TempDir* tmp = nullptr;
  static inline std::vector<ScopedEnv*> env;
};

// One browser for the whole suite, back on the test page before every test.
class Chrome : public ChromeSuite {
 protected:
  static void SetUpTestSuite() {
    ChromeSuite::SetUpTestSuite();
    if (!chromedriver().empty()) driver = get_webdriver("Chrome");
  }
  static void TearDownTestSuite() {
    if (driver) driver->quit();
    driver.reset();
    ChromeSuite::TearDownTestSuite();
  }
  void SetUp() override {
    ChromeSuite::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(driver);
    driver->get(pages->url() + "/");
  }
  static std::shared_ptr<Element> css(const std::string& selector) { return driver->find_element("css selector", selector); }

  static inline std::shared_ptr<Driver> driver;
};

TEST_F(Chrome, Navigation) {
  EXPECT_EQ(driver->title(), "tovik test page");
  EXPECT_EQ(driver->current_url(), pages->url() + "/");
  EXPECT_THAT(driver->page_source(), HasSubstr("Welcome"));
  EXPECT_EQ(driver->capabilities().at("browserName"), Value("chrome"));
}

TEST_F(Chrome, LocatorStrategies) {
  EXPECT_EQ(css("h1.title")->text(), "Welcome");
  EXPECT_EQ(driver->find_element("xpath", "//h1[@id='heading']")->text(), "Welcome");
  EXPECT_EQ(driver->find_element("id", "heading")->text(), "Welcome");
  EXPECT_EQ(driver->find_element("id", "a.b:c")->text(), "odd id");
  EXPECT_EQ(driver->find_element("name", "username")->get_attribute("id"), std::optional<std::string>("user"));
  EXPECT_EQ(driver->find_element("class name", "main")->text(), "Welcome");
  EXPECT_EQ(driver->find_element("tag name", "h1")->text(), "Welcome");
  EXPECT_EQ(driver->find_elements("class name", "item").size(), 3u);
  EXPECT_TRUE(driver->find_elements("id", "nothing-here").empty());

  auto list = driver->find_element("id", "list");
  auto items = list->find_elements("tag name", "li");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2]->text(), "three");
  EXPECT_EQ(list->find_element("xpath", "./li[2]")->text(), "two");

  try {
    driver->find_element("id", "nothing-here");
    FAIL();
  } catch (const NoSuchElementException& e) {
    EXPECT_THAT(e.what(), HasSubstr("no such element"));
    EXPECT_THAT(e.what(), Not(HasSubstr("Session info")));
  }
  EXPECT_THROW(list->find_element("class name", "nothing"), NoSuchElementException);
  try {
    driver->find_element("xpath", "//*[");
    FAIL();
  } catch (const NoSuchElementException&) {
    FAIL() << "a broken selector is not a missing element";
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("invalid selector"));
  }
}

TEST_F(Chrome, ElementInteraction) {
  auto user = driver->find_element("id", "user");
  EXPECT_EQ(user->tag_name(), "input");
  user->send_keys("alice");
  EXPECT_EQ(user->get_attribute("value"), std::optional<std::string>("alice"));  // the property
  EXPECT_EQ(user->get_attribute("data-role"), std::optional<std::string>("login"));
  EXPECT_EQ(user->get_attribute("class"), std::optional<std::string>("field"));
  EXPECT_EQ(user->get_attribute("data-missing"), std::nullopt);
  user->clear();
  EXPECT_EQ(user->get_attribute("value"), std::optional<std::string>(""));

  auto agree = driver->find_element("id", "agree");
  EXPECT_EQ(agree->get_attribute("checked"), std::nullopt);
  agree->click();
  EXPECT_EQ(agree->get_attribute("checked"), std::optional<std::string>("true"));

  driver->find_element("id", "go")->click();
  EXPECT_EQ(driver->find_element("id", "out")->text(), "clicked 1");

  Rect r = driver->find_element("id", "box")->rect();
  EXPECT_EQ(r.x, 20);
  EXPECT_EQ(r.y, 400);
  EXPECT_EQ(r.width, 200);
  EXPECT_EQ(r.height, 50);

  EXPECT_TRUE(driver->find_element("id", "heading")->is_displayed());
  EXPECT_FALSE(driver->find_element("id", "hidden")->is_displayed());
  EXPECT_TRUE(driver->find_element("id", "go")->is_enabled());
  EXPECT_FALSE(driver->find_element("id", "off")->is_enabled());
}

TEST_F(Chrome, ScriptsTakeAndReturnElements) {
  auto heading = driver->find_element("id", "heading");
  Value id = driver->execute_script("return arguments[0].id + ':' + arguments[1];", List{Value(std::static_pointer_cast<Object>(heading)), 7});
  EXPECT_EQ(id, Value("heading:7"));
  Value nested = driver->execute_script("return arguments[0].el.tagName;", List{Value(Dict{{"el", Value(std::static_pointer_cast<Object>(heading))}})});
  EXPECT_EQ(nested, Value("H1"));

  Value items = driver->execute_script("return {all: document.querySelectorAll('li.item'), n: 3};", {});
  ASSERT_TRUE(items.is_dict());
  const auto& all = items.as_dict().at("all").as_list();
  ASSERT_EQ(all.size(), 3u);
  auto first = all[0].object_as<Element>();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->text(), "one");
  EXPECT_EQ(items.as_dict().at("n"), Value(3));

  try {
    driver->execute_script("return no_such_thing.x;", {});
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("javascript error"));
  }
}

TEST_F(Chrome, FramesTwoDeepInAndOut) {
  driver->switch_to_frame(driver->find_element("id", "f1"));
  EXPECT_EQ(driver->find_element("id", "one")->text(), "level one");
  driver->switch_to_frame(driver->find_element("id", "f2"));
  EXPECT_EQ(driver->find_element("id", "deep")->text(), "level two");
  EXPECT_THROW(driver->find_element("id", "one"), NoSuchElementException);
  driver->switch_to_parent_frame();
  EXPECT_EQ(driver->find_element("id", "one")->text(), "level one");
  driver->switch_to_frame(driver->find_element("id", "f2"));
  driver->switch_to_default_content();
  EXPECT_EQ(driver->find_element("id", "heading")->text(), "Welcome");
}

TEST_F(Chrome, Alerts) {
  try {
    driver->switch_to_alert();
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("no such alert"));
  }
  driver->find_element("id", "alert")->click();
  auto alert = driver->switch_to_alert();
  EXPECT_EQ(alert->text(), "hello");
  alert->accept();
  EXPECT_THROW(driver->switch_to_alert(), WebDriverException);

  driver->find_element("id", "confirm")->click();
  driver->switch_to_alert()->dismiss();
  EXPECT_EQ(driver->find_element("id", "result")->text(), "false");

  driver->find_element("id", "prompt")->click();
  auto prompt = driver->switch_to_alert();
  EXPECT_EQ(prompt->text(), "name?");
  prompt->send_keys("abc");
  prompt->accept();
  EXPECT_EQ(driver->find_element("id", "result")->text(), "abc");
}

TEST_F(Chrome, ActionsAndWindow) {
  ActionChains(driver).click(driver->find_element("id", "go")).perform();
  EXPECT_EQ(driver->find_element("id", "out")->text(), "clicked 1");
  driver->release_actions();
  try {
    driver->maximize_window();  // headless windows may refuse
  } catch (const WebDriverException&) {
  }
  EXPECT_EQ(driver->title(), "tovik test page");
}

// Each test starts a browser of its own.
class ChromeLifecycle : public ChromeSuite {};

TEST_F(ChromeLifecycle, QuitLeavesNoProcessAndNoProfile) {
  auto before = live_driver_processes();
  auto own = get_webdriver("chrome");
  const pid_t group = new_driver_pid(before);
  ASSERT_GT(group, 0);
  EXPECT_GT(live_members_of_group(group).size(), 1u);  // chromedriver and its browser
  Value profile = own->capabilities().at("chrome").as_dict().at("userDataDir");
  EXPECT_THAT(profile.as_str(), HasSubstr(tmp->path()));
  EXPECT_TRUE(std::filesystem::exists(profile.as_str()));

  own->get(pages->url() + "/frame2");
  EXPECT_EQ(own->find_element("id", "deep")->text(), "level two");
  own->quit();
  EXPECT_TRUE(live_members_of_group(group).empty());
  EXPECT_EQ(new_driver_pid(before), -1);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(profile.as_str()).parent_path()));
  EXPECT_THROW(own->title(), WebDriverException);
}

TEST_F(ChromeLifecycle, ADriverKilledMidSessionFailsTheNextCommand) {
  auto before = live_driver_processes();
  auto own = get_webdriver("chrome");
  const pid_t group = new_driver_pid(before);
  ASSERT_GT(group, 0);
  own->get(pages->url() + "/");
  ASSERT_EQ(::kill(group, SIGKILL), 0);
  try {
    own->title();
    FAIL() << "a command to a dead driver must fail";
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("WebDriver at http://127.0.0.1:"));
  }
  EXPECT_NO_THROW(own->quit());
  EXPECT_TRUE(live_members_of_group(group).empty());  // the orphaned browser went with the group
}

TEST_F(ChromeLifecycle, DroppingTheDriverWithoutQuitCleansUpToo) {
  auto before = live_driver_processes();
  auto own = get_webdriver("chrome");
  const pid_t group = new_driver_pid(before);
  ASSERT_GT(group, 0);
  std::string profile = own->capabilities().at("chrome").as_dict().at("userDataDir").as_str();
  own.reset();
  EXPECT_TRUE(live_members_of_group(group).empty());
  EXPECT_FALSE(std::filesystem::exists(profile));
}

}  // namespace
}  // namespace tovik::webdriver
