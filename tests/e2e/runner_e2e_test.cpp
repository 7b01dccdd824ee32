// End-to-end tests of `tovik run`: the real program started in a temporary directory of its own,
// judged by its exit status, its output and the reports it leaves behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "examples/workbook_writer.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using tovik::List;
using tovik::Value;
using tovik::examples::SheetRows;
using namespace tovik::e2e;

// ---------------------------------------------------------------------------------------------
// Files

// The tmp_path fixture's directories that exist in dir.
std::vector<std::string> fixture_dirs(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("tovik-", 0) == 0) out.push_back(e.path().string());
  return out;
}

// ---------------------------------------------------------------------------------------------
// The fixture: a fresh directory per test, removed after.

class TovikRun : public ProjectTest {
 protected:
  Env env() const { return run_env(); }

  // Runs `tovik run args...` in dir (the test's directory by default).
  Finished tovik(std::vector<std::string> args, const fs::path& dir = {}) {
    args.insert(args.begin(), "run");
    return run_tovik(args, {}, 60s, dir);
  }

  void ini(const std::string& body) { write_file(root_ / "pytest.ini", "[pytest]\n" + body); }
};

// ---------------------------------------------------------------------------------------------
// Outcomes and the terminal report

TEST_F(TovikRun, MixedOutcomesAreReportedCaseByCase) {
  ini("");
  workbook("test_mix.xlsx", {
      {"通过", {R(nullptr, nullptr, "@fixtures", "tmp_path"), R(1, "包含", "assert", "apple", "in", "pineapple")}},
      {"失败", {R(nullptr, nullptr, "@fixtures", "tmp_path"), R(1, "先通过", "assert", "kiwi", "in", "kiwifruit"),
                R(2, "再失败", "assert", "期望值", "equal", "实际值")}},
      {"跳过", {R(nullptr, nullptr, "@skip", "还没写完"), R(1, "", "assert", 1, "equal", 2)}},
  });
  const Finished f = tovik({});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "collected 3 items"));
  EXPECT_TRUE(Has(f.out, "\ntest_mix.xlsx .Fs "));  // tab order, one mark per case
  EXPECT_TRUE(Has(f.out, "[100%]"));

  const std::string failures = section(f.out, "= FAILURES =", "short test summary info");
  ASSERT_FALSE(failures.empty()) << f.out;
  EXPECT_TRUE(Has(failures, "_ test_mix.xlsx::失败 _"));
  EXPECT_TRUE(Has(failures, "文件: test_mix.xlsx\n"));
  EXPECT_TRUE(Has(failures, "工作表: 失败\n"));
  EXPECT_TRUE(Has(failures, "行: 4\n"));  // row 2 requests the fixture
  EXPECT_TRUE(Has(failures, "关键字: assert\n"));
  EXPECT_TRUE(Has(failures, "参数: ('期望值', 'equal', '实际值')\n"));
  EXPECT_TRUE(Has(failures, "AssertionError"));
  // the failed case's own log lines, both steps, and nothing of the other cases
  EXPECT_TRUE(Has(failures, "Captured log call"));
  EXPECT_TRUE(Has(failures, "INFO     tovik.lexa_utils:正在执行关键字: 【assert】('kiwi', 'in', 'kiwifruit')"));
  EXPECT_TRUE(Has(failures, "INFO     tovik.lexa_utils:正在执行关键字: 【assert】('期望值', 'equal', '实际值')"));
  EXPECT_TRUE(Lacks(failures, "pineapple"));
  EXPECT_TRUE(Lacks(f.out, "'equal', 2)"));  // the skipped case never ran

  EXPECT_TRUE(Has(f.out, "FAILED test_mix.xlsx::失败 - AssertionError"));
  EXPECT_THAT(f.out, testing::ContainsRegex("=+ 1 failed, 1 passed, 1 skipped in [0-9]+\\.[0-9]{2}s =+\n$"));
  // a passing case's log stays out of the report
  EXPECT_EQ(count_of(f.out, "正在执行关键字"), 2u) << f.out;
  // the fixture's directories went away with their cases, passed or failed
  EXPECT_EQ(fixture_dirs(tmp_), std::vector<std::string>{});
}

TEST_F(TovikRun, AllPassingExitsZeroAndVerboseNamesEveryCase) {
  ini("");
  workbook("test_ok.xlsx", {
      {"甲", {R(1, "", "assert", "a", "in", "abc")}},
      {"乙", {R(1, "", "assert", 7, "equal", 7)}},
  });
  Finished f = tovik({});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "test_ok.xlsx .. "));
  EXPECT_THAT(f.out, testing::ContainsRegex("=+ 2 passed in [0-9.]+s =+\n$"));
  EXPECT_TRUE(Lacks(f.out, "FAILURES"));
  EXPECT_TRUE(Has(f.out, "rootdir: " + root_.string() + ", configfile: pytest.ini"));

  workbook("test_more.xlsx", {
      {"丙", {R(1, "", "assert", 1, "equal", 2)}},
      {"丁", {R(nullptr, nullptr, "@skip", "不跑")}},
  });
  f = tovik({"-v"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "\ntest_more.xlsx::丙 FAILED [ 25%]\n"));
  EXPECT_TRUE(Has(f.out, "\ntest_more.xlsx::丁 SKIPPED (不跑) [ 50%]\n"));
  EXPECT_TRUE(Has(f.out, "\ntest_ok.xlsx::甲 PASSED [ 75%]\n"));
  EXPECT_TRUE(Has(f.out, "\ntest_ok.xlsx::乙 PASSED [100%]\n"));

  f = tovik({"-v", "-k", "丙 or 甲"});  // names in Chinese select as well
  EXPECT_TRUE(Has(f.out, "::丙 FAILED"));
  EXPECT_TRUE(Has(f.out, "::甲 PASSED"));
  EXPECT_TRUE(Has(f.out, "1 failed, 1 passed, 2 deselected in "));

  f = tovik({"-q", "test_ok.xlsx"});
  EXPECT_EQ(f.status, 0);
  EXPECT_TRUE(Lacks(f.out, "test session starts"));
  EXPECT_TRUE(Lacks(f.out, "test_ok.xlsx"));
  EXPECT_EQ(f.out.rfind("..", 0), 0u) << f.out;  // the marks stay
  EXPECT_TRUE(Has(f.out, "\n2 passed in "));
}

// ---------------------------------------------------------------------------------------------
// Selection

class Selection : public TovikRun {
 protected:
  void SetUp() override {
    TovikRun::SetUp();
    ini("");
    workbook("test_sel.xlsx", {
        {"login_ok", {R(nullptr, nullptr, "@tags", "smoke", "fast"), R(1, "", "assert", 1, "equal", 1)}},
        {"login_bad", {R(nullptr, nullptr, "@tags", "slow"), R(1, "", "assert", 1, "equal", 2)}},
        {"logout", {R(nullptr, nullptr, "@tags", "smoke"), R(1, "", "assert", 3, "equal", 3)}},
    });
  }
  // The node ids --collect-only lists for the extra arguments.
  std::vector<std::string> chosen(std::vector<std::string> args) {
    args.push_back("--collect-only");
    const Finished f = tovik(args);
    std::vector<std::string> ids = lines_with(f.out, "::");
    EXPECT_EQ(f.status, ids.empty() ? 5 : 0) << f.all();
    return ids;
  }
};

