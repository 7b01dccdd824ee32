// End-to-end tests of YAML cases: `tovik run` on test_*.yaml files that talk to the demo API on a
// free port of 127.0.0.1, beside workbooks, with every reporter the run offers.
#include <signal.h>

#include <map>
#include <mutex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "examples/demo_api.hpp"
#include "examples/workbook_writer.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovik::e2e;
using nlohmann::json;
using tovik::http::testing::LocalServer;

class YamlRun : public ProjectTest {
 protected:
  YamlRun()
      : server_([this](httplib::Server& s) {
          tovik::examples::add_demo_api(s);
          // what reached the server, in order: "METHOD path body"
          const auto record = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(req.method + " " + req.path + " " + req.body);
            res.set_content(R"({"ok":true})", "application/json");
          };
          s.Post("/record", record);
          s.Delete("/record", record);
        }) {}

  void SetUp() override {
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    write_file(root_ / "pytest.ini", "[pytest]\ntovik_variables = vars.yaml\n");
  }

  Env env() const { return run_env({{"TOVIK_API_BASE_URL", server_.url()}}); }
  Finished tovik(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return run_tovik(args, {{"TOVIK_API_BASE_URL", server_.url()}});
  }
  std::vector<std::string> seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  static json read_json(const fs::path& p) { return json::parse(read_file(p)); }
  // The allure results of the run by case name.
  std::map<std::string, json> results(const fs::path& dir) const {
    std::map<std::string, json> out;
    for (const auto& p : files_matching(dir, "-result.json")) {
      const json r = read_json(p);
      out[r.at("name")] = r;
    }
    return out;
  }

  std::mutex mutex_;
  std::vector<std::string> seen_;
  LocalServer server_;
};

TEST_F(YamlRun, TheDemoSuiteYamlCasesPass) {
  const fs::path demo = fs::path(TOVIK_SOURCE_DIR) / "examples/demo";
  fs::copy_file(demo / "test_api.yaml", root_ / "test_api.yaml");
  fs::copy_file(demo / "status_codes.csv", root_ / "status_codes.csv");
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "test_api.yaml::商品价格[牛奶] PASSED"));
  EXPECT_TRUE(Has(f.out, "test_api.yaml::状态码[不存在] PASSED"));
  EXPECT_TRUE(Has(f.out, "8 passed in "));
}

// Values flow from response to response through extraction and every kind of template; keyword
// steps on the same object shape the requests; the template globals reach the variable file.
TEST_F(YamlRun, ExtractionChainsTemplatesAndKeywordSteps) {
  write_file(root_ / "vars.yaml", "saved_city: 北京\n");
  write_file(root_ / "test_chain.yaml", R"Y(
name: 三步传值
type: api
variables:
  user: tovik
  page: 2
steps:
  - name: 登录
    request: {method: POST, url: /api/login, json: {user: "${user}", password: secret}}
    extract: {token: $.token}
  - keyword: new_client
  - keyword: set_headers
    args: [{X-Client: yaml}]
  - name: 凭 token 查询
    request: {method: GET, url: /api/me, headers: {Authorization: "Bearer ${token}"}}
    extract: {who: $.user, by: [json, "$.by"], code: [status_code], ms: [elapsed_ms]}
  - keyword: add_header
    args: [X-Note, "{saved_city}"]
  - name: 回显
    request:
      method: POST
      url: /api/anything/${who}
      params: {page: "${page}"}
      json: {who: "${who}", page: "${page}", text: "第${page}页 ${by} $${literal}", city: "${saved_city}"}
    extract:
      body: [json, "$.json"]
      path: $.path
      note: "$.headers['X-Note']"
      client: "$.headers['X-Client']"
      query: [text, '"page": ?"(\d+)"']
      missing: $.nothing
    validate:
      equals:
        路径带上了提取的用户: ["${path}", /api/anything/tovik]
        整串模板保留类型: ["${body}", {who: tovik, page: 2, text: "第2页 token $${literal}", city: 北京}]
        关键字步骤的请求头: ["${note}", 北京]
        共享请求头: ["${client}", yaml]
        查询参数: ["${query}", "2"]
        查不到就是 not data: ["${missing}", not data]
      in:
        状态码: ["${code}", [200]]
    text_asserts:
      ms: {min_value: 0, max_value: 5000, msg: 响应太慢}
)Y");
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "test_chain.yaml::三步传值 PASSED"));
  // extracted plain values are written back; the mapping is not
  const std::string vars = read_file(root_ / "vars.yaml");
  EXPECT_TRUE(Has(vars, "token: demo-token-7f3a"));
  EXPECT_TRUE(Has(vars, "saved_city: 北京"));
  EXPECT_TRUE(Has(vars, "missing: not data"));
  EXPECT_TRUE(Lacks(vars, "\nbody:"));
}

