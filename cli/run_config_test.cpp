#include "cli/run_config.hpp"

#include <fstream>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include "cli/commands.hpp"
#include "runner/main.hpp"
#include "outside/settings/ini_reader.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"

namespace tovik::cli {

namespace fs = std::filesystem;

namespace {

// Runs each test in a fresh directory with the packaged data of the source tree.
class RunConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("tovik_cli_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "suite");
    ::setenv("TOVIK_DATA_DIR", TOVIK_SOURCE_DIR "/file", 1);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
    ::unsetenv("TOVIK_DATA_DIR");
  }
  static std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // What the call printed to standard output.
  template <class F>
  static std::string printed(F&& f) {
    std::stringstream buf;
    auto* old = std::cout.rdbuf(buf.rdbuf());
    f();
    std::cout.rdbuf(old);
    return buf.str();
  }
  fs::path old_, dir_;
};

}  // namespace

TEST_F(RunConfigTest, GuardCreatesMissingIniOnceFromTheTemplate) {
  int calls = 0;
  auto guarded = write_pytest_ini([&](int x) { return ++calls + x; });
  EXPECT_EQ(printed([&] { EXPECT_EQ(guarded(10), 11); }), "pytest.ini不存在，自动创建\n");
  EXPECT_EQ(read("pytest.ini"), read(TOVIK_SOURCE_DIR "/file/pytest.ini.txt"));
  // the file exists now: silent, untouched
  std::ofstream("pytest.ini", std::ios::app) << "\n# mine\n";
  const std::string mine = read("pytest.ini");
  EXPECT_EQ(printed([&] { guarded(0); }), "");
  EXPECT_EQ(read("pytest.ini"), mine);
  EXPECT_EQ(calls, 2);
}

TEST_F(RunConfigTest, GuardFailsWithoutTemplateAndDoesNotRunTheOperation) {
  ::setenv("TOVIK_DATA_DIR", (dir_ / "nowhere").c_str(), 1);
  bool ran = false;
  auto guarded = write_pytest_ini([&] { ran = true; });
  std::stringstream sink;
  auto* old = std::cout.rdbuf(sink.rdbuf());
  try {
    guarded();
    ADD_FAILURE() << "expected an OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(std::string(e.what()), "pytest.ini 模板无法读取: " + (dir_ / "nowhere" / "pytest.ini.txt").string());
  }
  std::cout.rdbuf(old);
  EXPECT_FALSE(ran);
}

TEST_F(RunConfigTest, SwitchTestDirRestoresTheDirectoryAlsoOnErrors) {
  std::ofstream(dir_ / "suite" / "test_a.xlsx") << "x";
  const fs::path here = fs::current_path();
  {
    switch_test_dir in(dir_ / "suite" / "test_a.xlsx", true);
    EXPECT_EQ(fs::current_path(), dir_ / "suite");
  }
  EXPECT_EQ(fs::current_path(), here);
  try {
    switch_test_dir in(dir_ / "suite");
    throw ValueError("inside");
  } catch (const ValueError&) {
  }
  EXPECT_EQ(fs::current_path(), here);
  // a file without allow_file, and a missing directory, fail before anything changed
  EXPECT_THROW(switch_test_dir(dir_ / "suite" / "test_a.xlsx"), OSError);
  try {
    switch_test_dir in(dir_ / "missing");
    ADD_FAILURE() << "expected an OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(std::string(e.what()), "无法进入目录 " + (dir_ / "missing").string() + ": No such file or directory");
  }
  EXPECT_EQ(fs::current_path(), here);
}

TEST_F(RunConfigTest, MainWithRunsInTheSuiteDirectoryAndComesBack) {
  const fs::path here = fs::current_path();
  std::string out = printed([&] { EXPECT_EQ(main_with(dir_ / "suite", {"-q"}), runner::kNoTestsCollected); });
  EXPECT_NE(out.find("pytest.ini不存在，自动创建"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / "suite" / "pytest.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "pytest.ini"));
  EXPECT_EQ(fs::current_path(), here);
  // the hook was installed when the library loaded, and is not replaced later
  ASSERT_TRUE(static_cast<bool>(runner::main_with()));
  runner::main_with() = [](const fs::path&, const std::vector<std::string>&, const std::vector<runner::Plugin*>&) { return 42; };
  install_main_with();
  EXPECT_EQ(runner::main_with()(dir_, {}, {}), 42);
}

TEST_F(RunConfigTest, TemplateCarriesEveryKeyWithTheBuiltInDefault) {
  // no pytest.ini here: the sections hold their built-in defaults
  for (settings::Section* section : {&settings::tovik(), &settings::tovik_api(), &settings::tovik_ui()}) {
    section->reload_settings();
    const auto entries = settings::read_ini_section(TOVIK_SOURCE_DIR "/file/pytest.ini.txt", section->name());
    std::vector<std::string> template_keys;
    for (const auto& [key, value] : entries) {
      template_keys.push_back(key);
      if (::getenv(section->env_name(key).c_str())) continue;
      EXPECT_EQ(value, section->text(key)) << section->name() << "." << key;
    }
    EXPECT_EQ(template_keys, section->keys()) << section->name();
  }
  // and [pytest] turns on the allure results
  const auto pytest = settings::read_ini_section(TOVIK_SOURCE_DIR "/file/pytest.ini.txt", "pytest");
  bool alluredir = false;
  for (const auto& [key, value] : pytest)
    if (key == "addopts") alluredir = value.find("--alluredir") != std::string::npos;
  EXPECT_TRUE(alluredir);
}

}  // namespace tovik::cli