TEST_F(Selection, KeywordExpressionMatchesNamesAndTags) {
  using V = std::vector<std::string>;
  EXPECT_EQ(chosen({"-k", "login"}), (V{"test_sel.xlsx::login_ok", "test_sel.xlsx::login_bad"}));
  EXPECT_EQ(chosen({"-k", "login and not bad"}), (V{"test_sel.xlsx::login_ok"}));
  EXPECT_EQ(chosen({"-k", "logout or bad"}), (V{"test_sel.xlsx::login_bad", "test_sel.xlsx::logout"}));
  EXPECT_EQ(chosen({"-k", "LOGOUT"}), (V{"test_sel.xlsx::logout"}));  // case does not matter
  EXPECT_EQ(chosen({"-k", "not (login_ok or logout)"}), (V{"test_sel.xlsx::login_bad"}));
  EXPECT_EQ(chosen({"-k", "sel.xlsx"}).size(), 3u);  // the file is part of the name
  EXPECT_EQ(chosen({"-k", "smoke"}), (V{"test_sel.xlsx::login_ok", "test_sel.xlsx::logout"}));
  EXPECT_EQ(chosen({"-k", "nothing_like_this"}), V{});
}

TEST_F(Selection, MarkExpressionMatchesTags) {
  using V = std::vector<std::string>;
  EXPECT_EQ(chosen({"-m", "smoke"}), (V{"test_sel.xlsx::login_ok", "test_sel.xlsx::logout"}));
  EXPECT_EQ(chosen({"-m", "smoke and not fast"}), (V{"test_sel.xlsx::logout"}));
  EXPECT_EQ(chosen({"-m", "slow or fast"}), (V{"test_sel.xlsx::login_ok", "test_sel.xlsx::login_bad"}));
  EXPECT_EQ(chosen({"-m", "login_ok"}), V{});  // names are not tags
  EXPECT_EQ(chosen({"-m", "smok"}), V{});      // tags match whole
}

TEST_F(Selection, DeselectedCasesDoNotRunAndAreCounted) {
  Finished f = tovik({"-k", "not bad"});
  EXPECT_EQ(f.status, 0) << f.all();  // the failing case was left out
  EXPECT_TRUE(Has(f.out, "collected 3 items / 1 deselected / 2 selected"));
  EXPECT_TRUE(Has(f.out, "2 passed, 1 deselected in "));

  f = tovik({"-m", "slow"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "1 failed, 2 deselected in "));

  f = tovik({"-k", "nothing_like_this"});
  EXPECT_EQ(f.status, 5) << f.all();
  EXPECT_TRUE(Has(f.out, "3 deselected in "));
}

// Shards split what -k and -m left: every case runs on one machine, the others count it as
// deselected, and the machines' allure results make one report of every case.
TEST_F(Selection, ShardsSplitTheSelectedCasesBetweenMachines) {
  using V = std::vector<std::string>;
  EXPECT_EQ(chosen({"--shard", "1/2"}), (V{"test_sel.xlsx::login_ok"}));
  EXPECT_EQ(chosen({"--shard", "2/2"}), (V{"test_sel.xlsx::login_bad", "test_sel.xlsx::logout"}));
  EXPECT_EQ(chosen({"-m", "smoke", "--shard", "2/2"}), (V{"test_sel.xlsx::logout"}));
  EXPECT_EQ(chosen({"--shard", "3/4"}), (V{"test_sel.xlsx::login_bad"}));
  EXPECT_EQ(chosen({"--shard", "1/4"}), V{});  // more machines than cases: this one has none

  Finished f = tovik({"--shard", "1/2", "--alluredir", "res1"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "1 passed, 2 deselected in "));
  f = tovik({"--shard", "2/2", "--alluredir", "res2"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "1 failed, 1 passed, 1 deselected in "));
  EXPECT_EQ(files_matching(root_ / "res1", "-result.json").size() + files_matching(root_ / "res2", "-result.json").size(), 3u);

  for (const char* bad : {"3/2", "0/0", "two/4", "1"}) {
    f = tovik({"--shard", bad});
    EXPECT_EQ(f.status, 4) << bad << "\n" << f.all();
    EXPECT_TRUE(Has(f.err, "--shard 应为 I/N（1 ≤ I ≤ N 的整数，如 2/4），实际为 '" + std::string(bad) + "'")) << f.all();
  }

  if (!fs::exists(TOVIK_ALLURE)) GTEST_SKIP() << "allure program not installed at " << TOVIK_ALLURE;
  Child gen({TOVIK_ALLURE, "generate", "res1", "res2", "-o", "report", "--clean"}, root_, run_env());
  ASSERT_EQ(gen.wait(120s).status, 0);
  const std::string summary = read_file(root_ / "report/widgets/summary.json");
  EXPECT_TRUE(Has(summary, "\"total\":3")) << summary;
}

// The failed cases of a run are kept for the next: --lf runs only them, --ff runs them first, a
// passing case leaves the record, --cache-clear forgets it, and a broken record is only a warning.
TEST_F(Selection, LastFailedCasesRunAgainFirstOrAlone) {
  using V = std::vector<std::string>;
  Finished f = tovik({});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_EQ(read_file(root_ / ".tovik_cache/lastfailed"), "{\"test_sel.xlsx::login_bad\":true}\n");
  EXPECT_TRUE(Has(read_file(root_ / ".tovik_cache/.gitignore"), "*\n"));

  f = tovik({"--lf", "-v"});
  EXPECT_EQ(lines_with(f.out, " FAILED"), (V{"test_sel.xlsx::login_bad FAILED [100%]"}));
  EXPECT_TRUE(Has(f.out, "1 failed, 2 deselected in ")) << f.all();
  f = tovik({"--ff", "--collect-only"});
  EXPECT_EQ(lines_with(f.out, "::"), (V{"test_sel.xlsx::login_bad", "test_sel.xlsx::login_ok", "test_sel.xlsx::logout"}));

  // the case is mended: it passes, and the record empties, so --lf runs everything again
  workbook("test_sel.xlsx", {{"login_ok", {R(1, "", "assert", 1, "equal", 1)}},
                             {"login_bad", {R(1, "", "assert", 2, "equal", 2)}},
                             {"logout", {R(1, "", "assert", 3, "equal", 3)}}});
  f = tovik({"--lf"});
  EXPECT_TRUE(Has(f.out, "1 passed, 2 deselected in ")) << f.all();
  f = tovik({"--lf"});
  EXPECT_TRUE(Has(f.out, "3 passed in ")) << f.all();

  write_file(root_ / ".tovik_cache/lastfailed", "{\"test_sel.xlsx::logout\": true");  // cut short
  f = tovik({"--lf"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.err, "WARNING  tovik.cache:忽略无法读取的失败用例记录 ")) << f.all();
  EXPECT_TRUE(Has(f.out, "3 passed in ")) << f.all();
  write_file(root_ / ".tovik_cache/lastfailed", "{\"test_sel.xlsx::logout\": true}");
  f = tovik({"--lf", "--cache-clear"});
  EXPECT_TRUE(Has(f.out, "3 passed in ")) << f.all();
  EXPECT_EQ(read_file(root_ / ".tovik_cache/lastfailed"), "{}\n");
}

TEST_F(Selection, CollectOnlyListsAndRunsNothing) {
  const Finished f = tovik({"--collect-only", "--alluredir", "res", "--junitxml", "junit.xml"});
  EXPECT_EQ(f.status, 0) << f.all();  // the failing case did not run
  EXPECT_EQ(lines_with(f.out, "::"),
            (std::vector<std::string>{"test_sel.xlsx::login_ok", "test_sel.xlsx::login_bad", "test_sel.xlsx::logout"}));
  EXPECT_TRUE(Lacks(f.out, "passed"));
  EXPECT_TRUE(Lacks(f.out, "failed"));
  EXPECT_TRUE(files_matching(root_ / "res", "-result.json").empty());
}

