// End-to-end tests of bad and odd input: reports that cannot be written, text that would break
// XML, long configuration lines, values that must be refused, and secrets that must never reach
// a file or the terminal. One group per defect, each on the real tovik program.
#include <signal.h>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "examples/demo_api.hpp"
#include "examples/workbook_writer.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovik::e2e;
using tovik::List;
using tovik::http::testing::LocalServer;

class BadInput : public ProjectTest {
 protected:
  BadInput() : server_([](httplib::Server& s) { tovik::examples::add_demo_api(s); }) {}

  void SetUp() override {
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    write_file(root_ / "pytest.ini", "[pytest]\n");
  }
  Env env() const { return run_env({{"TOVIK_API_BASE_URL", server_.url()}}); }
  Finished tovik(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return run_tovik(args, {{"TOVIK_API_BASE_URL", server_.url()}});
  }
  // Every file the run wrote: the log file, the allure results and attachments, the JUnit XML.
  std::string everything_written() const {
    std::string all = read_file(root_ / "run.log");
    for (const auto& dir : {root_ / "res", root_ / "out"})
      for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) all += read_file(e.path()) + "\n";
    return all;
  }

  LocalServer server_;
};

// A results directory or JUnit file that cannot be written is refused before the first case;
// one that fails later fails the run.
TEST_F(BadInput, ReportsThatCannotBeWrittenAreNeverLostInSilence) {
  workbook("test_a.xlsx", {{"用例", {R(1, "", "assert", 1, "equal", 1)}}});
  write_file(root_ / "a_file", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--alluredir", "a_file/res"}, "ERROR: --alluredir a_file/res 无法写入: Not a directory"},
      {{"--alluredir", "/proc/tovik-results"}, "ERROR: --alluredir /proc/tovik-results 无法写入: "},
      {{"--junitxml", "a_file/j.xml"}, "ERROR: --junitxml a_file/j.xml 无法写入: Not a directory"},
      {{"--junitxml", "/proc/j.xml"}, "ERROR: --junitxml /proc/j.xml 无法写入: "},
      {{"--junitxml", "."}, "ERROR: --junitxml . 无法写入: 这是一个目录"},
  };
  for (const auto& [args, message] : refused) {
    const Finished f = tovik(args);
    EXPECT_EQ(f.status, 4) << f.all();
    EXPECT_TRUE(Has(f.err, message));
    EXPECT_TRUE(Lacks(f.out, "passed"));  // before the first case
  }

  // the results directory turns into a file while the first case runs: its result is lost, so
  // the run fails and says so
  workbook("test_slow.xlsx", {{"慢", {R(1, "", "sleep", 1.5)}}, {"快", {R(1, "", "assert", 1, "equal", 1)}}});
  Child child({TOVIK_BIN, "run", "test_slow.xlsx", "--alluredir", "res"}, root_, env());
  for (const auto until = std::chrono::steady_clock::now() + 10s; !fs::exists(root_ / "res") && std::chrono::steady_clock::now() < until;)
    child.pump(20ms);
  child.pump(300ms);
  fs::rename(root_ / "res", root_ / "res.old");
  write_file(root_ / "res", "");
  const Finished f = child.wait(30s);
  EXPECT_EQ(f.status, 3) << f.all();
  EXPECT_TRUE(Has(f.out, "2 passed"));
  EXPECT_TRUE(Has(f.err, "ERROR: OSError: allure 结果没有全部写入 res，第一个失败的是 test_slow.xlsx::慢"));
}

// Bytes that are not UTF-8 and characters XML 1.0 forbids, from pytest.ini, cells and
// messages, never make the JUnit file unreadable; a 100 000-character pytest.ini line is read.
TEST_F(BadInput, JunitXmlIsWellFormedAndLongIniLinesAreRead) {
  const std::string long_name = std::string(100000, 'n');
  write_file(root_ / "pytest.ini", "[pytest]\njunit_suite_name = 套件\xff\xfe\x01" + long_name + "\n");
  workbook("test_x.xlsx", {{"控制字符", {R(1, "", "assert", "a\x01" "b\x1f", "equal", "c\x02")}}});
  const Finished f = tovik({"--junitxml", "j.xml"});
  EXPECT_EQ(f.status, 1) << f.all();
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file((root_ / "j.xml").c_str());
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << read_file(root_ / "j.xml").substr(0, 2000);
  const std::string suite = doc.child("testsuites").attribute("name").value();
  EXPECT_EQ(suite, "套件\uFFFD\uFFFD" + long_name);
  const std::string failure = doc.child("testsuites").child("testsuite").child("testcase").child("failure").text().get();
  EXPECT_TRUE(Has(failure, "('a\\x01b\\x1f', 'equal', 'c\\x02')")) << failure;  // shown, not sent raw
}

