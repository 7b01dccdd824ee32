// The factory without a real browser: names, hubs, capabilities, and driver programs that fail.
#include "outside/webdriver/factory.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "outside/settings/settings.hpp"
#include "outside/webdriver/process.hpp"
#include "outside/webdriver/w3c_driver.hpp"
#include "outside/webdriver/w3c_test_endpoint.hpp"
#include "outside/webdriver/w3c_test_process.hpp"
#include "support/base/errors.hpp"

namespace tovik::webdriver {
namespace {

using ::testing::HasSubstr;
using w3c_testing::RecordingEndpoint;
using w3c_testing::ScopedEnv;
using w3c_testing::TempDir;

// Settings come from the environment only while a test runs.
class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override { settings::tovik_ui().reload_settings(); }
  void TearDown() override {
    while (!env_.empty()) env_.pop_back();  // newest first, so every old value comes back
    settings::tovik_ui().reload_settings();
  }
  void set(const std::string& name, const std::optional<std::string>& value) {
    env_.push_back(std::make_unique<ScopedEnv>(name, value));
    settings::tovik_ui().reload_settings();
  }
  Json session_request(RecordingEndpoint& endpoint) {
    for (const auto& r : endpoint.requests()) {
      if (r.method == "POST" && r.path == "/session") return r.body["capabilities"]["alwaysMatch"];
    }
    return nullptr;
  }

  std::vector<std::unique_ptr<ScopedEnv>> env_;
};

TEST_F(FactoryTest, UnknownBrowsersAreValueErrorsListingTheKnownOnes) {
  for (const char* name : {"safari", "", "chrome "}) {
    try {
      get_webdriver(name);
      FAIL() << name;
    } catch (const ValueError& e) {
      EXPECT_THAT(e.what(), HasSubstr("（可用：chrome、firefox、android、ios）")) << name;
    }
  }
}

TEST_F(FactoryTest, AppsNeedAnAppiumServer) {
  set("TOVIK_UI_SELENIUM_GRID", std::nullopt);
  try {
    get_webdriver("android");
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("需要 Appium 服务"));
  }
  EXPECT_THROW(get_webdriver("ios", "localhost:4723"), ValueError);  // no scheme
}

TEST_F(FactoryTest, AppSessionsCarryThePlatformAndMergedCapabilities) {
  RecordingEndpoint endpoint(Json{{"platformName", "Android"}});
  set("TOVIK_UI_CAPABILITIES", R"({"appium:deviceName": "emulator-5554", "appium:options": {"a": 1, "b": 2}})");
  auto driver = get_webdriver("Android", endpoint.url() + "/",
                              Value(Dict{{"appium:options", Value(Dict{{"b", 3}})}, {"appium:app", "/tmp/x.apk"}}));
  EXPECT_EQ(session_request(endpoint),
            (Json{{"appium:deviceName", "emulator-5554"}, {"appium:options", {{"a", 1}, {"b", 3}}}, {"appium:app", "/tmp/x.apk"},
                  {"platformName", "Android"}}));
  auto w3c = std::dynamic_pointer_cast<W3CDriver>(driver);
  ASSERT_TRUE(w3c);
  EXPECT_TRUE(w3c->session()->is_appium());
  driver->quit();

  // bare Appium capabilities get the vendor prefix; W3C ones and prefixed ones stay as written
  set("TOVIK_UI_CAPABILITIES", std::nullopt);
  RecordingEndpoint ios(Json{{"platformName", "iOS"}});
  get_webdriver("IOS", ios.url(),
                Value(Dict{{"platformName", "iOS"}, {"appium:udid", "u"}, {"app", "/tmp/x.ipa"}, {"deviceName", "iPhone"},
                           {"newCommandTimeout", 60}, {"acceptInsecureCerts", true}, {"ms:edgeOptions", Value(Dict{})}}))
      ->quit();
  EXPECT_EQ(session_request(ios), (Json{{"platformName", "iOS"}, {"appium:udid", "u"}, {"appium:app", "/tmp/x.ipa"},
                                       {"appium:deviceName", "iPhone"}, {"appium:newCommandTimeout", 60},
                                       {"acceptInsecureCerts", true}, {"ms:edgeOptions", Json::object()}}));
}

