// End-to-end tests of parallel runs (-n): the real program with its real worker processes, judged
// against a serial run of the same suite, and what it leaves when workers die or the run is
// stopped.
#include <dirent.h>

#include <map>
#include <set>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "examples/demo_api.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tovik::e2e;
using nlohmann::json;
using tovik::examples::SheetRows;

// Processes (other than zombies) whose working directory is dir: what a run left running.
std::vector<std::string> processes_in(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path target = fs::canonical(dir, ec);
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    if (fs::read_symlink(e.path() / "cwd", link_ec) != target) continue;
    const std::string stat = read_file(e.path() / "stat");
    const auto close = stat.rfind(')');
    if (close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'Z') continue;
    std::string cmd = read_file(e.path() / "cmdline");
    std::replace(cmd.begin(), cmd.end(), '\0', ' ');
    out.push_back(pid + " " + cmd);
  }
  return out;
}

// Waits a little for processes that are on their way out.
std::vector<std::string> left_in(const fs::path& dir) {
  std::vector<std::string> left;
  for (int i = 0; i < 40; ++i) {
    left = processes_in(dir);
    if (left.empty()) break;
    std::this_thread::sleep_for(50ms);
  }
  return left;
}

class Parallel : public ProjectTest {
 protected:
  Parallel() : server_([](httplib::Server& s) { tovik::examples::add_demo_api(s); }) {}

  void SetUp() override {
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    write_file(root_ / "pytest.ini", "[pytest]\ntovik_variables = vars.yaml\n");
  }
  void TearDown() override {
    EXPECT_EQ(left_in(root_), std::vector<std::string>{});
    ProjectTest::TearDown();
  }

  Env env() const { return run_env({{"TOVIK_API_BASE_URL", server_.url()}}); }
  Finished tovik(std::vector<std::string> args, std::chrono::milliseconds limit = 90s) {
    args.insert(args.begin(), "run");
    return run_tovik(args, {{"TOVIK_API_BASE_URL", server_.url()}}, limit);
  }

  // The allure results of a run: case name -> its results, in start order.
  std::map<std::string, std::vector<json>> results(const fs::path& dir) const {
    std::map<std::string, std::vector<json>> out;
    for (const auto& p : files_matching(dir, "-result.json")) {
      const json r = json::parse(read_file(p));
      out[r.at("fullName")].push_back(r);
    }
    for (auto& [name, list] : out)
      std::sort(list.begin(), list.end(), [](const json& a, const json& b) { return a["start"] < b["start"]; });
    return out;
  }
  static std::string label(const json& result, const std::string& name) {
    for (const json& l : result["labels"])
      if (l["name"] == name) return l["value"];
    return "";
  }

  // A suite with every outcome, fixtures, a captured log and YAML cases that save variables.
  void mixed_suite() {
    workbook("test_mix.xlsx",
             {{"通过", {R(nullptr, nullptr, "@fixtures", "tmp_path"), R(1, "包含", "assert", "apple", "in", "pineapple")}},
              {"失败", {R(1, "先通过", "assert", "kiwi", "in", "kiwifruit"), R(2, "再失败", "assert", "期望值", "equal", "实际值")}},
              {"跳过", {R(nullptr, nullptr, "@skip", "还没写完"), R(1, "", "assert", 1, "equal", 2)}},
              {"出错", {R(nullptr, nullptr, "@fixtures", "没有这个"), R(1, "", "assert", 1, "equal", 1)}}});
    std::vector<SheetRows> many;
    for (int i = 0; i < 12; ++i) many.push_back({"例" + std::to_string(i), {R(1, "", "sleep", 0.05), R(2, "", "assert", i, "equal", i)}});
    workbook("test_many.xlsx", many);
    const fs::path demo = fs::path(TOVIK_SOURCE_DIR) / "examples/demo";
    fs::copy_file(demo / "test_api.yaml", root_ / "test_api.yaml");
    fs::copy_file(demo / "status_codes.csv", root_ / "status_codes.csv");
  }

  tovik::http::testing::LocalServer server_;
};

// ---------------------------------------------------------------------------------------------
// The same report as a serial run