TEST_F(Selection, NothingCollectedIsStatusFive) {
  fs::remove(root_ / "test_sel.xlsx");
  write_file(root_ / "notes.txt", "no cases here");
  workbook("sel.xlsx", {{"x", {R(1, "", "assert", 1, "equal", 1)}}});  // not named test_*
  Finished f = tovik({});
  EXPECT_EQ(f.status, 5) << f.all();
  EXPECT_TRUE(Has(f.out, "collected 0 items"));
  EXPECT_TRUE(Has(f.out, "no tests ran in "));
  f = tovik({"--collect-only"});
  EXPECT_EQ(f.status, 5) << f.all();
}

// A case past its time limit stops (a sleep is cut short), is reported broken with the keyword it
// was in, and the run goes on; a case's own @timeout (or YAML timeout:) wins over --case-timeout.
TEST_F(TovikRun, CasesPastTheirTimeLimitStopAndTheRunGoesOn) {
  ini("");
  workbook("test_slow.xlsx", {
      {"睡过头", {R(nullptr, nullptr, "@timeout", "0.5"), R(1, "", "sleep", 20), R(2, "", "assert", 1, "equal", 1)}},
      {"有自己的时限", {R(nullptr, nullptr, "@timeout", 30), R(1, "", "sleep", 1), R(2, "", "assert", 1, "equal", 1)}},
      {"很快", {R(1, "", "assert", 1, "equal", 1)}},
  });
  write_file(root_ / "test_slow.yaml", "name: 接口睡过头\ntimeout: 0.3\nsteps:\n  - keyword: sleep\n    args: [20]\n"
                                       "  - keyword: assert\n    args: [1, equal, 1]\n");
  const auto started = std::chrono::steady_clock::now();
  Finished f = tovik({"--case-timeout", "0.8", "--alluredir", "res"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);  // the 20 s sleeps were cut short
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "2 failed, 2 passed in ")) << f.all();
  EXPECT_TRUE(Has(f.out, "FAILED test_slow.xlsx::睡过头 - CaseTimeout: 用例运行超过 0.5 秒，已停止（当时在执行关键字 sleep）"));
  EXPECT_TRUE(Has(f.out, "FAILED test_slow.yaml::接口睡过头 - CaseTimeout: 用例运行超过 0.3 秒，已停止（当时在执行关键字 sleep）"));
  for (const fs::path& p : files_matching(root_ / "res", "-result.json")) {
    const std::string r = read_file(p);
    if (Has(r, "CaseTimeout")) {
      EXPECT_TRUE(Has(r, "\"status\":\"broken\"")) << r;
    }
  }

  // the run's limit alone
  f = tovik({"--case-timeout", "0.5", "test_slow.xlsx", "-k", "有自己的时限 or 很快"});
  EXPECT_TRUE(Has(f.out, "2 passed")) << f.all();  // @timeout 30 wins over 0.5

  for (const char* bad : {"0", "-1", "abc", "0x10", "inf"}) {
    f = tovik({"--case-timeout", bad});
    EXPECT_EQ(f.status, 4) << bad << "\n" << f.all();
    EXPECT_TRUE(Has(f.err, "--case-timeout 应为大于 0 的秒数，实际为 '" + std::string(bad) + "'")) << f.all();
  }
  workbook("test_slow.xlsx", {{"坏时限", {R(nullptr, nullptr, "@timeout", "很久"), R(1, "", "assert", 1, "equal", 1)}}});
  write_file(root_ / "test_slow.yaml", "name: 坏时限\ntimeout: -2\nsteps:\n  - keyword: assert\n    args: [1, equal, 1]\n");
  f = tovik({});
  EXPECT_TRUE(Has(f.out, "@timeout 需要一个大于 0 的秒数，实际为 ('很久',)")) << f.all();
  EXPECT_TRUE(Has(f.out, "timeout 应为大于 0 的秒数，实际为 -2")) << f.all();
}