// A failed check carries the case's own message to the terminal, JUnit and allure, and the real
// allure program shows the "执行断言" steps. Workbooks and YAML files run side by side, selected by
// tags, and a CSV-parametrized case gives one result per row.
TEST_F(YamlRun, FailuresReachEveryReporterBesideWorkbooks) {
  tovik::examples::write_workbook(root_ / "test_book.xlsx",
                                  {{"簿", {R(nullptr, nullptr, "@tags", "smoke"), R(1, "", "assert", 1, "equal", 1)}}});
  write_file(root_ / "rows.csv", "id,path,expected\nok,/api/status/200,200\ngone,/api/status/404,404\nnew,/api/status/201,201\n");
  write_file(root_ / "test_checks.yaml", R"Y(
tags: [smoke]
cases:
  - name: 状态码
    parametrize: {file: rows.csv}
    steps:
      - request: {method: GET, url: "${path}"}
        extract: {status: [status_code]}
        validate: {equals: {状态码: ["${status}", "${expected}"]}}
  - name: 错误的状态码
    steps:
      - request: {method: GET, url: /api/status/200}
      - name: 检查
        request: {method: GET, url: /api/status/500}
        extract: {status: [status_code]}
        validate:
          equals:
            先通过: [1, 1]
            状态码应为 200: ["${status}", 200]
            不会检查: [1, 2]
  - name: 不在冒烟里
    tags: [slow]
    steps:
      - keyword: assert
        args: [1, equal, 1]
)Y");
  const Finished f = tovik({"-m", "smoke", "--junitxml", "junit.xml", "--alluredir", "res"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "1 failed, 4 passed, 1 deselected in "));
  const std::string failure = section(f.out, "_ test_checks.yaml::错误的状态码 _", "\n___");
  EXPECT_TRUE(Has(failure, "行: 13\n步骤: 第 2 步 检查\n关键字: request\n参数: ('GET', '/api/status/500')"));
  EXPECT_TRUE(Has(failure, "AssertionError: 状态码应为 200"));
  EXPECT_TRUE(Has(f.out, "FAILED test_checks.yaml::错误的状态码 - AssertionError: 状态码应为 200\n"));

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((root_ / "junit.xml").c_str()));
  const auto suite = doc.child("testsuites").child("testsuite");
  EXPECT_EQ(suite.attribute("tests").as_int(), 5);
  for (const auto& tc : suite.children("testcase")) {
    if (std::string(tc.attribute("name").value()) != "错误的状态码") continue;
    EXPECT_STREQ(tc.child("failure").attribute("message").value(), "AssertionError: 状态码应为 200");
    EXPECT_TRUE(Has(tc.child("failure").text().get(), "文件 test_checks.yaml, 第 13 行, 第 2 步 检查: request ('GET', '/api/status/500')"));
  }

  auto shown = results(root_ / "res");
  ASSERT_EQ(shown.size(), 5u);
  for (const char* row : {"状态码[ok]", "状态码[gone]", "状态码[new]"}) EXPECT_EQ(shown[row]["status"], "passed") << row;
  const json& failed = shown["错误的状态码"];
  EXPECT_EQ(failed["status"], "failed");
  EXPECT_EQ(failed["statusDetails"]["message"], "AssertionError: 状态码应为 200");
  const json& check = failed["steps"][1];
  EXPECT_EQ(check["name"], "第 2 步 请求 GET /api/status/500 检查");
  std::vector<std::string> asserts;
  for (const auto& s : check["steps"])
    if (s["name"] == "执行断言") asserts.push_back(s["status"]);
  EXPECT_EQ(asserts, (std::vector<std::string>{"passed", "failed"}));  // the third pair never ran
  // the failing request as a command a tester can run again
  std::string curl;
  for (const auto& a : check["attachments"])
    if (a["name"] == "curl 命令") curl = read_file(root_ / "res" / a["source"].get<std::string>());
  EXPECT_EQ(curl.rfind("curl -X GET 'http://127.0.0.1:", 0), 0u) << curl;  // the body goes too
  EXPECT_TRUE(Has(curl, "/api/status/500' \\\n  -H 'Accept: */*'")) << curl;

  if (!fs::exists(TOVIK_ALLURE)) GTEST_SKIP() << "allure program not installed at " << TOVIK_ALLURE;
  if (!program_on_path("java")) GTEST_SKIP() << "java is not installed (scripts/setup installs it)";
  Child gen({TOVIK_ALLURE, "generate", "res", "-o", "report", "--clean"}, root_, env());
  const Finished g = gen.wait(120s);
  ASSERT_FALSE(g.timed_out) << g.all();
  ASSERT_EQ(g.status, 0) << g.all();
  bool rendered = false;
  for (const auto& p : files_matching(root_ / "report/data/test-cases", ".json")) {
    const json c = read_json(p);
    if (c["name"] != "错误的状态码") continue;
    rendered = true;
    EXPECT_EQ(c["statusMessage"], "AssertionError: 状态码应为 200");
    const std::string steps = c["testStage"]["steps"].dump();
    EXPECT_TRUE(Has(steps, "执行断言"));
    EXPECT_TRUE(Has(steps, "状态码应为 200"));
  }
  EXPECT_TRUE(rendered);
}