TEST_F(Parallel, WorkersReportWhatASerialRunReports) {
  mixed_suite();
  const Finished serial = tovik({"-v", "--alluredir", "serial", "--junitxml", "serial.xml"});
  ASSERT_EQ(serial.status, 1) << serial.all();
  const std::string serial_vars = read_file(root_ / "vars.yaml");
  fs::remove(root_ / "vars.yaml");

  const Finished par = tovik({"-v", "-n", "3", "--alluredir", "par", "--junitxml", "par.xml"});
  EXPECT_EQ(par.status, 1) << par.all();
  // the closing line counts the same outcomes
  const auto closing = [](const std::string& out) { return out.substr(out.rfind("\n=") + 1, out.rfind(" in ") - out.rfind("\n=") - 1); };
  EXPECT_EQ(closing(par.out), closing(serial.out)) << par.all();
  EXPECT_TRUE(Has(par.out, "1 failed, 21 passed, 1 skipped, 1 error")) << par.all();
  EXPECT_TRUE(Has(par.out, "\n执行进程: 3 个（--dist load）\n")) << par.all();
  // each case once, with its outcome (in the order they finished)
  const auto outcomes = [](const std::string& out) {
    std::multiset<std::string> lines;
    for (const std::string& line : lines_with(out, " [")) lines.insert(line.substr(0, line.rfind(" [")));
    return lines;
  };
  EXPECT_EQ(outcomes(par.out), outcomes(serial.out)) << par.all();
  // the failure's report names its row, as serially
  EXPECT_TRUE(Has(par.out, "工作表: 失败\n行: 3\n关键字: assert")) << par.all();

  const auto s = results(root_ / "serial"), p = results(root_ / "par");
  ASSERT_EQ(p.size(), s.size());
  std::set<std::string> threads;
  for (const auto& [name, list] : s) {
    ASSERT_EQ(p.count(name), 1u) << name;
    const json& a = list.front();
    const json& b = p.at(name).front();
    EXPECT_EQ(b["status"], a["status"]) << name;
    EXPECT_EQ(b["historyId"], a["historyId"]) << name;
    EXPECT_EQ(b["steps"].size(), a["steps"].size()) << name;
    EXPECT_EQ(b["statusDetails"].value("message", ""), a["statusDetails"].value("message", "")) << name;
    // every attachment the worker recorded is a file of the one results directory
    std::function<void(const json&)> files = [&](const json& node) {
      for (const json& at : node["attachments"]) EXPECT_TRUE(fs::exists(root_ / "par" / at["source"].get<std::string>())) << name;
      for (const json& st : node["steps"]) files(st);
    };
    files(b);
    EXPECT_EQ(b["attachments"].size(), a["attachments"].size()) << name;  // the captured log
    threads.insert(label(b, "thread"));
  }
  EXPECT_GE(threads.size(), 2u);  // cases ran on more than one worker
  for (const std::string& t : threads) EXPECT_NE(t.find("-gw"), std::string::npos) << t;
  EXPECT_TRUE(fs::exists(root_ / "par/categories.json"));
  EXPECT_TRUE(fs::exists(root_ / "par/environment.properties"));

  pugi::xml_document sx, px;
  ASSERT_TRUE(sx.load_file((root_ / "serial.xml").c_str()));
  ASSERT_TRUE(px.load_file((root_ / "par.xml").c_str()));
  for (const char* attr : {"tests", "failures", "errors", "skipped"})
    EXPECT_EQ(px.child("testsuites").child("testsuite").attribute(attr).as_int(),
              sx.child("testsuites").child("testsuite").attribute(attr).as_int())
        << attr;

  // the values the YAML cases saved reach the variable file, written once by the controller
  const std::string vars = read_file(root_ / "vars.yaml");
  for (const std::string& line : lines_with(serial_vars, ":")) {
    const std::string name = line.substr(0, line.find(':'));
    EXPECT_TRUE(Has(vars, name + ":")) << name;
  }
  EXPECT_TRUE(Has(par.err, "变量 got 被多个用例保存为不同的值：")) << par.all();
  EXPECT_TRUE(Has(par.err, "test_api.yaml::商品价格[苹果]（5.5）")) << par.all();
}

