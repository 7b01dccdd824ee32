// End-to-end tests of `tovik report`: runs that write allure results, then the real allure
// program (the set-up's copy in tools/, found by tovik itself) turning them into the HTML report.
#include <mutex>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "examples/workbook_writer.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovik::e2e;
using nlohmann::json;
using tovik::http::testing::LocalServer;

class Report : public ProjectTest {
 protected:
  void SetUp() override {
    if (!fs::exists(TOVIK_ALLURE)) GTEST_SKIP() << "allure program not installed at " << TOVIK_ALLURE;
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    workbook("test_r.xlsx", {
        {"通过一", {R(1, "", "assert", 1, "equal", 1)}},
        {"通过二", {R(1, "", "assert", "a", "in", "abc")}},
        {"失败", {R(1, "", "assert", 1, "equal", 2)}},
    });
  }
  Finished tovik(const std::vector<std::string>& args, const Env& env = {}) { return run_tovik(args, env, 120s); }
  json summary(const fs::path& report) { return json::parse(read_file(report / "widgets/summary.json"))["statistic"]; }
};

TEST_F(Report, ARunsResultsBecomeAReportWhoseHistoryGrowsRunByRun) {
  // the packaged pytest.ini writes results to ./temp/allure-results and the report to ./report
  EXPECT_EQ(tovik({"run"}).status, 1);
  Finished f = tovik({"report"});
  ASSERT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "执行命令:  allure generate ./temp/allure-results  -o ./report --clean\n"));
  json stats = summary(root_ / "report");
  EXPECT_EQ(stats["passed"], 2);
  EXPECT_EQ(stats["failed"], 1);
  EXPECT_EQ(stats["total"], 3);

  EXPECT_EQ(tovik({"run", "-k", "通过"}).status, 0);
  f = tovik({"report"});
  ASSERT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(summary(root_ / "report")["total"], 2);
  // the earlier report's history went into the new results: two points on the trend
  const json trend = json::parse(read_file(root_ / "report/history/history-trend.json"));
  EXPECT_EQ(trend.size(), 2u) << trend.dump();
}

TEST_F(Report, TheThreeExpectedFailuresPrintTheirMessageAndFail) {
  write_file(root_ / "pytest.ini", "[pytest]\n");
  Finished f = tovik({"report"});
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.out, "出错： allure-pytest似乎未启用\n");

  f = tovik({"report", "--alluredir", "nosuch"});
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.out, "出错：allure结果不存在，请执行用例生成结果\n");

  ASSERT_EQ(tovik({"run", "--alluredir", "res"}).status, 1);
  f = tovik({"report", "--alluredir", "res"}, {{"TOVIK_ALLURE_PATH", "/bin/false"}});
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.out, "执行命令:  /bin/false generate res  -o ./report --clean\n"
                   "生成HTML测试报告失败： 请确认allure安装成功，并添加到环境变量中！\n");
  f = tovik({"report", "--alluredir", "res"}, {{"TOVIK_ALLURE_PATH", "no-such-allure-program"}});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "生成HTML测试报告失败： 请确认allure安装成功，并添加到环境变量中！\n"));
}

TEST_F(Report, PathsWithBlanksAndShellCharactersReachAllureAsTheyAre) {
  const std::string results = "res dir;touch injected", report = "out $(touch injected2) dir";
  write_file(root_ / "pytest.ini", "[pytest]\n");
  ASSERT_EQ(tovik({"run", "--alluredir", results}).status, 1);
  const Finished f = tovik({"report", "--alluredir", results}, {{"TOVIK_ALLURE_REPORT", report}});
  ASSERT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "执行命令:  allure generate " + results + "  -o " + report + " --clean\n"));
  EXPECT_EQ(summary(root_ / report)["total"], 3);
  EXPECT_FALSE(fs::exists(root_ / "injected"));
  EXPECT_FALSE(fs::exists(root_ / "injected2"));
}

TEST_F(Report, ShowAnnouncesTheReportAndServesItUntilCtrlC) {
  std::mutex mutex;
  std::vector<json> notices;
  LocalServer robot([&](httplib::Server& s) {
    s.Post("/cgi-bin/webhook/send", [&](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex);
      notices.push_back(json::parse(req.body));
      res.set_content(R"({"errcode":0})", "application/json");
    });
  });
  const int port = tovik::http::testing::closed_port();
  ASSERT_EQ(tovik({"run"}).status, 1);
  // tovik's open command line is the allure program's own; the test's server listens on
  // 127.0.0.1 only
  write_file(root_ / "allure-local", std::string("#!/bin/sh\nif [ \"$1\" = open ]; then exec '") + TOVIK_ALLURE +
                                         "' \"$@\" --host 127.0.0.1; fi\nexec '" + TOVIK_ALLURE + "' \"$@\"\n");
  fs::permissions(root_ / "allure-local", fs::perms::owner_all);

  Child child({TOVIK_BIN, "report", "-s"}, root_,
              run_env({{"TOVIK_ALLURE_PATH", (root_ / "allure-local").string()},
                       {"TOVIK_ALLURE_LOCAL_PORT", std::to_string(port)},
                       {"TOVIK_ALLURE_URL", "http://reports.example/run-7"},
                       {"TOVIK_QYWX_URL", robot.url("/cgi-bin/webhook/send?key=k")}}));
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(1);
  int status = 0;
  const auto give_up = std::chrono::steady_clock::now() + 90s;
  while (status != 200 && std::chrono::steady_clock::now() < give_up) {
    child.pump(200ms);
    if (auto res = client.Get("/")) status = res->status;
  }
  EXPECT_EQ(status, 200) << child.out();
  ::kill(-child.pid(), SIGINT);  // as Ctrl-C in the terminal does
  const Finished f = child.wait(30s);
  EXPECT_EQ(f.status, 0) << f.all();
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(notices.size(), 1u) << f.all();
  EXPECT_EQ(notices[0]["markdown"]["content"],
            "【tovik自动化测试报告】\n\n        在线报告已生成，请[点击这里](http://reports.example/run-7)查看");
}

}  // namespace