// `tovik check` finds each kind of mistake at its row without running anything, and says
// nothing of sound files.
TEST_F(TovikRun, CheckFindsTyposBeforeARun) {
  ini("");
  workbook("test_typos.xlsx", {
      {"页面", {R(nullptr, nullptr, "@type", "web"), R(1, "", "clik", "login;;ID"), R(2, "", "goto"),
                R(3, "", "click", "login;;NOSUCH"), R(4, "", "save_title", "title"),
                R(5, "", "assert", "{title}", "equal", "{no_such_name}", "多余")}},
      {"接口", {R(nullptr, nullptr, "@type", "api"), R(1, "", "new_client", "很快"), R(2, "", "send_http", "GET", "/a"),
                R(3, "", "assert", "{resp_code}", "equal", 200)}},
      {"标记", {R(nullptr, nullptr, "@nosuchmark", "x"), R(1, "", "assert", 1, "equal", 1)}},
  });
  workbook("test_fine.xlsx", {{"好", {R(1, "", "assert", 1, "equal", 1)}}});
  write_file(root_ / "test_typos.yaml", "name: 接口\nsteps:\n  - keyword: asert\n    args: [1, equal, 1]\n"
                                        "  - request: {method: GET, url: \"/a/${nothing}\"}\n"
                                        "    extract: {got: $.id}\n    validate: {equals: {取到: [\"${got}\", 1]}}\n");
  Finished f = run_tovik({"check", "test_typos.yaml"});
  EXPECT_EQ(lines_with(f.out, "test_"),
            (std::vector<std::string>{"test_typos.yaml:3: 错误: 关键字类 KeyWord 中没有关键字 asert（是不是 assert？）",
                                      "test_typos.yaml:5: 警告: 引用的变量 nothing 不在变量文件中，前面的步骤也没有保存它"}))
      << f.all();
  f = run_tovik({"check", "test_typos.xlsx", "test_fine.xlsx"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_EQ(lines_with(f.out, "test_"),
            (std::vector<std::string>{
                "test_typos.xlsx:页面:3: 错误: 关键字类 WebKeyWord 中没有关键字 clik（是不是 click？）",
                "test_typos.xlsx:页面:4: 错误: 关键字 goto 缺少必需的参数 url",
                "test_typos.xlsx:页面:5: 错误: 定位器解析失败: 未知的维度策略 value='NOSUCH'",
                "test_typos.xlsx:页面:7: 警告: 引用的变量 no_such_name 不在变量文件中，前面的步骤也没有保存它",
                "test_typos.xlsx:页面:7: 警告: 关键字 assert 只接受 3 个参数，多出的 1 个会被忽略",
                "test_typos.xlsx:接口:3: 错误: 关键字 new_client 的参数 timeout 应为数字，实际为 str: '很快'",
                "test_typos.xlsx: 错误: 文件 test_typos.xlsx, 工作表 标记, 第 2 行: 未知的用例标记 @nosuchmark（可用：@skip、@fixtures、@tags、@type、@timeout、@reruns、@group）",
            }))
      << f.all();
  EXPECT_TRUE(Has(f.out, "个错误")) << f.all();
  EXPECT_FALSE(fs::exists(root_ / "temp")) << "check ran something";

  f = run_tovik({"check", "test_fine.xlsx"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(f.out, "检查了 1 个用例: 0 个错误, 0 个警告\n");
  f = run_tovik({"check", "--format", "json", "test_typos.xlsx"});
  const auto j = nlohmann::json::parse(f.out);
  ASSERT_TRUE(j.is_array()) << f.out;
  EXPECT_EQ(j[0]["row"], 3);
  EXPECT_EQ(j[0]["level"], "error");
  f = run_tovik({"check", "no_such_dir"});
  EXPECT_EQ(f.status, 4) << f.all();
}

// The editor schema takes the demo's YAML cases and refuses a misspelt keyword, a misspelt step
// field and a keyword without its required arguments (checked with python3-jsonschema).
TEST_F(TovikRun, TheEditorSchemaKnowsTheCaseFormatAndTheKeywords) {
  Finished f = run_tovik({"schema", "-o", "schema.json"});
  ASSERT_EQ(f.status, 0) << f.all();
  const auto schema = nlohmann::json::parse(read_file(root_ / "schema.json"));
  EXPECT_EQ(schema["$schema"], "https://json-schema.org/draft/2020-12/schema");
  const std::string keywords = schema["$defs"]["step"]["properties"]["keyword"]["enum"].dump();
  for (const char* k : {"\"click\"", "\"send_http\"", "\"assert\"", "\"ac_perform\""}) EXPECT_TRUE(Has(keywords, k)) << k;

  if (::system("/usr/bin/python3 -c 'import jsonschema, yaml' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3-jsonschema or python3-yaml is not installed (scripts/setup installs them)";
  write_file(root_ / "validate.py", R"PY(
import json, sys, yaml, jsonschema
v = jsonschema.Draft202012Validator(json.load(open("schema.json")))
for path in sys.argv[1:]:
    print(path, len(list(v.iter_errors(yaml.safe_load(open(path))))))
)PY");
  write_file(root_ / "typo_keyword.yaml", "steps:\n  - keyword: clik\n    args: [a]\n");
  write_file(root_ / "typo_field.yaml", "steps:\n  - request: {method: GET, url: /a}\n    extrakt: {a: $.a}\n");
  write_file(root_ / "no_args.yaml", "cases:\n  - name: x\n    steps:\n      - keyword: click\n");
  Child py({"/usr/bin/python3", "validate.py", std::string(TOVIK_SOURCE_DIR) + "/examples/demo/test_api.yaml",
            "typo_keyword.yaml", "typo_field.yaml", "no_args.yaml"},
           root_, run_env());
  const Finished v = py.wait(60s);
  ASSERT_EQ(v.status, 0) << v.all();
  EXPECT_TRUE(Has(v.out, "/examples/demo/test_api.yaml 0\n")) << v.out;
  EXPECT_TRUE(Has(v.out, "typo_keyword.yaml 1\n")) << v.out;
  EXPECT_TRUE(Has(v.out, "typo_field.yaml 1\n")) << v.out;
  EXPECT_TRUE(Has(v.out, "no_args.yaml 1\n")) << v.out;
}

TEST_F(TovikRun, ExitFirstAndMaxfailStopEarly) {
  ini("");
  workbook("test_stop.xlsx", {
      {"p", {R(1, "", "assert", 1, "equal", 1)}},
      {"f1", {R(1, "", "assert", 1, "equal", 2)}},
      {"f2", {R(1, "", "assert", 1, "equal", 3)}},
      {"f3", {R(1, "", "assert", 1, "equal", 4)}},
  });
  Finished f = tovik({"-x"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "test_stop.xlsx .F "));
  EXPECT_TRUE(Has(f.out, "= 1 failed, 1 passed in "));
  EXPECT_TRUE(Lacks(f.out, "(1, 'equal', 3)"));

  f = tovik({"--maxfail", "2"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "test_stop.xlsx .FF "));
  EXPECT_TRUE(Has(f.out, "= 2 failed, 1 passed in "));

  f = tovik({"--maxfail=0"});  // no limit
  EXPECT_TRUE(Has(f.out, "= 3 failed, 1 passed in "));

  f = tovik({"--maxfail", "many"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: 选项 --maxfail 的值应为整数，实际为 'many'"));
}

// ---------------------------------------------------------------------------------------------
// pytest.ini and options

TEST_F(TovikRun, MissingPytestIniIsCreatedFromTheTemplate) {
  workbook("test_one.xlsx", {{"一", {R(1, "", "assert", "a", "in", "abc")}}});
  Finished f = tovik({});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(f.out.rfind("pytest.ini不存在，自动创建\n", 0), 0u) << f.out;
  ASSERT_TRUE(fs::exists(root_ / "pytest.ini"));
  EXPECT_EQ(read_file(root_ / "pytest.ini"), read_file(fs::path(TOVIK_SOURCE_DIR) / "file/pytest.ini.txt"));
  // the template's addopts and log file took effect in this very run
  EXPECT_EQ(files_matching(root_ / "temp/allure-results", "-result.json").size(), 1u);
  EXPECT_TRUE(Has(read_file(root_ / "temp/tovik.log"), "正在执行关键字: 【assert】('a', 'in', 'abc')"));

  f = tovik({});
  EXPECT_EQ(f.status, 0);
  EXPECT_TRUE(Lacks(f.out, "不存在"));
}

TEST_F(TovikRun, AddoptsTestpathsAndOverrides) {
  workbook("test_root.xlsx", {{"根", {R(1, "", "assert", 1, "equal", 2)}}});
  workbook("suite/test_s.xlsx", {
      {"alpha", {R(1, "", "assert", 1, "equal", 1)}},
      {"beta", {R(1, "", "assert", "b", "equal", "c")}},
  });
  workbook("other/test_o.xlsx", {{"omega", {R(1, "", "assert", 1, "equal", 1)}}});
  ini("addopts = -v -k 'alpha or beta'\ntestpaths = suite\n");

  Finished f = tovik({});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "suite/test_s.xlsx::alpha PASSED"));  // -v from addopts
  EXPECT_TRUE(Has(f.out, "suite/test_s.xlsx::beta FAILED"));
  EXPECT_TRUE(Lacks(f.out, "test_root.xlsx"));  // only testpaths

  // command-line options come after addopts and win
  f = tovik({"-k", "alpha"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "1 passed, 1 deselected"));

  // paths on the command line replace testpaths
  f = tovik({"test_root.xlsx"});
  EXPECT_TRUE(Has(f.out, "collected 1 item / 1 deselected / 0 selected\n"));
  EXPECT_TRUE(Has(f.out, "1 deselected"));

  f = tovik({"-o", "testpaths=other", "-k", "omega"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "other/test_o.xlsx::omega PASSED"));

  // -o log_level hides the info lines of the captured log
  f = tovik({"-k", "beta"});
  EXPECT_TRUE(Has(f.out, "Captured log call"));
  f = tovik({"-k", "beta", "-o", "log_level=warning"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "FAILED suite/test_s.xlsx::beta"));
  EXPECT_TRUE(Lacks(f.out, "正在执行关键字"));

  f = tovik({"-o", "log_level"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: -o/--override-ini 的值应为 key=value 的形式，实际为 log_level"));
}

TEST_F(TovikRun, BrokenPytestIniIsAUsageError) {
  workbook("test_a.xlsx", {{"a", {R(1, "", "assert", 1, "equal", 1)}}});
  const std::vector<std::pair<std::string, std::string>> broken{
      {"[pytest]\naddopts\n", "第 2 行无法解析: 应为 'key = value' 的形式"},  // no '='
      {"[pytest]\nlog_level = info\nlog_level = debug\n", "第 3 行无法解析: 键 'log_level' 在 [pytest] 中出现了两次"},  // a key twice
      {"[pytest]\n[tovik\n", "第 2 行无法解析: 节标题 '[tovik' 缺少结尾的 ']'"},  // unclosed section
  };
  for (const auto& [text, where] : broken) {
    write_file(root_ / "pytest.ini", text);
    const Finished f = tovik({});
    EXPECT_EQ(f.status, 4) << text << f.all();
    EXPECT_TRUE(Has(f.err, "pytest.ini")) << text;
    EXPECT_TRUE(Has(f.err, where)) << text;
    EXPECT_TRUE(Lacks(f.out, "正在执行关键字")) << text;
    EXPECT_EQ(read_file(root_ / "pytest.ini"), text);  // never replaced
  }
}

TEST_F(TovikRun, BadOptionsAreUsageErrors) {
  ini("");
  workbook("test_a.xlsx", {{"a", {R(1, "", "assert", 1, "equal", 1)}}});
  Finished f = tovik({"--no-such-option"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: 未知的选项: --no-such-option"));

  f = tovik({"-k", "a and"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: 传给 '-k' 的表达式有误: a and: 第 6 列: "));

  f = tovik({"no/such/dir"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: 文件或目录不存在: no/such/dir"));

  // "--" ends the options: what follows is a path, even when it looks like an option
  f = tovik({"-q", "--", "test_a.xlsx"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "1 passed in "));
  f = tovik({"--", "-v"});
  EXPECT_EQ(f.status, 4) << f.all();
  EXPECT_TRUE(Has(f.err, "ERROR: 文件或目录不存在: -v"));

  ini("addopts = --frobnicate\n");
  f = tovik({});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: 未知的选项: --frobnicate"));

  ini("addopts = -k 'unclosed\n");
  f = tovik({});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: pytest.ini 的 addopts 中的引号没有闭合: -k 'unclosed"));
  ini("testpaths = 'unclosed\n");
  f = tovik({});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: testpaths 中的引号没有闭合: 'unclosed"));

  ini("");
  f = tovik({"-h"});
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.out.rfind("用法: tovik run [选项] [file_or_dir]", 0), 0u) << f.out;
  EXPECT_TRUE(Has(f.out, "\n  -x, --exitfirst               第一个用例失败或出错后立即停止\n"));
  EXPECT_TRUE(Has(f.out, "--junitxml"));
  EXPECT_TRUE(Has(f.out, "--alluredir"));
  EXPECT_TRUE(Lacks(f.out, "passed"));
}

TEST_F(TovikRun, TheCommandsOwnHelpAndUnknownWords) {
  const auto command = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv{TOVIK_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child(argv, root_, env());
    return child.wait(60s);
  };
  Finished f = command({"--help"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "用法: " + std::string(TOVIK_BIN) + " [选项] [子命令]\n")) << f.out;
  EXPECT_TRUE(Has(f.out, "选项:\n  -h,--help                   显示帮助信息并退出\n")) << f.out;
  EXPECT_TRUE(Has(f.out, "子命令:\n  run ")) << f.out;

  f = command({"frobnicate"});
  EXPECT_EQ(f.status, 4);  // a usage error, as the runner's own are
  EXPECT_EQ(f.err, "无法识别的参数: frobnicate\n运行 tovik --help 查看用法\n");
  EXPECT_FALSE(fs::exists(root_ / "pytest.ini"));  // nothing ran
}

TEST_F(TovikRun, LogFileAndLiveLog) {
  ini("");
  workbook("test_log.xlsx", {{"记录", {R(1, "", "assert", "needle", "in", "haystack needle")}}});
  Finished f = tovik({"--log-file", "logs/run.log", "--log-cli-level", "info"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(read_file(root_ / "logs/run.log"), "INFO     tovik.lexa_utils:正在执行关键字: 【assert】('needle'"));
  EXPECT_TRUE(Has(f.out, "INFO     tovik.lexa_utils:正在执行关键字: 【assert】('needle'"));  // live
  EXPECT_TRUE(Has(f.out, "test_log.xlsx::记录"));

  // turned on from pytest.ini alone, live lines still get a line of their own per case
  for (const char* setting : {"log_cli_level = info\n", "log_cli = true\n"}) {
    ini(setting);
    f = tovik({});
    EXPECT_EQ(f.status, 0) << setting << f.all();
    EXPECT_TRUE(Has(f.out, "\ntest_log.xlsx::记录 \n")) << setting;
    EXPECT_TRUE(Has(f.out, "\nINFO     tovik.lexa_utils:正在执行关键字: 【assert】('needle'")) << setting;
    EXPECT_TRUE(Has(f.out, "\nPASSED [100%]\n")) << setting;
  }

  ini("");
  f = tovik({"--log-level", "loud"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: log_level 的值 'loud' 不是已知的日志级别"));
}

// ---------------------------------------------------------------------------------------------
// JUnit XML

TEST_F(TovikRun, JunitXmlDescribesEveryCase) {
  ini("");
  workbook("cases/test_报告.xlsx", {
      {"通过", {R(1, "", "assert", "a", "in", "abc")}},
      {"失败", {R(1, "特殊字符", "assert", "a<b&c\"'", "equal", "x\x01y")}},
      {"坏", {R(1, "", "nosuch", "x")}},
      {"跳过", {R(nullptr, nullptr, "@skip", "暂不执行")}},
      {"缺夹具", {R(nullptr, nullptr, "@fixtures", "no_such_fixture"), R(1, "", "assert", "a", "in", "a")}},
  });
  write_file(root_ / "cases/test_bad.xlsx", "this is not a zip file");
  const Finished f = tovik({"--junitxml", "out/junit.xml"});
  EXPECT_EQ(f.status, 1);

  pugi::xml_document doc;
  const auto parsed = doc.load_file((root_ / "out/junit.xml").c_str());
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << read_file(root_ / "out/junit.xml");
  const pugi::xml_node suite = doc.child("testsuites").child("testsuite");
  ASSERT_TRUE(suite);

  std::map<std::string, pugi::xml_node> cases;
  int failures = 0, errors = 0, skipped = 0, total = 0;
  for (const pugi::xml_node tc : suite.children("testcase")) {
    ++total;
    failures += !tc.child("failure").empty();
    errors += !tc.child("error").empty();
    skipped += !tc.child("skipped").empty();
    cases[tc.attribute("name").as_string()] = tc;
  }
  EXPECT_EQ(total, 6);
  for (const pugi::xml_node n : {doc.child("testsuites"), suite}) {
    EXPECT_EQ(n.attribute("tests").as_int(), total);
    EXPECT_EQ(n.attribute("failures").as_int(), failures);
    EXPECT_EQ(n.attribute("errors").as_int(), errors);
    EXPECT_EQ(n.attribute("skipped").as_int(), skipped);
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(errors, 3);
  EXPECT_EQ(skipped, 1);

  ASSERT_EQ(cases.count("通过"), 1u);
  const pugi::xml_node pass = cases["通过"];
  EXPECT_STREQ(pass.attribute("classname").as_string(), "cases.test_报告");
  EXPECT_STREQ(pass.attribute("file").as_string(), "cases/test_报告.xlsx");
  EXPECT_TRUE(pass.child("failure").empty() && pass.child("error").empty());
  EXPECT_TRUE(Has(pass.child_value("system-out"), "【assert】('a', 'in', 'abc')"));

  const pugi::xml_node fail = cases["失败"].child("failure");
  ASSERT_TRUE(fail);
  EXPECT_STREQ(fail.attribute("type").as_string(), "AssertionError");
  EXPECT_TRUE(Has(fail.child_value(), "文件 cases/test_报告.xlsx, 工作表 失败, 第 2 行"));
  EXPECT_TRUE(Has(fail.child_value(), "assert ('a<b&c\"\\'', 'equal', 'x\\x01y')"));
  const std::string fail_log = cases["失败"].child_value("system-out");
  EXPECT_TRUE(Has(fail_log, "【assert】('a<b&c\"\\'', 'equal', 'x\\x01y')"));
  EXPECT_TRUE(Lacks(fail_log, "abc')"));  // the log of this case only

  const pugi::xml_node broken = cases["坏"].child("error");
  ASSERT_TRUE(broken);
  EXPECT_STREQ(broken.attribute("type").as_string(), "AttributeError");
  EXPECT_TRUE(Has(broken.attribute("message").as_string(), "不存在的关键字：nosuch"));

  EXPECT_STREQ(cases["跳过"].child("skipped").attribute("message").as_string(), "暂不执行");

  const pugi::xml_node setup = cases["缺夹具"].child("error");
  ASSERT_TRUE(setup);
  EXPECT_TRUE(Has(setup.attribute("message").as_string(), "KeyError: fixture 'no_such_fixture' 不存在（可用："));

  ASSERT_EQ(cases.count("test_bad.xlsx"), 1u);
  const pugi::xml_node collect = cases["test_bad.xlsx"].child("error");
  EXPECT_STREQ(collect.attribute("type").as_string(), "CollectError");
  EXPECT_TRUE(Has(collect.child_value(), "test_bad.xlsx"));
}

// ---------------------------------------------------------------------------------------------
// allure

json read_json(const fs::path& p) { return json::parse(read_file(p)); }

std::string label(const json& result, const std::string& name) {
  for (const auto& l : result.at("labels"))
    if (l.at("name") == name) return l.at("value");
  return "";
}

TEST_F(TovikRun, CleaningAllureResultsNeverDeletesTheUsersFiles) {
  ini("");
  workbook("test_keep.xlsx", {{"一", {R(1, "", "assert", 1, "equal", 1)}}});
  write_file(root_ / "notes.txt", "mine");
  fs::create_directories(root_ / "res");
  // the suite's own directory is refused outright, by any name
  for (const std::string& dir : std::vector<std::string>{".", "./", root_.string(), "res/.."}) {
    const Finished f = tovik({"--alluredir=" + dir, "--clean-alluredir"});
    EXPECT_EQ(f.status, 4) << dir << f.all();
    EXPECT_TRUE(Has(f.err, "ERROR: --clean-alluredir 拒绝清理 " + dir + "：它是运行所在的目录")) << dir;
  }
  // so is a directory that holds a case file
  workbook("res/test_inner.xlsx", {{"二", {R(1, "", "assert", 1, "equal", 1)}}});
  Finished f = tovik({"--alluredir", "res", "--clean-alluredir", "test_keep.xlsx"});
  EXPECT_EQ(f.status, 4) << f.all();
  EXPECT_TRUE(Has(f.err, "ERROR: --clean-alluredir 拒绝清理 res：其中有用例文件 test_inner.xlsx"));
  EXPECT_TRUE(fs::exists(root_ / "test_keep.xlsx"));
  EXPECT_EQ(read_file(root_ / "notes.txt"), "mine");
  EXPECT_TRUE(fs::exists(root_ / "res/test_inner.xlsx"));

  // elsewhere only allure's own files go
  fs::remove(root_ / "res/test_inner.xlsx");
  write_file(root_ / "res/old-result.json", "{}");
  write_file(root_ / "res/readme.txt", "kept");
  f = tovik({"--alluredir", "res", "--clean-alluredir", "test_keep.xlsx"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_FALSE(fs::exists(root_ / "res/old-result.json"));
  EXPECT_EQ(read_file(root_ / "res/readme.txt"), "kept");
  EXPECT_EQ(files_matching(root_ / "res", "-result.json").size(), 1u);
}

TEST_F(TovikRun, AllureResultsAndTheGeneratedReport) {
  ini("");
  workbook("test_allure.xlsx", {
      {"通过", {R(nullptr, nullptr, "@tags", "smoke"), R(1, "包含", "assert", "a", "in", "abc"),
                R(2, "相等", "assert", 5, "equal", 5)}},
      {"失败", {R(1, "先过", "assert", 1, "equal", 1), R(2, "后败", "assert", 1, "equal", 2)}},
      {"坏", {R(1, "没有这个关键字", "nosuch")}},
      {"跳过", {R(nullptr, nullptr, "@skip", "以后再说")}},
  });
  write_file(root_ / "res/stale-result.json", "{}");
  const Finished f = tovik({"--alluredir", "res", "--clean-alluredir"});
  EXPECT_EQ(f.status, 1);
  EXPECT_FALSE(fs::exists(root_ / "res/stale-result.json"));

  const auto files = files_matching(root_ / "res", "-result.json");
  ASSERT_EQ(files.size(), 4u);
  std::map<std::string, json> results;
  for (const auto& p : files) {
    const json r = read_json(p);
    results[r.at("name")] = r;
  }
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results["通过"]["status"], "passed");
  EXPECT_EQ(results["失败"]["status"], "failed");
  EXPECT_EQ(results["坏"]["status"], "broken");
  EXPECT_EQ(results["跳过"]["status"], "skipped");
  EXPECT_TRUE(Has(results["坏"]["statusDetails"]["message"].get<std::string>(), "不存在的关键字：nosuch"));
  EXPECT_EQ(results["跳过"]["statusDetails"]["message"], "以后再说");
  EXPECT_EQ(results["失败"]["fullName"], "test_allure.xlsx::失败");

  for (const auto& [name, r] : results) {
    EXPECT_EQ(label(r, "framework"), "tovik") << name;
    EXPECT_EQ(label(r, "language"), "cpp") << name;
    EXPECT_EQ(label(r, "suite"), "test_allure.xlsx") << name;
  }
  EXPECT_EQ(label(results["通过"], "tag"), "smoke");
  EXPECT_EQ(label(results["失败"], "tag"), "");

  const json& steps = results["失败"]["steps"];
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0]["name"], "第 2 行 assert 先过");
  EXPECT_EQ(steps[0]["status"], "passed");
  EXPECT_EQ(steps[1]["name"], "第 3 行 assert 后败");
  EXPECT_EQ(steps[1]["status"], "failed");
  EXPECT_EQ(results["坏"]["steps"].at(0)["status"], "broken");

  // the log attachment is a file next to the results and holds this case's lines
  const json& attachments = results["失败"]["attachments"];
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0]["name"], "log");
  const fs::path log_file = root_ / "res" / attachments[0]["source"].get<std::string>();
  ASSERT_TRUE(fs::exists(log_file));
  EXPECT_TRUE(Has(read_file(log_file), "正在执行关键字: 【assert】(1, 'equal', 2)"));
  EXPECT_TRUE(Lacks(read_file(log_file), "'abc'"));

  // the real report generator reads all of it
  if (!fs::exists(TOVIK_ALLURE)) GTEST_SKIP() << "allure program not installed at " << TOVIK_ALLURE << " (scripts/setup installs it)";
  if (!program_on_path("java")) GTEST_SKIP() << "java is not installed (scripts/setup installs it)";
  Child gen({TOVIK_ALLURE, "generate", "res", "-o", "report", "--clean"}, root_, env());
  const Finished g = gen.wait(120s);
  ASSERT_FALSE(g.timed_out) << g.all();
  ASSERT_EQ(g.status, 0) << g.all();

  std::map<std::string, json> shown;
  for (const auto& p : files_matching(root_ / "report/data/test-cases", ".json")) {
    const json c = read_json(p);
    shown[c.at("name")] = c;
  }
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown["通过"]["status"], "passed");
  EXPECT_EQ(shown["失败"]["status"], "failed");
  EXPECT_EQ(shown["坏"]["status"], "broken");
  EXPECT_EQ(shown["跳过"]["status"], "skipped");
  const json& shown_steps = shown["通过"]["testStage"]["steps"];
  ASSERT_EQ(shown_steps.size(), 2u);
  EXPECT_EQ(shown_steps[0]["name"], "第 3 行 assert 包含");  // row 2 holds the tags
  EXPECT_EQ(shown_steps[1]["name"], "第 4 行 assert 相等");
  EXPECT_EQ(shown["失败"]["testStage"]["steps"][1]["status"], "failed");
  bool log_shown = false;
  for (const auto& a : shown["失败"]["testStage"]["attachments"])
    if (a["name"] == "log") log_shown = fs::exists(root_ / "report/data/attachments" / a["source"].get<std::string>());
  EXPECT_TRUE(log_shown);

  const json stats = read_json(root_ / "report/widgets/summary.json").at("statistic");
  EXPECT_EQ(stats["total"], 4);
  EXPECT_EQ(stats["passed"], 1);
  EXPECT_EQ(stats["failed"], 1);
  EXPECT_EQ(stats["broken"], 1);
  EXPECT_EQ(stats["skipped"], 1);
}

// ---------------------------------------------------------------------------------------------
// Bad input

TEST_F(TovikRun, UnreadableWorkbooksAreCollectionErrorsAndTheRestRuns) {
  ini("");
  workbook("test_good.xlsx", {{"好", {R(1, "", "assert", 1, "equal", 1)}}});
  std::mt19937 gen(20240601);
  std::string noise(4096, '\0');
  for (auto& c : noise) c = static_cast<char>(gen());
  write_file(root_ / "test_bad.xlsx", noise);
  write_file(root_ / "test_empty.xlsx", "");
  const std::string good = read_file(root_ / "test_good.xlsx");
  write_file(root_ / "test_cut.xlsx", good.substr(0, good.size() / 2));
  write_file(root_ / "test_zip.xlsx", "PK\x03\x04" + noise);
  workbook("test_notes.xlsx", {{"_说明", {R(nullptr, "只有说明")}}});

  const Finished f = tovik({});
  EXPECT_EQ(f.status, 1);
  for (const char* name : {"test_bad.xlsx", "test_empty.xlsx", "test_cut.xlsx", "test_zip.xlsx", "test_notes.xlsx"})
    EXPECT_TRUE(Has(f.out, "ERROR collecting " + std::string(name))) << name;
  EXPECT_TRUE(Has(f.out, "test_bad.xlsx 不是有效的 xlsx 工作簿: "));
  EXPECT_TRUE(Has(f.out, "test_empty.xlsx 不是有效的 xlsx 工作簿: 文件为空"));
  EXPECT_TRUE(Has(f.out, "中没有用例工作表"));
  EXPECT_TRUE(Has(f.out, "collected 1 item / 5 errors"));
  EXPECT_TRUE(Has(f.out, "= 1 passed, 5 errors in "));
}

TEST_F(TovikRun, BadRowsFailTheirCaseWithTheirPlace) {
  ini("");
  workbook("test_rows.xlsx", {
      {"未知", {R(1, "", "assert", 1, "equal", 1), R(2, "", "nosuch", "x")}},
      {"少参数", {R(1, "", "assert", "a")}},
      {"数字关键字", {R(1, "", 42, "x")}},
      {"未知标记", {R(nullptr, nullptr, "@later"), R(1, "", "assert", 1, "equal", 1)}},
      {"没有步骤", {R(1, "只有描述")}},
      {"类型", {R(nullptr, nullptr, "@type"), R(1, "", "assert", 1, "equal", 1)}},
      {"最后", {R(1, "", "assert", "z", "in", "xyz")}},
  });
  const Finished f = tovik({});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "test_rows.xlsx FFEEEE. "));

  const std::string unknown = section(f.out, "_ test_rows.xlsx::未知 _", "test_rows.xlsx::");
  EXPECT_TRUE(Has(unknown, "工作表: 未知\n行: 3\n关键字: nosuch\n"));
  EXPECT_TRUE(Has(unknown, "AttributeError: 不存在的关键字：nosuch"));

  const std::string few = section(f.out, "_ test_rows.xlsx::少参数 _", "test_rows.xlsx::");
  EXPECT_TRUE(Has(few, "行: 2\n"));
  EXPECT_TRUE(Has(few, "TypeError"));
  EXPECT_TRUE(Has(few, "assert_name"));

  EXPECT_TRUE(Has(f.out, "文件 test_rows.xlsx, 工作表 数字关键字, 第 2 行"));
  EXPECT_TRUE(Has(f.out, "42"));
  EXPECT_TRUE(Has(f.out, "文件 test_rows.xlsx, 工作表 未知标记, 第 2 行"));
  EXPECT_TRUE(Has(f.out, "@later"));
  EXPECT_TRUE(Has(f.out, "工作表 没有步骤"));
  EXPECT_TRUE(Has(f.out, "工作表 类型, 第 2 行: @type 需要一个关键字类型"));
  EXPECT_TRUE(Has(f.out, "2 failed, 1 passed, 4 errors in "));
}

TEST_F(TovikRun, HugeAndScatteredCells) {
  ini("");
  std::string huge;
  for (int i = 0; i < 25000; ++i) huge += "\xF0\xA0\x80\x80";  // U+20000, four bytes each: 100 KB
  huge += "尾巴";
  std::vector<List> far{R(1, "", "assert", 1, "equal", 1)};
  far.resize(59998);  // rows 3 .. 59999 stay empty
  far.push_back(R(2, "很远的一行", "assert", "远", "equal", "近"));
  workbook("test_odd.xlsx", {
      {"大单元格", {R(1, "", "assert", "尾巴", "in", huge), R(2, "", "assert", huge, "contains", "尾巴")}},
      {"中间空行", {R(1, "", "assert", "a", "in", "a"), List{}, R(nullptr, "只写了描述"), List{},
                    R(2, "", "assert", "b", "in", "b")}},
      {"登录 (旧版) #1", {R(1, "", "assert", "c", "in", "c")}},
      {"远处", far},
  });
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "test_odd.xlsx::大单元格 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_odd.xlsx::中间空行 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_odd.xlsx::登录 (旧版) #1 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_odd.xlsx::远处 FAILED"));
  EXPECT_TRUE(Has(f.out, "工作表: 远处\n行: 60000\n关键字: assert\n参数: ('远', 'equal', '近')"));
}

TEST_F(TovikRun, BrokenVariableFileFailsTheCasesNotTheRun) {
  ini("tovik_variables = vars.yaml\n");
  write_file(root_ / "vars.yaml", "code: [1, 2\nname: x\n");
  workbook("test_vars.xlsx", {
      {"一", {R(1, "", "assert", 1, "equal", 1)}},
      {"二", {R(1, "", "assert", "{name}", "equal", "x")}},
      {"跳过", {R(nullptr, nullptr, "@skip")}},
  });
  Finished f = tovik({});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "test_vars.xlsx EEs "));
  EXPECT_EQ(lines_with(f.out, "vars.yaml 不是有效的 YAML").size() >= 2, true) << f.out;
  EXPECT_TRUE(Has(f.out, "1 skipped, 2 errors in "));
  EXPECT_EQ(read_file(root_ / "vars.yaml"), "code: [1, 2\nname: x\n");  // left as it was

  write_file(root_ / "vars.yaml", "- just\n- a list\n");
  f = tovik({});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "vars.yaml 的内容应为字典（变量名到值的映射），实际为 list"));
}

// ---------------------------------------------------------------------------------------------
// Variables

TEST_F(TovikRun, VariablesFromTheVariableFile) {
  ini("tovik_variables = data/vars.yaml\n");
  write_file(root_ / "data/vars.yaml", "code: 200\nsite: 演示站\nitems: [1, 2]\nratio: 0.5\n");
  workbook("test_v.xlsx", {
      {"整数", {R(1, "", "assert", "{code}", "equal", 200), R(2, "", "assert", "{ratio}", "equal", 0.5)}},
      {"文本中", {R(1, "", "assert", "站点：{site}，状态 {code}", "equal", "站点：演示站，状态 200")}},
      {"列表", {R(1, "", "assert", 2, "in", "{items}")}},
      {"未知", {R(1, "", "assert", "{nosuch}", "equal", "{nosuch}")}},
      {"类型保留", {R(1, "", "assert", "{code}", "equal", "200")}},
  });
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "test_v.xlsx::整数 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_v.xlsx::文本中 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_v.xlsx::列表 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_v.xlsx::未知 PASSED"));
  // the whole-cell reference keeps the number: it never equals the text "200"
  EXPECT_TRUE(Has(f.out, "test_v.xlsx::类型保留 FAILED"));
  EXPECT_TRUE(Has(f.out, "正在执行关键字: 【assert】(200, 'equal', '200')"));
}

// ---------------------------------------------------------------------------------------------
// Ctrl-C

TEST_F(TovikRun, SigintStopsAfterTheCurrentKeyword) {
  ini("tovik_variables = vars.yaml\n");
  // A lookahead rescanning the rest of the subject at every character: quadratic, so a step takes
  // a noticeable while, and it matches in the end.
  write_file(root_ / "vars.yaml", "subject: " + std::string(60000, 'a') + "b\n");
  const std::string pattern = "(?:a(?=a*b))*b";
  std::vector<List> slow{R(nullptr, nullptr, "@fixtures", "tmp_path")};
  const int slow_steps = 40;
  for (int s = 1; s <= slow_steps; ++s) slow.push_back(R(s, "慢步骤", "assert", pattern, "re", "{subject}"));
  std::vector<SheetRows> sheets{{"快", {R(1, "", "assert", "a", "in", "a")}}, {"慢", slow}};
  for (int i = 1; i <= 5; ++i) sheets.push_back({"后" + std::to_string(i), {R(1, "", "assert", 1, "equal", 1)}});
  workbook("test_slow.xlsx", sheets);

  Child child({TOVIK_BIN, "run", "--alluredir", "res", "--junitxml", "out/junit.xml", "--log-file", "run.log"}, root_,
              env());
  // wait until the first case is reported and the slow one holds its temporary directory
  const auto give_up = std::chrono::steady_clock::now() + 30s;
  bool ready = false;
  while (!ready && std::chrono::steady_clock::now() < give_up) {
    child.pump(20ms);
    ready = !files_matching(root_ / "res", "-result.json").empty() && !fixture_dirs(tmp_).empty();
  }
  ASSERT_TRUE(ready) << "the run never reached the slow case\n" << child.out();
  // the fixture is set up just before the first keyword: give that keyword time to begin
  for (const auto until = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < until;) child.pump(20ms);
  ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
  const Finished f = child.wait(30s);
  ASSERT_FALSE(f.timed_out) << "tovik did not stop after SIGINT\n" << f.all();
  EXPECT_EQ(f.signal, 0);
  EXPECT_EQ(f.status, 2) << f.all();
  EXPECT_TRUE(Has(f.out, "KeyboardInterrupt"));
  EXPECT_TRUE(Has(f.out, "= 1 passed in "));

  // the finished case is reported; the interrupted one and those after it are not
  const auto results = files_matching(root_ / "res", "-result.json");
  ASSERT_EQ(results.size(), 1u);
  json r;
  ASSERT_NO_THROW(r = read_json(results[0]));
  EXPECT_EQ(r["name"], "快");
  EXPECT_EQ(r["status"], "passed");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((root_ / "out/junit.xml").c_str())) << "JUnit XML not written";
  EXPECT_EQ(doc.child("testsuites").child("testsuite").attribute("tests").as_int(), 1);

  // the keyword running when the signal came ended normally, and no further one started
  const std::string log = read_file(root_ / "run.log");
  const std::size_t slow_started = count_of(log, "【assert】('" + pattern + "'");
  EXPECT_GE(slow_started, 1u);
  EXPECT_LT(slow_started, static_cast<std::size_t>(slow_steps));
  EXPECT_EQ(count_of(log, "正在执行关键字"), count_of(log, "关键字执行完毕"));

  // the interrupted case's temporary directory is gone
  EXPECT_EQ(fixture_dirs(tmp_), std::vector<std::string>{});
}

// Results are written behind the cases and reuse the files of the last run: a Ctrl-C in the
// middle of a long run still leaves every result file whole, each with its attachments, and
// nothing of the old results.
TEST_F(TovikRun, CtrlCDuringALongRunLeavesOnlyWholeResults) {
  ini("addopts = --alluredir=res --clean-alluredir\n");
  std::vector<SheetRows> sheets;
  for (int i = 0; i < 250; ++i)
    sheets.push_back({"例" + std::to_string(i), {R(1, "", "sleep", 0.01), R(2, "", "assert", "a", "in", "abc")}});
  workbook("test_many.xlsx", sheets);
  ASSERT_EQ(tovik({}).status, 0);
  ASSERT_EQ(files_matching(root_ / "res", "-result.json").size(), 250u);

  Child child({TOVIK_BIN, "run"}, root_, env());
  const auto give_up = std::chrono::steady_clock::now() + 30s;
  const auto dots = [&] { return count_of(child.out(), "."); };
  while (dots() < 40 && std::chrono::steady_clock::now() < give_up) child.pump(20ms);
  ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
  const Finished f = child.wait(30s);
  ASSERT_FALSE(f.timed_out) << f.all();
  EXPECT_EQ(f.status, 2) << f.all();

  const auto results = files_matching(root_ / "res", "-result.json");
  EXPECT_GT(results.size(), 0u);
  EXPECT_LT(results.size(), 250u);
  for (const fs::path& p : results) {
    json r;
    ASSERT_NO_THROW(r = read_json(p)) << p;
    EXPECT_EQ(r["status"], "passed") << p;
    for (const json& a : r["attachments"]) EXPECT_TRUE(fs::exists(root_ / "res" / a["source"].get<std::string>())) << a;
  }
  for (const auto& e : fs::directory_iterator(root_)) EXPECT_EQ(e.path().filename().string().find(".res.tovik-old-"), std::string::npos);
  for (const auto& e : fs::directory_iterator(root_ / "res")) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// ---------------------------------------------------------------------------------------------
// Where the run starts

TEST_F(TovikRun, SuiteElsewhereRunsWithIdsRelativeToTheCurrentDirectory) {
  workbook("suite/test_b.xlsx", {{"乙", {R(1, "", "assert", 1, "equal", 1)}}});
  workbook("suite/sub/test_a.xlsx", {{"甲", {R(1, "", "assert", 2, "equal", 2)}}});
  // directories the collection does not enter
  for (const char* skipped : {"suite/.hidden/test_h.xlsx", "suite/build/test_x.xlsx", "suite/node_modules/test_n.xlsx"})
    workbook(skipped, {{"不该收集", {R(1, "", "assert", 1, "equal", 2)}}});
  fs::create_directories(root_ / "work");

  Finished f = tovik({"-v", "suite"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "\nsuite/sub/test_a.xlsx::甲 PASSED"));
  EXPECT_TRUE(Has(f.out, "\nsuite/test_b.xlsx::乙 PASSED"));
  EXPECT_TRUE(Lacks(f.out, "不该收集"));
  // pytest.ini belongs to where the run starts
  EXPECT_TRUE(fs::exists(root_ / "pytest.ini"));
  EXPECT_FALSE(fs::exists(root_ / "suite/pytest.ini"));

  f = tovik({"--collect-only", (root_ / "suite").string()});
  EXPECT_EQ(lines_with(f.out, "::"), (std::vector<std::string>{"suite/sub/test_a.xlsx::甲", "suite/test_b.xlsx::乙"}));

  f = tovik({"--collect-only", "../suite/test_b.xlsx"}, root_ / "work");
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_EQ(lines_with(f.out, "::"), (std::vector<std::string>{"../suite/test_b.xlsx::乙"}));
  EXPECT_TRUE(Has(f.out, "rootdir: " + (root_ / "work").string()));

  f = tovik({"-v", "sub"}, root_ / "suite");
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "\nsub/test_a.xlsx::甲 PASSED"));

  // the same file named twice is collected once
  f = tovik({"--collect-only", "suite/test_b.xlsx", "suite"});
  EXPECT_EQ(lines_with(f.out, "::").size(), 2u) << f.out;
}

}  // namespace
