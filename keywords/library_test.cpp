#include "keywords/library.hpp"

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "keywords/class_by_type.hpp"
#include "keywords/key_word.hpp"
#include "outside/settings/settings.hpp"
#include "outside/webdriver/fake_driver.hpp"

namespace tovik {
namespace {

// The declared default of one parameter of a keyword.
Value default_of(const KeywordClass& cls, std::string_view keyword, std::string_view param) {
  const KeywordEntry* entry = cls.find(keyword);
  if (!entry) throw std::logic_error("no keyword " + std::string(keyword));
  for (const Param& p : entry->params)
    if (p.name == param && p.default_value) return *p.default_value;
  throw std::logic_error("no default for " + std::string(param));
}

// [tovik_ui] overridden through the environment until the end of the scope, as a user would.
class UiOverride {
 public:
  using Vars = std::vector<std::pair<std::string, std::string>>;
  explicit UiOverride(const Vars& vars) {
    for (const auto& [name, value] : vars) {
      const char* old = std::getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(name.c_str(), value.c_str(), 1);
    }
    settings::tovik_ui().reload_settings();
  }
  ~UiOverride() {
    for (const auto& [name, old] : saved_) {
      if (old) ::setenv(name.c_str(), old->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
    settings::tovik_ui().reload_settings();
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(KeywordLibrary, ConfigurationDefaultsStayAsLoadedWhenTheSettingsChange) {
  load_keyword_library();
  const KeywordDefaults loaded = keyword_defaults();
  EXPECT_EQ(default_of(WebKeyWord::keyword_class(), "new_driver", "browser"), Value(loaded.driver_type));

  UiOverride changed(UiOverride::Vars{{"TOVIK_UI_DRIVER_TYPE", loaded.driver_type == "firefox" ? "ios" : "firefox"},
                                       {"TOVIK_UI_SELENIUM_GRID", loaded.selenium_grid + "/other"},
                                       {"TOVIK_UI_FORCE_CLICK", loaded.force_click ? "false" : "true"}});
  ASSERT_NE(settings::tovik_ui().boolean("force_click"), loaded.force_click);
  load_keyword_library();
  get_class_by_type(Value("web"));
  EXPECT_EQ(keyword_defaults().driver_type, loaded.driver_type);
  for (const KeywordClass* cls : {&WebKeyWord::keyword_class(), &KeyWord::keyword_class()}) {
    SCOPED_TRACE(cls->name());
    EXPECT_EQ(default_of(*cls, "new_driver", "browser"), Value(loaded.driver_type));
    EXPECT_EQ(default_of(*cls, "new_driver", "hub"), Value(loaded.selenium_grid));
    EXPECT_EQ(default_of(*cls, "click", "force"), Value(loaded.force_click));
  }
}

TEST(KeywordLibrary, EveryClassHasTheBaseKeywords) {
  const KeywordEntry* set_driver = BaseKeyWord::keyword_class().find("set_driver");
  const KeywordEntry* assert_entry = BaseKeyWord::keyword_class().find("assert");
  ASSERT_TRUE(set_driver && assert_entry);
  for (const KeywordClass* cls : {&WebKeyWord::keyword_class(), &AppKeyWord::keyword_class(),
                                  &ApiKeyWord::keyword_class(), &KeyWord::keyword_class()}) {
    SCOPED_TRACE(cls->name());
    EXPECT_TRUE(cls->has_keyword("set_driver"));
    EXPECT_TRUE(cls->has_keyword("assert"));
    EXPECT_EQ(cls->find("set_driver"), set_driver);
    EXPECT_EQ(cls->find("assert"), assert_entry);
  }
}

// An API case can take a driver from a fixture too; its wait follows the settings of that moment.
TEST(KeywordLibrary, ApiKeywordsTakeADriverAndReadTheWaitAtEachSetDriver) {
  auto fake = std::make_shared<webdriver::FakeDriver>();
  ApiKeyWord kw(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"),
                Value(Dict{{"browser", Value(std::shared_ptr<Object>(fake))}}));
  {
    UiOverride wait(UiOverride::Vars{{"TOVIK_UI_WAIT_MAX", "3"}});
    kw.member("_key_set_driver")({Value("browser")});
  }
  EXPECT_EQ(kw.driver, fake);
  ASSERT_TRUE(kw.wait.has_value());
  EXPECT_DOUBLE_EQ(kw.wait->timeout(), 3);
  {
    UiOverride wait(UiOverride::Vars{{"TOVIK_UI_WAIT_MAX", "7"}});
    kw.member("_key_set_driver")({Value("browser")});
  }
  EXPECT_DOUBLE_EQ(kw.wait->timeout(), 7);
  EXPECT_EQ(kw._activate_ele, nullptr);
}

}  // namespace
}  // namespace tovik