TEST_F(Parallel, GroupsAndFilesStayOnOneWorkerInOrder) {
  // a token saved by one case and used by the next: safe only when both run on one worker
  workbook("test_login.xlsx", {{"登录", {R(nullptr, nullptr, "@group", "会话"), R(1, "", "sleep", 0.2),
                                          R(2, "", "save", "token", "t-123")}},
                               {"查询", {R(nullptr, nullptr, "@group", "会话"), R(1, "", "assert", "{token}", "equal", "t-123")}}});
  std::vector<SheetRows> a, b;
  for (int i = 0; i < 5; ++i) {
    a.push_back({"甲" + std::to_string(i), {R(1, "", "sleep", 0.05)}});
    b.push_back({"乙" + std::to_string(i), {R(1, "", "sleep", 0.05)}});
  }
  workbook("test_a.xlsx", a);
  workbook("test_b.xlsx", b);

  Finished f = tovik({"-n", "2", "--alluredir", "load"});
  EXPECT_EQ(f.status, 0) << f.all();
  auto r = results(root_ / "load");
  EXPECT_EQ(label(r.at("test_login.xlsx::登录")[0], "thread"), label(r.at("test_login.xlsx::查询")[0], "thread"));
  EXPECT_LE(r.at("test_login.xlsx::登录")[0]["stop"], r.at("test_login.xlsx::查询")[0]["start"]);
  // plain load spreads a file's cases over both workers
  std::set<std::string> a_threads;
  for (int i = 0; i < 5; ++i) a_threads.insert(label(r.at("test_a.xlsx::甲" + std::to_string(i))[0], "thread"));
  EXPECT_EQ(a_threads.size(), 2u);

  f = tovik({"-n", "2", "--dist", "loadfile", "--alluredir", "loadfile"});
  EXPECT_EQ(f.status, 0) << f.all();
  r = results(root_ / "loadfile");
  for (const char* file : {"test_a.xlsx::甲", "test_b.xlsx::乙"}) {
    std::set<std::string> threads;
    std::int64_t last_start = 0;
    for (int i = 0; i < 5; ++i) {
      const json& res = r.at(file + std::to_string(i))[0];
      threads.insert(label(res, "thread"));
      EXPECT_GE(res["start"].get<std::int64_t>(), last_start) << file << i;  // in file order
      last_start = res["start"];
    }
    EXPECT_EQ(threads.size(), 1u) << file;
  }
}

// ---------------------------------------------------------------------------------------------
// Faults

TEST_F(Parallel, AWorkerThatDiesFailsItsCaseAndIsReplaced) {
  // the slow case and the two after it form a group: when its worker dies, the rest of the group
  // runs on the worker that replaces it
  workbook("test_slow.xlsx", {{"慢", {R(nullptr, nullptr, "@group", "g"), R(1, "", "sleep", 60)}},
                              {"之后一", {R(nullptr, nullptr, "@group", "g"), R(1, "", "assert", 1, "equal", 1)}},
                              {"之后二", {R(nullptr, nullptr, "@group", "g"), R(1, "", "assert", 2, "equal", 2)}}});
  std::vector<SheetRows> quick;
  for (int i = 0; i < 4; ++i) quick.push_back({"快" + std::to_string(i), {R(1, "", "assert", i, "equal", i)}});
  workbook("test_quick.xlsx", quick);

  Child child({TOVIK_BIN, "run", "-v", "-n", "2", "--junitxml", "junit.xml"}, root_, env());
  // the quick cases pass and their worker, out of work, ends: the one left runs the slow case
  const auto give_up = std::chrono::steady_clock::now() + 30s;
  std::vector<std::string> workers;
  while (std::chrono::steady_clock::now() < give_up) {
    child.pump(50ms);
    workers.clear();
    for (const std::string& p : processes_in(root_))
      if (p.find("--tovik-worker") != std::string::npos) workers.push_back(p);
    if (count_of(child.out(), " PASSED") == 4 && workers.size() == 1) break;
  }
  ASSERT_EQ(workers.size(), 1u) << child.out();
  ASSERT_EQ(::kill(std::stoi(workers[0]), SIGKILL), 0);
  const Finished f = child.wait(60s);
  ASSERT_FALSE(f.timed_out) << f.all();
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "test_slow.xlsx::慢 FAILED")) << f.all();
  EXPECT_TRUE(Has(f.out, "WorkerExited: 执行进程 gw")) << f.all();
  EXPECT_TRUE(Has(f.out, "在运行此用例时因信号 9（SIGKILL）退出")) << f.all();
  EXPECT_TRUE(Has(f.out, "test_slow.xlsx::之后一 PASSED")) << f.all();
  EXPECT_TRUE(Has(f.out, "test_slow.xlsx::之后二 PASSED")) << f.all();
  EXPECT_TRUE(Has(f.out, "1 failed, 6 passed")) << f.all();
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((root_ / "junit.xml").c_str()));
  EXPECT_EQ(doc.child("testsuites").child("testsuite").attribute("tests").as_int(), 7);
}

TEST_F(Parallel, ACaseOverItsTimeLimitStopsAndTheWorkerGoesOn) {
  workbook("test_t.xlsx", {{"太慢", {R(nullptr, nullptr, "@timeout", 0.5), R(1, "", "sleep", 30), R(2, "", "assert", 1, "equal", 1)}},
                           {"之后", {R(1, "", "assert", 1, "equal", 1)}},
                           {"也慢", {R(1, "", "sleep", 30)}}});
  const auto started = std::chrono::steady_clock::now();
  const Finished f = tovik({"-n", "2", "--case-timeout", "1", "-v"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << f.all();
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "CaseTimeout: 用例运行超过 0.5 秒，已停止（当时在执行关键字 sleep）")) << f.all();
  EXPECT_TRUE(Has(f.out, "CaseTimeout: 用例运行超过 1.0 秒，已停止（当时在执行关键字 sleep）")) << f.all();
  EXPECT_TRUE(Has(f.out, "test_t.xlsx::之后 PASSED")) << f.all();
  EXPECT_TRUE(Has(f.out, "2 failed, 1 passed")) << f.all();
}