// Values that would be taken in silence are refused, naming what was wrong; what keywords accept
// by design still runs, with a warning in the case's log.
TEST_F(BadInput, RefusedValuesAndWarnings) {
  workbook("test_sleep.xlsx", {{"负数", {R(1, "", "sleep", -1)}}, {"十六进制", {R(1, "", "sleep", "0x10")}}});
  const auto started = std::chrono::steady_clock::now();
  Finished f = tovik({"test_sleep.xlsx"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);  // no 16-second sleep
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "FAILED test_sleep.xlsx::负数 - ValueError: sleep 的时长应为不小于 0 的秒数，实际为 -1"));
  EXPECT_TRUE(Has(f.out, "FAILED test_sleep.xlsx::十六进制 - ValueError: could not convert string to float: '0x10'"));

  f = tovik({"--maxfail", "-1", "test_sleep.xlsx"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: --maxfail 应为不小于 0 的整数（0 表示不限），实际为 -1"));
  f = tovik({"-o", "=x", "test_sleep.xlsx"});
  EXPECT_EQ(f.status, 4);
  EXPECT_TRUE(Has(f.err, "ERROR: -o/--override-ini 的值缺少键名: =x"));

  workbook("test_warn.xlsx", {{"多余", {R(nullptr, nullptr, "@type", "wbe"), R(1, "", "assert", 1, "equal", 1, "多余的", 7),
                                         R(2, "", "assert", 1, "equal", 2)}}});
  f = tovik({"test_warn.xlsx"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "WARNING  tovik.pytest:文件 test_warn.xlsx, 工作表 多余, 第 2 行: 未知的用例类型 'wbe'，将使用全部关键字（可用：web、app、api、all）"));
  EXPECT_TRUE(Has(f.out, "WARNING  tovik.pytest:文件 test_warn.xlsx, 工作表 多余, 第 3 行: 关键字 assert 只接受 3 个参数，多出的 ('多余的', 7) 被忽略"));

  // two tabs of one title: the second one renamed in the package, as no writer would do it
  workbook("test_twice.xlsx", {{"登录", {R(1, "", "assert", 1, "equal", 1)}}, {"其它", {R(1, "", "assert", 1, "equal", 1)}}});
  Child zip({"/usr/bin/python3", "-c",
             "import sys, zipfile\n"
             "src, dst = sys.argv[1], sys.argv[2]\n"
             "with zipfile.ZipFile(src) as a, zipfile.ZipFile(dst, 'w', zipfile.ZIP_DEFLATED) as b:\n"
             "    for i in a.infolist():\n"
             "        data = a.read(i.filename)\n"
             "        if i.filename == 'xl/workbook.xml': data = data.replace('其它'.encode(), '登录'.encode())\n"
             "        b.writestr(i, data)\n",
             (root_ / "test_twice.xlsx").string(), (root_ / "test_dup.xlsx").string()},
            root_, {});
  ASSERT_EQ(zip.wait(30s).status, 0);
  fs::remove(root_ / "test_twice.xlsx");
  f = tovik({"test_dup.xlsx"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "文件 test_dup.xlsx 中有两个同名的工作表: 第 1 个 '登录' 和第 2 个 '登录'"));
}

// Every secret the run knows is masked by value wherever tovik writes: terminal, log file,
// allure results and attachments, JUnit. Here each travels through a keyword that can carry it,
// and a failure report that quotes it.
TEST_F(BadInput, SecretsNeverReachAnOutput) {
  const std::vector<std::string> secrets = {"Pa55-word!mail", "SEC-ding-123", "wecom-KEY-42",     "TOKEN-abc-9",
                                            "KEY-xyz-77",     "INVALID-tok-5", "COOKIE-val-3", "YAML-tok-8"};
  write_file(root_ / "pytest.ini",
             "[pytest]\nlog_file = run.log\nlog_file_level = debug\n[tovik]\n"
             "email_password = Pa55-word!mail\ndingding_secret = SEC-ding-123\n"
             "qywx_url = http://127.0.0.1:" + std::to_string(tovik::http::testing::closed_port()) + "/send?key=wecom-KEY-42\n");
  workbook("test_secret.xlsx", {
      {"请求头", {R(nullptr, nullptr, "@type", "api"), R(1, "", "add_header", "Authorization", "Bearer TOKEN-abc-9"),
                  R(2, "", "set_headers", R"({"X-Api-Key": "KEY-xyz-77"})"), R(3, "", "add_cookie", "sid", "COOKIE-val-3"),
                  R(4, "", "send_http", "GET", "/api/anything"),
                  // the echoed request comes back in the body, and the failure quotes it
                  R(5, "", "assert", "{resp_body}", "equal", "x")}},
      {"坏的 JSON", {R(nullptr, nullptr, "@type", "api"), R(1, "", "set_headers", R"({"Authorization": "Bearer INVALID-tok-5")")}},
  });
  write_file(root_ / "test_secret.yaml",
             "name: 请求\ntype: api\nsteps:\n"
             "  - request: {method: GET, url: /api/anything, headers: {Authorization: Bearer YAML-tok-8}}\n"
             "    extract: {seen: \"$.headers.Authorization\"}\n"
             "    validate: {equals: {应当不同: [\"${seen}\", x]}}\n");
  const Finished f = tovik({"-v", "--junitxml", "out/j.xml", "--alluredir", "res", "--log-cli-level=DEBUG"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "******"));
  const std::string written = everything_written() + f.out + f.err;
  for (const auto& s : secrets) EXPECT_TRUE(Lacks(written, s)) << s;
  // and the reports are still what they were: well-formed and complete
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file((root_ / "out/j.xml").c_str()));
  EXPECT_EQ(doc.child("testsuites").attribute("tests").as_int(), 3);
  EXPECT_EQ(files_matching(root_ / "res", "-result.json").size(), 3u);
}

}  // namespace
