// The guides' examples, run with the commands the guides show: each outcome the guides state must
// be what the program does, and must stand in both guides.
#include <map>

#include "examples/demo_api.hpp"
#include "examples/demo_pages.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/appium_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tovik::e2e;

const fs::path kGuideBuild = fs::path(TOVIK_BUILD_DIR) / "examples/guide";
const fs::path kDocs = fs::path(TOVIK_SOURCE_DIR) / "docs";

class Guide : public ProjectTest {
 protected:
  Guide()
      : target_([](httplib::Server& s) {
          tovik::examples::add_demo_api(s);
          tovik::examples::add_demo_pages(s);
        }) {}

  // The example folder as the guide's reader has it after the build.
  fs::path example(const std::string& name) {
    const fs::path dir = root_ / name;
    fs::copy(kGuideBuild / name, dir, fs::copy_options::recursive);
    return dir;
  }
  // `tovik ARGS` in dir, the guides' demo target standing in for `demo_target --port 8000`.
  Finished tovik(std::vector<std::string> args, const fs::path& dir) {
    return run_tovik(std::move(args), {{"TOVIK_API_BASE_URL", target_.url()}}, 60s, dir);
  }
  // Each text stands in the program's output and in both guides.
  static void shown(const Finished& f, const std::vector<std::string>& texts) {
    const std::string zh = read_file(kDocs / "guide.zh-CN.md"), en = read_file(kDocs / "guide.md");
    for (const std::string& t : texts) {
      EXPECT_TRUE(Has(f.out, t));
      EXPECT_TRUE(Has(zh, t)) << "guide.zh-CN.md";
      EXPECT_TRUE(Has(en, t)) << "guide.md";
    }
  }
  // "2 passed in 0.01s" -> "2 passed": times differ run by run.
  static std::string counts(const Finished& f) {
    const std::string last = lines_with(f.out, " in ").back();
    const auto start = last.find_first_not_of("= ");
    return last.substr(start, last.rfind(" in ") - start);
  }

  tovik::http::testing::LocalServer target_;
};

TEST_F(Guide, AFirstWorkbookAndItsFailure) {
  const fs::path first = example("first");
  Finished f = tovik({"run"}, first);
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_EQ(counts(f), "1 failed, 2 passed");
  shown(f, {"1 failed, 2 passed in ", "test_first.xlsx ..F", "__ test_first.xlsx::读懂失败 __",
            "文件: test_first.xlsx\n工作表: 读懂失败\n行: 3\n关键字: assert\n参数: ('期望值', 'equal', '实际值')\nAssertionError",
            "INFO     tovik.lexa_utils:正在执行关键字: 【assert】('期望值', 'equal', '实际值')"});

  // the report of that run, as the guide shows it
  if (!fs::exists(TOVIK_ALLURE)) GTEST_SKIP() << "allure program not installed at " << TOVIK_ALLURE;
  f = tovik({"report"}, first);
  EXPECT_EQ(f.status, 0) << f.all();
  shown(f, {"执行命令:  allure generate ./temp/allure-results  -o ./report --clean", "Report successfully generated to ./report"});
  EXPECT_TRUE(fs::exists(first / "report/index.html"));
}

TEST_F(Guide, StartWritesAWorkbookThatRuns) {
  const fs::path suite = root_ / "my-suite";
  fs::create_directories(suite);
  Finished f = tovik({"start", "login"}, suite);
  EXPECT_EQ(f.status, 0) << f.all();
  f = tovik({"run", "-v"}, suite);
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "test_login.xlsx::login PASSED"));
  EXPECT_TRUE(Has(f.err + f.out, "pytest.ini不存在，自动创建"));
}

TEST_F(Guide, VariablesMarksAndParallelRuns) {
  Finished f = tovik({"run", "-v"}, example("variables"));
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(counts(f), "2 passed");
  shown(f, {"test_vars.xlsx::读取变量 PASSED [ 50%]", "test_vars.xlsx::保存再使用 PASSED [100%]"});

  const fs::path marks = example("marks");
  f = tovik({"run", "-v"}, marks);
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(counts(f), "5 passed, 1 skipped");
  shown(f, {"test_marks.xlsx::冒烟 PASSED [ 16%]", "test_marks.xlsx::临时目录 PASSED [ 33%]",
            "test_marks.xlsx::还没写完 SKIPPED (等接口上线) [ 50%]", "test_marks.xlsx::回归 PASSED [ 66%]",
            "test_session.xlsx::取号 PASSED [ 83%]", "test_session.xlsx::用号 PASSED [100%]", "5 passed, 1 skipped in "});
  f = tovik({"run", "-m", "smoke"}, marks);
  EXPECT_EQ(counts(f), "2 passed, 4 deselected");
  shown(f, {"2 passed, 4 deselected in "});
  f = tovik({"run", "-n", "2"}, marks);
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(counts(f), "5 passed, 1 skipped");
  shown(f, {"执行进程: 2 个（--dist load）"});
}