TEST_F(Parallel, CtrlCStopsEveryWorkerAndKeepsWhatFinished) {
  std::vector<SheetRows> sheets;
  for (int i = 0; i < 200; ++i) sheets.push_back({"例" + std::to_string(i), {R(1, "", "sleep", 0.05)}});
  workbook("test_many.xlsx", sheets);

  Child child({TOVIK_BIN, "run", "-n", "2", "--alluredir", "res", "--junitxml", "junit.xml"}, root_, env());
  const auto give_up = std::chrono::steady_clock::now() + 30s;
  while (count_of(child.out(), ".") < 20 && std::chrono::steady_clock::now() < give_up) child.pump(20ms);
  ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
  const Finished f = child.wait(30s);
  ASSERT_FALSE(f.timed_out) << f.all();
  EXPECT_EQ(f.status, 2) << f.all();
  EXPECT_TRUE(Has(f.out, "KeyboardInterrupt") || Has(f.out, "Interrupted")) << f.all();
  const auto r = results(root_ / "res");
  EXPECT_GE(r.size(), 15u);  // the dots counted include those of the header and the file name
  EXPECT_LT(r.size(), 200u);
  for (const auto& [name, list] : r) EXPECT_EQ(list.front()["status"], "passed") << name;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((root_ / "junit.xml").c_str()));
  EXPECT_EQ(doc.child("testsuites").child("testsuite").attribute("tests").as_uint(), r.size());
}

TEST_F(Parallel, ExitFirstStopsTheWorkersAfterTheirCurrentCases) {
  std::vector<SheetRows> sheets;
  for (int i = 0; i < 40; ++i) sheets.push_back({"例" + std::to_string(i), {R(1, "", "sleep", 0.05), R(2, "", "assert", i, "equal", -1)}});
  workbook("test_fail.xlsx", sheets);
  const Finished f = tovik({"-n", "2", "-x"});
  EXPECT_EQ(f.status, 1) << f.all();
  // the first failure stops the run: what each worker was running when the run learnt of it (a
  // worker goes on to the case it holds next without waiting) ends, nothing after
  EXPECT_LE(lines_with(f.out, "FAILED test_fail.xlsx::").size(), 4u) << f.all();
  EXPECT_TRUE(Lacks(f.out, " passed")) << f.all();
}

TEST_F(Parallel, RerunsAndLastFailedWorkAcrossWorkers) {
  workbook("test_r.xlsx", {{"总失败", {R(1, "", "assert", 1, "equal", 2)}}, {"通过", {R(1, "", "assert", 1, "equal", 1)}}});
  Finished f = tovik({"-n", "2", "--reruns", "2", "-v"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_EQ(count_of(f.out, "test_r.xlsx::总失败 RERUN"), 2) << f.all();
  EXPECT_TRUE(Has(f.out, "1 failed, 1 passed, 2 rerun")) << f.all();
  f = tovik({"-n", "2", "--lf", "-v"});
  EXPECT_TRUE(Has(f.out, "test_r.xlsx::总失败 FAILED")) << f.all();
  EXPECT_TRUE(Lacks(f.out, "test_r.xlsx::通过")) << f.all();
}

// ---------------------------------------------------------------------------------------------
// Bad input

TEST_F(Parallel, BadParallelSettingsAreRefusedClearly) {
  workbook("test_a.xlsx", {{"甲", {R(1, "", "assert", 1, "equal", 1)}}});
  for (const char* n : {"-1", "abc", "2x", "100000"}) {
    const Finished f = tovik({"-n", n});
    EXPECT_EQ(f.status, 4) << n << f.all();
    EXPECT_TRUE(Has(f.err, "-n 应为 0 到 512 的整数或 auto")) << f.all();
  }
  Finished f = tovik({"-n", "2", "--dist", "each"});
  EXPECT_EQ(f.status, 4) << f.all();
  EXPECT_TRUE(Has(f.err, "--dist 应为 load 或 loadfile，实际为 'each'")) << f.all();

  f = tovik({"-n", "0"});
  EXPECT_EQ(f.status, 0) << f.all();
  f = tovik({"-n", "auto"});
  EXPECT_EQ(f.status, 0) << f.all();

  workbook("test_b.xlsx", {{"乙", {R(nullptr, nullptr, "@group"), R(1, "", "assert", 1, "equal", 1)}}});
  f = tovik({"-n", "2"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "@group 需要一个组名")) << f.all();
  EXPECT_TRUE(Has(f.out, "test_a.xlsx ."));  // the other file still runs
}

}  // namespace