// A flaky case runs again and passes: the report shows it once, flaky, its failed attempts as
// retries; JUnit, the counts and the exit status see final outcomes only. A case may opt out, and
// --only-rerun picks the failures worth another attempt.
TEST_F(YamlRun, RerunsTurnAFlakyCaseIntoOneFlakyResult) {
  write_file(root_ / "test_flaky.yaml", R"Y(
cases:
  - name: 建任务
    steps:
      - request: {method: POST, url: /api/jobs}
        extract: {job: $.id}
  - name: 等任务完成
    reruns: 2
    steps:
      - request: {method: GET, url: "/api/jobs/${job}"}
        extract: {state: $.state}
        validate: {equals: {完成: ["${state}", done]}}
  - name: 一直失败
    steps:
      - keyword: assert
        args: [1, equal, 2]
  - name: 不重跑
    reruns: 0
    steps:
      - keyword: assert
        args: [1, equal, 2]
)Y");
  Finished f = tovik({"--reruns", "1", "-v", "--alluredir", "res", "--junitxml", "junit.xml"});
  EXPECT_EQ(f.status, 1) << f.all();
  std::vector<std::string> progress = lines_with(f.out, "test_flaky.yaml::");
  progress.resize(std::min<std::size_t>(progress.size(), 7));  // the lines before the failures' report
  EXPECT_EQ(progress, (std::vector<std::string>{"test_flaky.yaml::建任务 PASSED [ 25%]", "test_flaky.yaml::等任务完成 RERUN",
                                                "test_flaky.yaml::等任务完成 RERUN", "test_flaky.yaml::等任务完成 PASSED [ 50%]",
                                                "test_flaky.yaml::一直失败 RERUN", "test_flaky.yaml::一直失败 FAILED [ 75%]",
                                                "test_flaky.yaml::不重跑 FAILED [100%]"}))
      << f.all();
  EXPECT_EQ(lines_with(f.out, "FAILED test_flaky.yaml::").size(), 2u);  // final outcomes only
  EXPECT_TRUE(Has(f.out, "= 2 failed, 2 passed, 3 rerun in ")) << f.all();

  std::map<std::string, std::vector<json>> attempts;
  for (const auto& p : files_matching(root_ / "res", "-result.json")) {
    const json r = read_json(p);
    attempts[r["name"]].push_back(r);
  }
  ASSERT_EQ(attempts["等任务完成"].size(), 3u);
  EXPECT_EQ(attempts["一直失败"].size(), 2u);
  EXPECT_EQ(attempts["不重跑"].size(), 1u);
  int flaky = 0;
  for (const json& r : attempts["等任务完成"]) {
    EXPECT_EQ(r["testCaseId"], attempts["等任务完成"][0]["testCaseId"]);  // one identity: retries of one case
    if (r["status"] == "passed") flaky += r["statusDetails"].value("flaky", false);
  }
  EXPECT_EQ(flaky, 1);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((root_ / "junit.xml").c_str()));
  EXPECT_EQ(doc.child("testsuites").child("testsuite").attribute("tests").as_int(), 4);

  // only the failures a pattern names run again
  f = tovik({"--reruns", "1", "--only-rerun", "ValueError", "-k", "一直失败"});
  EXPECT_TRUE(Has(f.out, "= 1 failed, 3 deselected in ")) << f.all();
  f = tovik({"--reruns", "1", "--only-rerun", "ValueError", "--only-rerun", "^Assertion", "-k", "一直失败"});
  EXPECT_TRUE(Has(f.out, "= 1 failed, 3 deselected, 1 rerun in ")) << f.all();
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--reruns", "-1"}, {"--reruns", "x"}, {"--only-rerun", "(unclosed"}, {"--reruns-delay", "-2"}}) {
    f = tovik(bad);
    EXPECT_EQ(f.status, 4) << bad[0] << " " << bad[1] << "\n" << f.all();
  }

  if (!fs::exists(TOVIK_ALLURE) || !program_on_path("java")) GTEST_SKIP() << "no allure program or java";
  Child gen({TOVIK_ALLURE, "generate", "res", "-o", "report", "--clean"}, root_, env());
  ASSERT_EQ(gen.wait(120s).status, 0);
  int shown = 0;
  for (const auto& p : files_matching(root_ / "report/data/test-cases", ".json")) {
    const json c = read_json(p);
    if (c["name"] != "等任务完成" || c["status"] != "passed") continue;
    ++shown;
    EXPECT_TRUE(c.value("flaky", false)) << c.dump();
    EXPECT_EQ(c["extra"]["retries"].size(), 2u) << c.dump();
  }
  EXPECT_EQ(shown, 1);
}