TEST_F(FactoryTest, BrowsersOnAHubGetTheirNameAndHeadlessFlag) {
  RecordingEndpoint grid;
  set("TOVIK_UI_SELENIUM_GRID", grid.url());
  set("TOVIK_UI_HEADLESS", "true");
  set("TOVIK_UI_CAPABILITIES", R"({"goog:chromeOptions": {"args": ["--window-size=800,600"]}})");
  get_webdriver("CHROME")->quit();
  EXPECT_EQ(session_request(grid),
            (Json{{"goog:chromeOptions", {{"args", {"--window-size=800,600", "--headless=new"}}}},
                  {"browserName", "chrome"},
                  {"goog:loggingPrefs", {{"browser", "ALL"}}}}));

  RecordingEndpoint other;
  set("TOVIK_UI_HEADLESS", "false");
  set("TOVIK_UI_CAPABILITIES", std::nullopt);
  get_webdriver("firefox", other.url())->quit();  // the argument wins over the setting
  EXPECT_EQ(session_request(other), (Json{{"browserName", "firefox"}}));
  EXPECT_EQ(grid.requests().size(), 2u);  // the session and its end, nothing from firefox
}

TEST_F(FactoryTest, BadCapabilitiesAreReportedNotSent) {
  RecordingEndpoint grid;
  set("TOVIK_UI_CAPABILITIES", "{not json");
  try {
    get_webdriver("chrome", grid.url());
    FAIL();
  } catch (const ValueError& e) {
    EXPECT_THAT(e.what(), HasSubstr("tovik_ui.capabilities"));
    EXPECT_THAT(e.what(), HasSubstr("配置项 tovik_ui.capabilities（来自 环境变量 TOVIK_UI_CAPABILITIES） 不是有效的 JSON: "));
  }
  set("TOVIK_UI_CAPABILITIES", "[1, 2]");
  EXPECT_THROW(get_webdriver("chrome", grid.url()), ValueError);
  set("TOVIK_UI_CAPABILITIES", std::nullopt);
  EXPECT_THROW(get_webdriver("chrome", grid.url(), Value(5)), TypeError);
  EXPECT_THROW(get_webdriver("chrome", grid.url(), Value(Dict{{"goog:chromeOptions", "x"}})), ValueError);
  EXPECT_THROW(get_webdriver("chrome", grid.url(), Value(Dict{{"goog:chromeOptions", Value(Dict{{"args", 1}})}})), ValueError);
  EXPECT_TRUE(grid.requests().empty());
  // JSON text works as the argument too.
  get_webdriver("chrome", grid.url(), Value(R"({"pageLoadStrategy": "eager"})"))->quit();
  EXPECT_EQ(session_request(grid)["pageLoadStrategy"], "eager");
}

TEST_F(FactoryTest, FirefoxWithoutGeckodriverSaysSo) {
  TempDir empty;
  set("TOVIK_UI_SELENIUM_GRID", std::nullopt);
  set("PATH", empty.path());
  try {
    get_webdriver("firefox");
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("没有安装 geckodriver"));
  }
}

TEST_F(FactoryTest, ADriverProgramThatDiesIsReportedWithItsLogAndLeavesNothing) {
  TempDir dir, tmp;
  std::string fake = dir.path() + "/chromedriver";
  std::ofstream(fake) << "#!/bin/sh\necho \"fake driver: cannot start ($1)\" >&2\nexit 1\n";
  ::chmod(fake.c_str(), 0755);
  set("TOVIK_UI_SELENIUM_GRID", std::nullopt);
  set("TOVIK_UI_CHROMEDRIVER_PATH", fake);
  set("TMPDIR", tmp.path());
  try {
    get_webdriver("chrome");
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("chromedriver 在就绪之前退出了；它的日志结尾:\n"));
    EXPECT_THAT(e.what(), HasSubstr("fake driver: cannot start (--port="));
  }
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));  // work directory and profile removed
  EXPECT_TRUE(live_driver_processes().empty());

  set("TOVIK_UI_CHROMEDRIVER_PATH", dir.path() + "/missing");
  try {
    get_webdriver("chrome");
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("chromedriver_path"));
    EXPECT_THAT(e.what(), HasSubstr("不是可执行的程序"));
  }
}

}  // namespace
}  // namespace tovik::webdriver
