#include "outside/settings/settings.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "outside/settings/settings_types.hpp"
#include "support/base/errors.hpp"

namespace tovik::settings {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char* const kEnvUsed[] = {"TOVIK_EMAIL_PASSWORD", "TOVIK_UI_WAIT_MAX", "TOVIK_UI_HEADLESS",
                                "TOVIK_API_BASE_URL", "TOVIK_UI_EXTRA"};

// Every test runs in its own empty directory, since the sections read ./pytest.ini.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    std::string tmpl = (fs::temp_directory_path() / "tovik-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    fs::current_path(dir_);
    for (const char* name : kEnvUsed) unsetenv(name);
  }
  void TearDown() override {
    for (const char* name : kEnvUsed) unsetenv(name);
    // Leave the shared sections as the next test expects them: defaults.
    fs::current_path(dir_);
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    reload_all();
    fs::current_path(saved_);
    fs::remove_all(dir_);
  }
  static void write_ini(const std::string& text, const fs::path& where = "pytest.ini") {
    std::ofstream(where) << text;
  }
  template <class E, class F>
  static std::string error_of(F&& fn) {
    try {
      fn();
    } catch (const E& e) {
      return e.what();
    }
    ADD_FAILURE() << "no error raised";
    return {};
  }

  fs::path saved_;
  fs::path dir_;
};

TEST_F(SettingsTest, DefaultsWithoutFile) {
  reload_all();
  EXPECT_EQ(tovik_ui().text("driver_type"), "chrome");
  EXPECT_EQ(tovik_ui().optional_text("selenium_grid"), std::nullopt);
  EXPECT_FALSE(tovik_ui().boolean("force_click"));
  EXPECT_TRUE(tovik_ui().boolean("headless"));
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 10.0);
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_poll"), 0.5);
  EXPECT_EQ(tovik_ui().text("touch_css"), "border: 2px solid red;");
  EXPECT_DOUBLE_EQ(tovik_api().number("timeout"), 30.0);
  EXPECT_EQ(tovik().integer("allure_local_port"), 5000);
  EXPECT_EQ(tovik().integer("email_port"), 465);
  EXPECT_EQ(tovik().text("email_encryption"), "ssl");
  EXPECT_EQ(tovik().text("allure_report"), "./report");
  EXPECT_TRUE(tovik().list("email_to").empty());
  EXPECT_EQ(tovik().origin("allure_path"), "default");

  // value() follows the declared kind, not the look of the text.
  EXPECT_TRUE(tovik_ui().value("wait_max").is_float());
  EXPECT_TRUE(tovik().value("email_port").is_int());
  EXPECT_TRUE(tovik().value("allure_show").is_bool());
  EXPECT_TRUE(tovik_api().value("base_url").is_str());

  EXPECT_THAT(tovik_api().keys(), ElementsAre("base_url", "timeout"));
  EXPECT_EQ(tovik_ui().keys().size(), 11u);
  EXPECT_DOUBLE_EQ(tovik_ui().number("session_wait"), 300.0);  // a queued new session on a Grid
  EXPECT_EQ(tovik().keys().front(), "allure_path");
  EXPECT_EQ(tovik().keys().back(), "email_encryption");
}

TEST_F(SettingsTest, ValuesFromFile) {
  write_ini(
      "[pytest]\n"
      "wait_max = 99\n"
      "addopts = -q\n"
      "\n"
      "[tovik_ui]\n"
      "wait_max =   3.5   \n"
      "headless = Off ; no window on CI\n"
      "force_click: YES\n"
      "touch_css = outline: 1px dashed blue; # highlight\n"
      "selenium_grid = http://grid:4444/wd/hub\n"
      "capabilities =\n"
      "    {\"browserName\": \"chrome\",\n"
      "; a comment inside the value does not end it\n"
      "     \"acceptInsecureCerts\": true}\n"
      "extra =  kept as text  \n"
      "[tovik]\n"
      "email_to = a@x.org, ,b@x.org,\n"
      "email_port = +587\n"
      "qywx_url = #not a value\n"
      "dingding_secret =#kept\n");
  reload_all();

  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 3.5);
  EXPECT_EQ(tovik_ui().origin("wait_max"), "pytest.ini");
  EXPECT_FALSE(tovik_ui().boolean("headless"));
  EXPECT_TRUE(tovik_ui().boolean("force_click"));
  EXPECT_EQ(tovik_ui().text("touch_css"), "outline: 1px dashed blue;");
  EXPECT_EQ(tovik_ui().optional_text("selenium_grid"), "http://grid:4444/wd/hub");
  EXPECT_EQ(tovik_ui().text("capabilities"),
            "{\"browserName\": \"chrome\",\n\"acceptInsecureCerts\": true}");
  EXPECT_EQ(tovik_ui().text("extra"), "kept as text");
  EXPECT_TRUE(tovik_ui().value("extra").is_str());
  EXPECT_EQ(tovik_ui().keys().back(), "extra");
  EXPECT_EQ(tovik_ui().text("driver_type"), "chrome");
  EXPECT_EQ(tovik_ui().origin("driver_type"), "default");

  EXPECT_THAT(tovik().list("email_to"), ElementsAre("a@x.org", "b@x.org"));
  EXPECT_EQ(tovik().integer("email_port"), 587);
  EXPECT_EQ(tovik().optional_text("qywx_url"), std::nullopt);
  EXPECT_EQ(tovik().text("dingding_secret"), "#kept");
  // Keys of [pytest] do not leak into our sections.
  EXPECT_EQ(tovik_api().origin("timeout"), "default");
  EXPECT_THROW(tovik_api().text("addopts"), KeyError);
}