// Teardown runs after a failed step and after Ctrl-C's first stop; its own failure is told beside
// the case's. A retried step passes on the third look at a job that is pending twice.
TEST_F(YamlRun, TeardownAndRetry) {
  write_file(root_ / "test_life.yaml", R"Y(
cases:
  - name: 失败后清理
    steps:
      - keyword: assert
        args: [1, equal, 2]
      - request: {method: POST, url: /record, data: 不会发送}
    teardown:
      - request: {method: DELETE, url: /record, data: 清理一}
      - keyword: no_such_keyword
      - request: {method: DELETE, url: /record, data: 清理二}
  - name: 轮询
    steps:
      - request: {method: POST, url: /api/jobs}
        extract: {job: $.id}
      - request: {method: GET, url: "/api/jobs/${job}"}
        extract: {state: $.state}
        retry: {times: 3, interval: 0.05, until: {equals: {完成: ["${state}", done]}}}
  - name: 等不到
    steps:
      - request: {method: POST, url: /api/jobs}
        extract: {job: $.id}
      - request: {method: GET, url: "/api/jobs/${job}"}
        extract: {state: $.state}
        retry: {times: 2, interval: 0, until: {equals: {完成: ["${state}", done]}}}
)Y");
  const Finished f = tovik({"--alluredir", "res"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "2 failed, 1 passed in "));
  const std::vector<std::string> got = seen();
  EXPECT_EQ(got, (std::vector<std::string>{"DELETE /record 清理一", "DELETE /record 清理二"}));
  const std::string failure = section(f.out, "_ test_life.yaml::失败后清理 _", "\n___");
  EXPECT_TRUE(Has(failure, "AssertionError: \n后置步骤也失败: 文件 test_life.yaml, 第 10 行, 后置第 2 步: AttributeError: 不存在的关键字：no_such_keyword"));
  EXPECT_TRUE(Has(failure, "步骤: 第 1 步\n"));  // the case's own failure keeps its place
  EXPECT_TRUE(Has(f.out, "FAILED test_life.yaml::等不到 - AssertionError: 发送 2 次后仍未满足 retry.until: 完成"));

  auto shown = results(root_ / "res");
  const json& poll = shown["轮询"]["steps"][1];
  ASSERT_EQ(poll["steps"].size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(poll["steps"][i]["name"], "第 " + std::to_string(i + 1) + " 次尝试");
  EXPECT_EQ(poll["steps"][0]["status"], "failed");
  EXPECT_EQ(poll["steps"][2]["status"], "passed");
}

TEST_F(YamlRun, CtrlCStopsTheCaseButNotItsTeardown) {
  write_file(root_ / "test_stop.yaml", R"Y(
name: 慢
steps:
  - request: {method: GET, url: "/api/slow?seconds=1.5"}
  - request: {method: POST, url: /record, data: 不该发送}
teardown:
  - request: {method: DELETE, url: /record, data: 清理}
)Y");
  Child child({TOVIK_BIN, "run"}, root_, env());
  for (const auto until = std::chrono::steady_clock::now() + 700ms; std::chrono::steady_clock::now() < until;) child.pump(20ms);
  ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
  const Finished f = child.wait(30s);
  ASSERT_FALSE(f.timed_out) << f.all();
  EXPECT_EQ(f.status, 2) << f.all();
  EXPECT_EQ(seen(), std::vector<std::string>{"DELETE /record 清理"});
}

// A file that is not YAML fails alone, naming line and column; malformed steps and unknown
// templates fail their case naming file, line and step; the rest runs.
TEST_F(YamlRun, BadFilesFailAloneAndSayWhere) {
  write_file(root_ / "test_broken.yaml", "name: x\nsteps:\n  - keyword: assert\n    args: [1, equal, 1\n");
  write_file(root_ / "test_mixed.yaml", R"Y(
cases:
  - name: 好
    steps:
      - keyword: assert
        args: [1, equal, 1]
  - name: 两样都有
    steps:
      - keyword: assert
        request: {method: GET, url: /}
  - name: 未知模板
    steps:
      - request: {method: GET, url: "/api/anything/${nobody}"}
)Y");
  const Finished f = tovik({});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "ERROR test_broken.yaml - ValueError: 文件 test_broken.yaml, 第 5 行, 第 1 列: YAML 语法错误: "));
  EXPECT_TRUE(Has(f.out, "ERROR test_mixed.yaml::两样都有 - CollectError: 文件 test_mixed.yaml, 第 9 行, 第 1 步: 步骤应有 keyword"));
  EXPECT_TRUE(Has(f.out, "FAILED test_mixed.yaml::未知模板 - KeyError: 文件 test_mixed.yaml, 第 13 行, 第 1 步: 模板变量 ${nobody} 未定义"));
  EXPECT_TRUE(Has(f.out, "1 failed, 1 passed, 2 errors in "));
}

}  // namespace