TEST_F(Guide, ApiCasesInAWorkbookAndInYaml) {
  const Finished f = tovik({"run", "-v"}, example("api"));
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(counts(f), "2 passed");
  shown(f, {"test_login.xlsx::登录 PASSED [ 50%]", "test_me.yaml::登录后查询自己 PASSED [100%]"});
  // the YAML case the guides print is the file itself
  const std::string yaml = read_file(kGuideBuild / "api/test_me.yaml");
  const std::string body = yaml.substr(yaml.find("type: api"));
  EXPECT_TRUE(Has(read_file(kDocs / "guide.zh-CN.md"), body));
  EXPECT_TRUE(Has(read_file(kDocs / "guide.md"), body));
}

TEST_F(Guide, ABrowserCase) {
  if (!program_on_path("chromedriver") && ::access("/usr/bin/chromedriver", X_OK) != 0)
    GTEST_SKIP() << "chromedriver is not installed";
  const fs::path web = example("web");
  write_file(web / "variables.yaml", "demo_url: " + target_.url() + "\n");
  const Finished f = tovik({"run", "-v"}, web);
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(counts(f), "1 passed");
  shown(f, {"test_form.xlsx::提交表单 PASSED [100%]"});
}

TEST_F(Guide, AnAppCase) {
  if (!fs::exists(fs::path(TOVIK_SOURCE_DIR) / "tools/node_modules/appium/index.js"))
    GTEST_SKIP() << "Appium is not installed in tools/node_modules (run scripts/setup)";
  Appium appium;
  ASSERT_TRUE(appium.ready()) << appium.log();
  const fs::path app = example("app");
  // the guide's Appium listens on 4723 and runs in the source folder
  std::string vars = read_file(app / "variables.yaml");
  vars.replace(vars.find("127.0.0.1:4723"), 14, "127.0.0.1:" + std::to_string(appium.port()));
  vars.replace(vars.find("build/examples/guide/app/demo_app.xml"), 37, (app / "demo_app.xml").string());
  write_file(app / "variables.yaml", vars);
  const Finished f = tovik({"run", "-v"}, app);
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(counts(f), "1 passed");
  shown(f, {"test_app.xlsx::登录按钮与输入框 PASSED [100%]"});
}

TEST_F(Guide, CheckFindsTheTypos) {
  const Finished f = tovik({"check"}, example("check"));
  EXPECT_EQ(f.status, 1) << f.all();
  shown(f, {"test_typo.xlsx:手误:2: 错误: 关键字类 KeyWord 中没有关键字 asert（是不是 assert？）",
            "test_typo.xlsx:手误:3: 错误: 关键字 assert 缺少必需的参数 assert_name", "检查了 1 个用例: 2 个错误, 0 个警告"});
}

// The Grid settings the guides show are the example file, and the program reads them.
TEST_F(Guide, TheGridSettings) {
  const fs::path grid = example("grid");
  const std::string ini = read_file(grid / "pytest.ini");
  EXPECT_TRUE(Has(read_file(kDocs / "guide.zh-CN.md"), "```ini\n" + ini + "```"));
  EXPECT_TRUE(Has(read_file(kDocs / "guide.md"), "```ini\n" + ini + "```"));
  workbook("grid/test_a.xlsx", {{"甲", {R(1, "", "assert", 1, "equal", 1)}}});
  const Finished f = tovik({"run", "-n", "2"}, grid);
  EXPECT_EQ(f.status, 0) << f.all();
}

TEST_F(Guide, TheKeywordReferenceIsWhereTheGuidesSay) {
  for (const char* kind : {"all", "web", "app", "api"})
    EXPECT_TRUE(fs::exists(fs::path(TOVIK_BUILD_DIR) / "share/doc/tovik" / ("keywords-" + std::string(kind) + ".html"))) << kind;
  const Finished f = tovik({"docs", "web", "--format", "html", "-o", "web.html"}, root_);
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(read_file(root_ / "web.html"), "save_title"));
}

}  // namespace