TEST_F(SettingsTest, EnvironmentOverridesFile) {
  write_ini("[tovik]\nemail_password = in-file\n[tovik_ui]\nwait_max = 3\nextra = file\n");
  setenv("TOVIK_EMAIL_PASSWORD", " s3cret ", 1);
  setenv("TOVIK_UI_WAIT_MAX", "7", 1);
  setenv("TOVIK_API_BASE_URL", "https://api.example.com", 1);
  setenv("TOVIK_UI_EXTRA", "env", 1);
  reload_all();
  EXPECT_EQ(tovik().text("email_password"), " s3cret ");
  EXPECT_EQ(tovik().origin("email_password"), "环境变量 TOVIK_EMAIL_PASSWORD");
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 7.0);
  EXPECT_EQ(tovik_api().text("base_url"), "https://api.example.com");
  EXPECT_EQ(tovik_ui().text("extra"), "env");
  EXPECT_EQ(tovik_ui().env_name("wait_max"), "TOVIK_UI_WAIT_MAX");

  // An empty variable still counts: it is how a file value gets switched off.
  setenv("TOVIK_UI_WAIT_MAX", "", 1);
  unsetenv("TOVIK_EMAIL_PASSWORD");
  tovik_ui().reload_settings();
  tovik().reload_settings();
  EXPECT_EQ(tovik_ui().text("wait_max"), "");
  EXPECT_EQ(tovik().text("email_password"), "in-file");
}

TEST_F(SettingsTest, LoadsLazilyAndReloads) {
  fs::create_directory("other");
  write_ini("[s]\nk = from-other\n", "other/pytest.ini");
  write_ini("[s]\nk = first\n");

  Section s("s", {{"k", Kind::Text, "default"}});
  fs::current_path("other");
  EXPECT_EQ(s.text("k"), "from-other");  // the directory at first use counts
  fs::current_path(dir_);
  EXPECT_EQ(s.text("k"), "from-other");  // until asked to reload
  s.reload_settings();
  EXPECT_EQ(s.text("k"), "first");

  write_ini("[s]\nk = second\n");
  s.reload_settings();
  EXPECT_EQ(s.text("k"), "second");

  fs::remove("pytest.ini");
  s.reload_settings();
  EXPECT_EQ(s.text("k"), "default");
  EXPECT_EQ(s.origin("k"), "default");
}

TEST_F(SettingsTest, BadValuesNameWhatIsWrong) {
  write_ini("[tovik_ui]\nwait_max = abc\nheadless = maybe\nwait_poll = inf\n"
            "[tovik]\nemail_port = 99999999999999999999\nallure_local_port = 80.5\n");
  reload_all();
  EXPECT_EQ(error_of<ValueError>([] { tovik_ui().number("wait_max"); }),
            "配置项 tovik_ui.wait_max = 'abc'（来自 pytest.ini）不是数字");
  EXPECT_EQ(error_of<ValueError>([] { tovik_ui().value("wait_max"); }),
            "配置项 tovik_ui.wait_max = 'abc'（来自 pytest.ini）不是数字");
  EXPECT_THAT(error_of<ValueError>([] { tovik_ui().boolean("headless"); }),
              HasSubstr("tovik_ui.headless = 'maybe'（来自 pytest.ini）不是布尔值（true/false、yes/no、on/off、1/0）"));
  EXPECT_THAT(error_of<ValueError>([] { tovik_ui().number("wait_poll"); }),
              HasSubstr("不是数字"));
  EXPECT_THAT(error_of<ValueError>([] { tovik().integer("email_port"); }),
              HasSubstr("tovik.email_port = '99999999999999999999'"));
  EXPECT_THAT(error_of<ValueError>([] { tovik().integer("allure_local_port"); }),
              HasSubstr("不是整数"));
  // A text getter does not judge: the raw text is still there.
  EXPECT_EQ(tovik_ui().text("wait_max"), "abc");

  setenv("TOVIK_UI_WAIT_MAX", "1,5", 1);
  tovik_ui().reload_settings();
  EXPECT_EQ(error_of<ValueError>([] { tovik_ui().number("wait_max"); }),
            "配置项 tovik_ui.wait_max = '1,5'（来自 环境变量 TOVIK_UI_WAIT_MAX）不是数字");

  const std::string unknown = error_of<KeyError>([] { tovik_api().text("base_ur"); });
  EXPECT_THAT(unknown, HasSubstr("tovik_api.base_ur"));
  EXPECT_THAT(unknown, HasSubstr("（已知：base_url、timeout"));
}

TEST_F(SettingsTest, MalformedFileKeepsDefaults) {
  setenv("TOVIK_UI_HEADLESS", "no", 1);
  write_ini("[tovik_ui]\nwait_max = 3\nthis line has no separator\n");
  const std::string message = error_of<ValueError>([] { tovik_ui().reload_settings(); });
  EXPECT_THAT(message, HasSubstr((dir_ / "pytest.ini").string() + " 第 3 行无法解析: 应为 'key = value' 的形式，实际为 "));
  EXPECT_THAT(message, HasSubstr("'this line has no separator'"));
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 10.0);
  EXPECT_FALSE(tovik_ui().boolean("headless"));  // the environment still applies

  write_ini("[tovik_ui\nwait_max = 3\n");
  EXPECT_THAT(error_of<ValueError>([] { tovik_ui().reload_settings(); }),
              HasSubstr("第 1 行无法解析: 节标题 '[tovik_ui' 缺少结尾的 ']'"));

  write_ini("[tovik_ui]\nwait_max = 3\n\nwait_max = 4\n");
  EXPECT_THAT(error_of<ValueError>([] { tovik_ui().reload_settings(); }),
              HasSubstr("第 4 行无法解析: 键 'wait_max' 在 [tovik_ui] 中出现了两次"));
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 10.0);
  write_ini("[tovik_ui]\n = 3\n");
  EXPECT_THAT(error_of<ValueError>([] { tovik_ui().reload_settings(); }),
              HasSubstr("第 2 行无法解析: '=' 前缺少键名"));
  write_ini("[tovik_ui]\nwait_max = 3\n[other]\nk = 1\nk = 2\n");
  // A repeat in a section we do not own is not ours to judge.
  EXPECT_NO_THROW(tovik_ui().reload_settings());
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 3.0);

  // a long capabilities JSON on one line is read whole
  const std::string caps = "{\"browserName\": \"chrome\", \"x\": \"" + std::string(100000, 'x') + "\"}";
  write_ini("[tovik_ui]\ncapabilities = " + caps + "\nwait_max = 3\n");
  EXPECT_NO_THROW(tovik_ui().reload_settings());
  EXPECT_EQ(tovik_ui().text("capabilities"), caps);
  EXPECT_DOUBLE_EQ(tovik_ui().number("wait_max"), 3.0);

  write_ini(std::string("[tovik_ui]\nwait_max = 3\0\n", 25));
  EXPECT_THAT(error_of<ValueError>([] { tovik_ui().reload_settings(); }), HasSubstr("第 2 行无法解析: 该行含有 NUL 字符"));

  // A lazily loaded section reports the broken file on first use, then serves defaults.
  write_ini("[s]\nk = v\nbroken\n");
  Section s("s", {{"k", Kind::Text, "default"}});
  EXPECT_THAT(error_of<ValueError>([&] { s.text("k"); }), HasSubstr("第 3 行"));
  EXPECT_EQ(s.text("k"), "default");

  fs::remove("pytest.ini");
  fs::create_directory("pytest.ini");
  EXPECT_THAT(error_of<OSError>([] { tovik_ui().reload_settings(); }),
              HasSubstr("不是可读的文件"));
}

TEST(SettingsTypes, DriversAndUrls) {
  EXPECT_EQ(parse_driver("Chrome"), DriverEnum::chrome);
  EXPECT_EQ(parse_driver(" IOS "), DriverEnum::ios);
  EXPECT_EQ(parse_driver("firefox"), DriverEnum::firefox);
  EXPECT_EQ(parse_driver("android"), DriverEnum::android);
  EXPECT_EQ(parse_driver("safari"), std::nullopt);
  EXPECT_EQ(parse_driver(""), std::nullopt);
  EXPECT_EQ(to_string(DriverEnum::android), "android");
  EXPECT_EQ(parse_driver(to_string(DriverEnum::firefox)), DriverEnum::firefox);

  EXPECT_TRUE(is_http_url("http://localhost"));
  EXPECT_TRUE(is_http_url("HTTPS://grid.example.com:4444/wd/hub?x=1"));
  EXPECT_TRUE(is_http_url("http://user:pw@10.0.0.1:8080"));
  EXPECT_TRUE(is_http_url("http://[::1]:4444/"));
  EXPECT_FALSE(is_http_url("ftp://example.com"));
  EXPECT_FALSE(is_http_url("http://"));
  EXPECT_FALSE(is_http_url("http:///path"));
  EXPECT_FALSE(is_http_url("example.com"));
  EXPECT_FALSE(is_http_url("http://exa mple.com"));
  EXPECT_FALSE(is_http_url("http://host:port"));
  EXPECT_FALSE(is_http_url("http://host:70000"));
  EXPECT_FALSE(is_http_url("http://[::1"));
  EXPECT_EQ(NOT_SET, "NotSet");
}

}  // namespace
}  // namespace tovik::settings
