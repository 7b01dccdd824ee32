// End-to-end tests of the browser keywords: `tovik run` on workbooks written here, driving
// headless Chromium through chromedriver on the demo pages, which the test serves itself on
// 127.0.0.1. Every run is also checked for what it leaves running.
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "examples/demo_pages.hpp"
#include "examples/workbook_writer.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tovik::e2e;
using tovik::List;
using tovik::Value;

// A step without number and description: keyword, then its arguments.
template <class... T>
List K(T&&... cells) {
  return List{Value(), Value(), Value(std::forward<T>(cells))...};
}
List fixtures(const char* name) { return R(nullptr, nullptr, "@fixtures", name); }

// Rows of a case on the run's shared browser, or on one of its own.
std::vector<List> on_session(std::vector<List> steps) {
  steps.insert(steps.begin(), {fixtures("browser_session"), K("set_driver", "browser_session")});
  return steps;
}
std::vector<List> on_own_browser(std::vector<List> steps) {
  steps.insert(steps.begin(), {fixtures("browser"), K("set_driver", "browser")});
  return steps;
}

// ---------------------------------------------------------------------------------------------
// Processes

struct Proc {
  pid_t pid = 0, ppid = 0, pgrp = 0;
  char state = '?';
  std::string comm;
  bool alive() const { return state != 'Z' && state != 'X'; }
};

std::optional<Proc> read_proc(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto open = stat.find('('), close = stat.rfind(')');  // the name may hold anything
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  Proc p;
  p.pid = pid;
  p.comm = stat.substr(open + 1, close - open - 1);
  std::istringstream rest(stat.substr(close + 2));
  rest >> p.state >> p.ppid >> p.pgrp;
  if (!rest) return std::nullopt;
  return p;
}

std::vector<Proc> all_processes() {
  std::vector<Proc> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (auto p = read_proc(static_cast<pid_t>(std::stol(name)))) out.push_back(*p);
  }
  return out;
}

bool environ_has(pid_t pid, const std::string& entry) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  for (std::string e; std::getline(in, e, '\0');)
    if (e == entry) return true;
  return false;
}

std::string cmdline(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::replace(s.begin(), s.end(), '\0', ' ');
  return s.substr(0, 160);
}

// What a run left running: processes with the run's marker in their environment (chromedriver,
// the browser, and its crash handlers, which leave the process group), and members of the
// process groups of the chromedriver programs the run started (the browser's zygotes and
// renderers, which drop the environment).
std::vector<Proc> leftovers(const std::string& marker, const std::set<pid_t>& groups) {
  std::vector<Proc> out;
  for (const Proc& p : all_processes()) {
    if (!p.alive() || p.pid == ::getpid()) continue;
    if (groups.count(p.pgrp) || environ_has(p.pid, marker)) out.push_back(p);
  }
  return out;
}

std::string describe(const std::vector<Proc>& procs) {
  std::string s;
  for (const Proc& p : procs)
    s += "  pid " + std::to_string(p.pid) + " ppid " + std::to_string(p.ppid) + " group " + std::to_string(p.pgrp) +
         " " + p.state + " " + cmdline(p.pid) + "\n";
  return s;
}

// The pids of the chromedriver programs a log names ("chromedriver (pid N) listening on ...");
// each is also the id of the process group it leads.
std::vector<pid_t> chromedriver_pids(const std::string& log) {
  static const std::regex line(R"(chromedriver \(pid ([0-9]+)\) listening on)");
  std::vector<pid_t> out;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
    out.push_back(static_cast<pid_t>(std::stol((*it)[1].str())));
  return out;
}

std::string chromedriver_program() {
  const std::string found = program_path("chromedriver");
  return !found.empty() || ::access("/usr/bin/chromedriver", X_OK) != 0 ? found : "/usr/bin/chromedriver";
}

// ---------------------------------------------------------------------------------------------
// The demo pages, served for the whole suite

class Pages {
 public:
  Pages() {
    tovik::examples::add_demo_pages(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Pages() {
    server_.stop();
    thread_.join();
  }
  bool ok() const { return port_ > 0; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
};

// ---------------------------------------------------------------------------------------------
// The fixture: a fresh directory per test with pytest.ini and the variable file, removed after.

class WebRun : public ProjectTest {
 protected:
  static void SetUpTestSuite() {
    if (!chromedriver_program().empty()) pages_ = new Pages;
  }
  static void TearDownTestSuite() {
    delete pages_;
    pages_ = nullptr;
  }

  void SetUp() override {
    if (!pages_) GTEST_SKIP() << "chromedriver is not installed (Debian: apt-get install chromium-driver)";
    ASSERT_TRUE(pages_->ok()) << "cannot serve the demo pages on 127.0.0.1";
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    marker_ = "TOVIK_WEB_E2E_RUN=" + root_.string();
    settings(3);
    write_file(root_ / "variables.yaml", "demo_url: " + pages_->url() + "\n");
  }

  void TearDown() override {
    // whatever a failed test left running goes, so the next test starts clean
    for (const Proc& p : leftovers(marker_, groups_)) ::kill(p.pid, SIGKILL);
    ProjectTest::TearDown();
  }

  void settings(double wait_max) {
    write_file(root_ / "pytest.ini",
               device_ini("driver_type = chrome\n"
                          "selenium_grid =\n"
                          "headless = true\n"
                          "wait_max = " + std::to_string(wait_max) + "\n"
                          "wait_poll = 0.1\n"));
  }

  // A local browser of pytest.ini's settings, and the marker that finds what the run started.
  Env browser_env() const {
    // a Grid's node runs Chromium as whoever started the Grid, root here: without its sandbox
    return run_env({{"TOVIK_UI_SELENIUM_GRID", grid_},
                    {"TOVIK_UI_CAPABILITIES", grid_.empty() ? "" : R"({"goog:chromeOptions": {"args": ["--no-sandbox"]}})"},
                    {marker_.substr(0, marker_.find('=')), marker_.substr(marker_.find('=') + 1)}});
  }

  // Runs `tovik run args...` in the test's directory; `during` is called while it runs, with
  // the child, until it returns true. After the run nothing it started may still be running.
  Finished tovik(const std::vector<std::string>& args, const std::function<bool(Child&)>& during = {}) {
    std::vector<std::string> argv{TOVIK_BIN, "run"};
    argv.insert(argv.end(), args.begin(), args.end());
    Finished f;
    {
      Child child(argv, root_, browser_env());
      if (during) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!during(child) && std::chrono::steady_clock::now() < deadline) {
          const auto self = read_proc(child.pid());
          if (!self || !self->alive()) break;  // it ended first: the checks below tell why
          child.pump(50ms);
        }
      }
      f = child.wait(80s);
    }
    EXPECT_FALSE(f.timed_out) << "tovik run did not end\n" << f.all();
    EXPECT_EQ(f.signal, 0) << "tovik run died of a signal\n" << f.all();
    EXPECT_NE(f.status, 3) << "internal error\n" << f.all();

    log_ = read_file(root_ / "tovik.log");
    for (pid_t p : chromedriver_pids(log_)) groups_.insert(p);
    // Killed processes take a moment to go, and the crash handlers leave only once they see the
    // browser gone; anything still there after that was left behind.
    std::vector<Proc> left = leftovers(marker_, groups_);
    for (const auto until = std::chrono::steady_clock::now() + 10s; !left.empty() && std::chrono::steady_clock::now() < until;) {
      std::this_thread::sleep_for(50ms);
      left = leftovers(marker_, groups_);
    }
    EXPECT_TRUE(left.empty()) << "left running after the run:\n" << describe(left);
    return f;
  }

  // The FAILURES entry of one case.
  static std::string failure_of(const Finished& f, const std::string& nodeid) {
    const std::string failures = section(f.out, "= FAILURES =", "short test summary info");
    return section(failures, "_ " + nodeid + " _", "\n__");
  }

  static Pages* pages_;
  std::string grid_;  // the hub the run's browsers open on; empty: local chromedriver
  std::string marker_, log_;
  std::set<pid_t> groups_;
};

Pages* WebRun::pages_ = nullptr;

// ---------------------------------------------------------------------------------------------
// Keywords that pass

TEST_F(WebRun, ElementKeywordsActOnThePages) {
  workbook("test_elements.xlsx", {
      {"表单", on_session({
           K("goto", "{demo_url}/web/form"),
           K("save", "who", "张三"),
           K("input", "name;;ID", "{who}"),
           K("input", "//input[@id='email']", "zs@example.com"),
           K("input", "note;;ID", "，追加", false),  // keeps what the field held
           K("click", "submit;;ID"),
           K("save_text", "result;;ID", "r"),
           K("assert", "提交1：张三 <zs@example.com> 已有内容，追加", "equal", "{r}"),
           K("input", "note;;ID", "新备注"),  // clears first
           K("click", "//button[text()='提交']"),
           K("save_text", "result;;ID", "r"),
           K("assert", "提交2：张三 <zs@example.com> 新备注", "equal", "{r}"),
           K("save_attr", "name;;ID", "typed", "value"),
           K("assert", "张三", "equal", "{typed}"),
           K("save_attr", "code;;ID", "code", "value"),
           K("assert", "TV-001", "equal", "{code}"),
           K("save_attr", "off;;ID", "off", "disabled"),
           K("assert", "true", "equal", "{off}"),
       })},
      {"强制点击", on_session({
           K("goto", "{demo_url}/web/form"),
           K("click", "covered;;ID", true),
           K("save_text", "covered-result;;ID", "r"),
           K("assert", "被遮住的按钮已点击 1 次", "equal", "{r}"),
       })},
      {"相对定位与序号", on_session({
           K("goto", "{demo_url}/web/list"),
           K("touch", "//div[@id='card-2']"),
           K("save_text", "./p[@class='name']", "name"),
           K("assert", "乙", "equal", "{name}"),
           K("save_text", "./p;;XPATH;;1", "role"),
           K("assert", "组员", "equal", "{role}"),
           K("save_text", "//p[@class='name']", "first"),  // not below the touched element
           K("assert", "甲", "equal", "{first}"),
           K("touch", "card-3;;ID"),
           K("save_text", "./p[@class='name']", "name"),
           K("assert", "丙", "equal", "{name}"),
           K("save_text", "//li[@class='item'];;XPATH;;2", "third"),
           K("assert", "第三项", "equal", "{third}"),
           K("save_attr", "//li;;XPATH;;1", "no", "data-no"),
           K("assert", "2", "equal", "{no}"),
       })},
      {"下拉选择", on_session({
           K("goto", "{demo_url}/web/chosen"),
           K("chosen", "city_chosen;;ID", "北京"),
           K("save_attr", "city;;ID", "city", "value"),  // the hidden select follows
           K("assert", "北京", "equal", "{city}"),
           K("chosen", "city_chosen;;ID", "O'Hare"),
           K("save_text", "city-result;;ID", "r"),
           K("assert", "已选择：O'Hare", "equal", "{r}"),
           K("chosen", "//div[@id='city_chosen']", "Say \"hi\", it's me"),
           K("save_text", "city-result;;ID", "r"),
           K("assert", "已选择：Say \"hi\", it's me", "equal", "{r}"),
           K("chosen", "team_chosen;;ID", "运维组（it's on call）"),  // options arrive after opening
           K("save_text", "team-result;;ID", "r"),
           K("assert", "已选择：运维组（it's on call）", "equal", "{r}"),
       })},
      {"悬停", on_session({
           K("goto", "{demo_url}/web/hover"),
           K("move", "menu-head;;ID"),
           K("save_text", "hover-state;;ID", "state"),
           K("assert", "菜单已展开", "equal", "{state}"),
           K("click", "menu-download;;ID"),
           K("save_text", "hover-result;;ID", "r"),
           K("assert", "已选择：下载", "equal", "{r}"),
           K("move", "menu-head;;ID", 0, 200),  // well below the menu: it closes
           K("save_text", "hover-state;;ID", "state"),
           K("assert", "菜单已收起", "equal", "{state}"),
       })},
      {"滚动", on_session({
           K("goto", "{demo_url}/web/long"),
           K("show", "bottom;;ID"),
           K("save_text", "position;;ID", "pos", false),
           K("assert", "已滚动到底部", "equal", "{pos}"),
       })},
      {"脚本", on_session({
           K("goto", "{demo_url}/web/"),
           K("shell", "document.getElementById('title').textContent = arguments[0].who + ':' + arguments[0].n + ':' + arguments.length",
             "{\"who\": \"tovik\", \"n\": 3}"),
           K("save_text", "title;;ID", "t"),
           K("assert", "tovik:3:1", "equal", "{t}"),
           K("shell", "document.getElementById('title').textContent = Array.isArray(arguments[0]) + ':' + arguments[0].length + ':' + arguments.length",
             "[1, 2, 3]"),  // one argument, not spread
           K("save_text", "title;;ID", "t"),
           K("assert", "true:3:1", "equal", "{t}"),
           K("debugger"),  // stdin is not a terminal: carries on at once
       })},
      {"网址与标题", on_session({
           K("goto", "{demo_url}/web/"),
           K("save_title", "title"),
           K("assert", "tovik 演示页面", "equal", "{title}"),
           K("click", "to-chosen;;ID"),
           K("save_url", "url"),
           K("assert", "{demo_url}/web/chosen", "equal", "{url}"),
           K("save_title", "title"),
           K("assert", "下拉选择 - tovik 演示", "equal", "{title}"),
       })},
  });
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 0) << f.all();
  for (const char* name : {"表单", "强制点击", "相对定位与序号", "下拉选择", "悬停", "滚动", "脚本", "网址与标题"})
    EXPECT_TRUE(Has(f.out, std::string("test_elements.xlsx::") + name + " PASSED"));
  EXPECT_TRUE(Has(f.out, " 8 passed in "));
  EXPECT_TRUE(Has(log_, "debugger: stdin is not a terminal"));
  EXPECT_EQ(chromedriver_pids(log_).size(), 1u) << log_;  // one browser for the whole run
}

TEST_F(WebRun, FramesAndDialogs) {
  workbook("test_frames.xlsx", {
      {"框架", on_own_browser({
           K("goto", "{demo_url}/web/frames"),
           K("frame_enter", "outer;;ID"),
           K("save_text", "where;;ID", "level"),
           K("assert", "第一层", "equal", "{level}"),
           K("frame_enter", "//iframe[@id='inner']"),
           K("save_text", "where;;ID", "level"),
           K("assert", "第二层", "equal", "{level}"),
           K("input", "deep-input;;ID", "你好"),
           K("click", "deep-ok;;ID"),
           K("save_text", "deep-result;;ID", "r"),
           K("assert", "第二层收到：你好", "equal", "{r}"),
           K("frame_exit"),
           K("save_text", "where;;ID", "level"),
           K("assert", "第一层", "equal", "{level}"),
           K("frame_enter", "inner;;ID"),
           K("frame_top"),  // straight out of both
           K("save_text", "where;;ID", "level"),
           K("assert", "顶层", "equal", "{level}"),
       })},
      {"对话框", on_own_browser({
           K("goto", "{demo_url}/web/dialogs"),
           K("click", "alert;;ID"),
           K("save_text", "alert", "text"),
           K("assert", "这是一个提示", "equal", "{text}"),
           K("alert_ok"),
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "提示已关闭", "equal", "{r}"),
           K("click", "confirm;;ID"),
           K("save_text", "ALERT", "text"),
           K("assert", "确定要删除吗？", "equal", "{text}"),
           K("alert_cancel"),
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "确认结果：false", "equal", "{r}"),
           K("click", "confirm;;ID"),
           K("alert_ok"),
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "确认结果：true", "equal", "{r}"),
           K("click", "prompt;;ID"),
           K("alert_ok", "tovik 用户"),
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "输入结果：tovik 用户", "equal", "{r}"),
           K("click", "prompt;;ID"),
           K("alert_ok"),  // the prompt's own default
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "输入结果：默认名", "equal", "{r}"),
           K("click", "prompt;;ID"),
           K("alert_cancel"),
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "输入结果：已取消", "equal", "{r}"),
           K("click", "late-alert;;ID"),
           K("alert_ok"),  // waits for it
           K("save_text", "dialog-result;;ID", "r"),
           K("assert", "迟到的提示已关闭", "equal", "{r}"),
       })},
  });
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "test_frames.xlsx::框架 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_frames.xlsx::对话框 PASSED"));
  EXPECT_EQ(chromedriver_pids(log_).size(), 2u) << log_;  // a browser per case
}

// Each case loads the page anew, so its timers start over and the keyword has to wait.
TEST_F(WebRun, DelayedElementsAreWaitedFor) {
  workbook("test_delayed.xlsx", {
      {"出现", on_session({
           K("goto", "{demo_url}/web/delayed"),
           K("click", "late-button;;ID"),
           K("save_text", "delayed-result;;ID", "r"),
           K("assert", "迟到的按钮已点击", "equal", "{r}"),
       })},
      {"填入文字", on_session({
           K("goto", "{demo_url}/web/delayed"),
           K("save_text", "slow-text;;ID", "text", false),
           K("assert", "数据已加载", "equal", "{text}"),
       })},
      {"变为可用", on_session({
           K("goto", "{demo_url}/web/delayed"),
           K("click", "wait-enable;;ID"),
           K("save_text", "delayed-result;;ID", "r"),
           K("assert", "稍后可用的按钮已点击", "equal", "{r}"),
       })},
      {"变为可编辑", on_session({
           K("goto", "{demo_url}/web/delayed"),
           K("input", "wait-edit;;ID", "终于能写了"),
           K("save_attr", "wait-edit;;ID", "v", "value"),
           K("assert", "终于能写了", "equal", "{v}"),
       })},
  });
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, " 4 passed in "));
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(WebRun, FailuresNameTheRowAndTheCause) {
  settings(1.5);
  workbook("test_fail.xlsx", {
      {"找不到元素", on_session({K("goto", "{demo_url}/web/form"), K("click", "never-there;;ID")})},
      {"序号超出", on_session({K("goto", "{demo_url}/web/list"), K("save_text", "//li[@class='item'];;XPATH;;5", "x")})},
      {"被遮住", on_session({K("goto", "{demo_url}/web/form"), K("click", "covered;;ID")})},
      {"只读", on_session({K("goto", "{demo_url}/web/form"), K("input", "code;;ID", "改不了")})},
      {"一直为空", on_session({K("goto", "{demo_url}/web/dialogs"), K("save_text", "dialog-result;;ID", "x", false)})},
      {"不是框架", on_session({K("goto", "{demo_url}/web/frames"), K("frame_enter", "where;;ID")})},
      {"没有对话框", on_session({K("goto", "{demo_url}/web/dialogs"), K("alert_ok")})},
      {"没有浏览器", {K("goto", "{demo_url}/web/")}},
      {"之后照常", on_session({K("goto", "{demo_url}/web/list"), K("save_title", "t"), K("assert", "列表 - tovik 演示", "equal", "{t}")})},
  });
  const Finished f = tovik({});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "= 8 failed, 1 passed in "));

  std::string e = failure_of(f, "test_fail.xlsx::找不到元素");
  EXPECT_TRUE(Has(e, "行: 5\n关键字: click\n参数: ('never-there;;ID',)\n"));  // rows 2-4: mark, set_driver, goto
  EXPECT_TRUE(Has(e, "TimeoutException"));
  EXPECT_TRUE(Has(e, "元素定位失败：等待超时， tovik_locator=Locator(value='never-there', by='id', index=0)"));
  EXPECT_TRUE(Has(f.out, "FAILED test_fail.xlsx::找不到元素 - TimeoutException"));

  e = failure_of(f, "test_fail.xlsx::序号超出");
  EXPECT_TRUE(Has(e, "关键字: save_text\n"));
  EXPECT_TRUE(Has(e, "tovik_locator=Locator(value='//li[@class='item']', by='xpath', index=5)"));
  EXPECT_TRUE(Has(e, "元素定位成功，但是数量不足: 3 <= 5"));

  e = failure_of(f, "test_fail.xlsx::被遮住");
  EXPECT_TRUE(Has(e, "关键字: click\n"));
  EXPECT_TRUE(Has(e, "WebDriverException"));
  EXPECT_TRUE(Has(e, "element click intercepted"));

  e = failure_of(f, "test_fail.xlsx::只读");
  EXPECT_TRUE(Has(e, "关键字: input\n"));
  EXPECT_TRUE(Has(e, "TimeoutException"));

  e = failure_of(f, "test_fail.xlsx::一直为空");
  EXPECT_TRUE(Has(e, "关键字: save_text\n"));
  EXPECT_TRUE(Has(e, "TimeoutException"));

  e = failure_of(f, "test_fail.xlsx::不是框架");
  EXPECT_TRUE(Has(e, "关键字: frame_enter\n"));
  EXPECT_TRUE(Has(e, "AssertionError"));

  e = failure_of(f, "test_fail.xlsx::没有对话框");
  EXPECT_TRUE(Has(e, "关键字: alert_ok\n"));
  EXPECT_TRUE(Has(e, "TimeoutException"));

  e = failure_of(f, "test_fail.xlsx::没有浏览器");
  EXPECT_TRUE(Has(e, "行: 2\n关键字: goto\n"));
  EXPECT_TRUE(Has(e, "尚未启动设备"));

  EXPECT_TRUE(Lacks(f.out, "_ test_fail.xlsx::之后照常 _"));  // the shared browser survived them all
}

// A failed browser case carries what the browser showed, in the step that failed: a screenshot
// that is a real PNG, the page's HTML and the console; the report groups cases by directory and
// case file, and its overview names the browser. Rendered by the real allure program when there.
TEST_F(WebRun, AFailureCarriesWhatTheBrowserShowed) {
  workbook("test_evidence.xlsx", {
      {"标题不符", on_session({K("goto", "{demo_url}/web/no-such-page"), K("goto", "{demo_url}/web/list"),
                               K("save_title", "t"), K("assert", "别的标题", "equal", "{t}")})},
      {"通过", on_session({K("save_url", "u")})},
  });
  const Finished f = tovik({"--alluredir", "res"});
  EXPECT_EQ(f.status, 1) << f.all();

  nlohmann::json failed;
  for (const fs::path& p : files_matching(root_ / "res", "-result.json")) {
    const auto j = nlohmann::json::parse(read_file(p));
    if (j["name"] == "标题不符") failed = j;
    std::map<std::string, std::string> labels;
    for (const auto& l : j["labels"]) labels[l["name"]] = l["value"];
    EXPECT_EQ(labels["parentSuite"], root_.filename().string());
    EXPECT_EQ(labels["suite"], "test_evidence.xlsx");
    EXPECT_EQ(labels["package"], root_.filename().string() + ".test_evidence_xlsx");
    EXPECT_EQ(labels.count("subSuite"), 0u);
  }
  ASSERT_TRUE(failed.is_object()) << f.all();
  EXPECT_EQ(failed["status"], "failed");
  const auto& step = failed["steps"].back();  // the assert row
  EXPECT_EQ(step["status"], "failed");
  std::map<std::string, std::string> shown;
  for (const auto& a : step["attachments"]) shown[a["name"]] = read_file(root_ / "res" / a["source"].get<std::string>());
  ASSERT_EQ(shown.count("失败截图"), 1u) << step.dump();
  EXPECT_EQ(shown["失败截图"].substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_GT(shown["失败截图"].size(), 1000u);
  EXPECT_TRUE(Has(shown["页面源码"], "列表 - tovik 演示"));
  EXPECT_TRUE(Has(shown["浏览器控制台日志"], "404")) << shown["浏览器控制台日志"];

  const std::string env = read_file(root_ / "res/environment.properties");
  EXPECT_TRUE(Has(env, "浏览器 = chrome ")) << env;
  EXPECT_TRUE(fs::exists(root_ / "res/executor.json"));

  if (!fs::exists(TOVIK_ALLURE)) GTEST_SKIP() << "allure program not installed at " << TOVIK_ALLURE;
  Child gen({TOVIK_ALLURE, "generate", "res", "-o", "report", "--clean"}, root_, run_env());
  EXPECT_EQ(gen.wait(120s).status, 0);
  const auto suites = nlohmann::json::parse(read_file(root_ / "report/data/suites.json"));
  ASSERT_EQ(suites["children"].size(), 1u) << suites.dump();
  EXPECT_EQ(suites["children"][0]["name"], root_.filename().string());
  EXPECT_EQ(suites["children"][0]["children"][0]["name"], "test_evidence.xlsx");
  EXPECT_EQ(suites["children"][0]["children"][0]["children"].size(), 2u);  // the cases themselves
  const auto categories = nlohmann::json::parse(read_file(root_ / "report/data/categories.json"));
  ASSERT_EQ(categories["children"].size(), 1u) << categories.dump();
  EXPECT_EQ(categories["children"][0]["name"], "产品缺陷");
  EXPECT_TRUE(Has(read_file(root_ / "report/widgets/environment.json"), "chrome"));
}

// ---------------------------------------------------------------------------------------------
// Drivers: fixtures, new_driver, and a driver that dies

TEST_F(WebRun, EachFixtureScopeGetsItsOwnBrowser) {
  workbook("test_scopes.xlsx", {
      {"共用一", on_session({K("goto", "{demo_url}/web/list")})},
      {"共用二", on_session({K("save_url", "u"), K("assert", "{demo_url}/web/list", "equal", "{u}")})},  // the same browser
      {"自己的", on_own_browser({K("save_url", "u"), K("assert", "{demo_url}/web/list", "equal", "{u}")})},  // a fresh one
      {"关键字启动", {K("new_driver"), K("goto", "{demo_url}/web/list"), K("save_title", "t"),
                      K("assert", "列表 - tovik 演示", "equal", "{t}")}},
  });
  const Finished f = tovik({"-v"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "test_scopes.xlsx::共用一 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_scopes.xlsx::共用二 PASSED"));
  EXPECT_TRUE(Has(f.out, "test_scopes.xlsx::自己的 FAILED"));
  EXPECT_TRUE(Has(f.out, "test_scopes.xlsx::关键字启动 PASSED"));
  EXPECT_TRUE(Has(failure_of(f, "test_scopes.xlsx::自己的"), "关键字: assert\n"));
  const auto pids = chromedriver_pids(log_);
  EXPECT_EQ(std::set<pid_t>(pids.begin(), pids.end()).size(), 3u) << log_;  // session, own, new_driver
}

TEST_F(WebRun, KilledChromedriverFailsItsCaseAndTheNextGetsAFreshOne) {
  workbook("test_kill.xlsx", {
      {"中途断开", on_own_browser({K("goto", "{demo_url}/web/form"), K("sleep", 3), K("goto", "{demo_url}/web/list")})},
      {"下一个", on_own_browser({K("goto", "{demo_url}/web/list"), K("save_text", "//li;;XPATH;;1", "x"),
                                  K("assert", "第二项", "equal", "{x}")})},
  });
  pid_t killed = -1;
  const Finished f = tovik({"-v", "--log-cli-level=INFO", "--alluredir", "res"}, [&](Child& child) {
    if (child.out().find("【sleep】") == std::string::npos) return false;
    // the case sleeps: its chromedriver is the one the live log named
    const auto named = chromedriver_pids(child.out());
    if (!named.empty()) killed = named.back();
    if (killed > 0) ::kill(killed, SIGKILL);
    return true;
  });
  ASSERT_GT(killed, 0) << "no chromedriver below tovik while the case slept\n" << f.all();
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "= 1 failed, 1 passed in "));
  EXPECT_TRUE(Has(f.out, "FAILED test_kill.xlsx::中途断开 - WebDriverException"));
  const std::string e = failure_of(f, "test_kill.xlsx::中途断开");
  EXPECT_TRUE(Has(e, "行: 6\n关键字: goto\n"));  // the row after the sleep
  EXPECT_TRUE(Has(e, "WebDriverException"));
  // no evidence from a dead driver, only a warning, and the failure stays the case's own
  EXPECT_TRUE(Has(f.out, "未能取得失败现场（截图、源码）"));
  for (const fs::path& p : files_matching(root_ / "res", "-result.json")) {
    const std::string result = read_file(p);
    if (!Has(result, "\"中途断开\"")) continue;
    EXPECT_TRUE(Lacks(result, "失败截图"));
    EXPECT_TRUE(Has(result, "\"status\":\"broken\"") && Has(result, "WebDriverException: ")) << result;
  }
  const auto pids = chromedriver_pids(log_);
  ASSERT_EQ(pids.size(), 2u) << log_;
  EXPECT_EQ(pids[0], killed);
  EXPECT_NE(pids[1], killed);
}

// A tovik killed outright (SIGKILL: no clean-up of its own) leaves no browser behind: the
// supervisor of its chromedriver ends the driver's whole group when tovik is gone.
TEST_F(WebRun, ATovikKilledMidCaseLeavesNoBrowser) {
  workbook("test_killed.xlsx", {{"长", on_own_browser({K("goto", "{demo_url}/web/form"), K("sleep", 30)})}});
  std::vector<pid_t> drivers;
  {
    Child child({TOVIK_BIN, "run", "--log-cli-level=INFO"}, root_, browser_env());
    for (const auto until = std::chrono::steady_clock::now() + 60s;
         child.out().find("【sleep】") == std::string::npos && std::chrono::steady_clock::now() < until;)
      child.pump(50ms);
    ASSERT_NE(child.out().find("【sleep】"), std::string::npos) << child.out();
    drivers = chromedriver_pids(child.out());
    ASSERT_EQ(drivers.size(), 1u) << child.out();
    for (pid_t d : drivers) groups_.insert(d);
    ASSERT_FALSE(leftovers(marker_, groups_).empty());  // the browser is up
    ::kill(child.pid(), SIGKILL);
    const Finished f = child.wait(10s);
    EXPECT_EQ(f.signal, SIGKILL);
  }
  std::vector<Proc> left = leftovers(marker_, groups_);
  for (const auto until = std::chrono::steady_clock::now() + 15s; !left.empty() && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(100ms);
    left = leftovers(marker_, groups_);
  }
  EXPECT_TRUE(left.empty()) << "left running after tovik was killed:\n" << describe(left);
}

// ---------------------------------------------------------------------------------------------
// Parallel runs

// The processes of chromedriver the run started that are running now.
std::size_t drivers_running(const std::string& marker) {
  std::size_t n = 0;
  for (const Proc& p : leftovers(marker, {}))
    if (cmdline(p.pid).find("chromedriver") != std::string::npos) ++n;
  return n;
}

TEST_F(WebRun, WorkersDriveBrowsersOfTheirOwnAndCtrlCLeavesNone) {
  std::vector<tovik::examples::SheetRows> sheets;
  for (int i = 0; i < 3; ++i) {
    sheets.push_back({"共用" + std::to_string(i), on_session({K("goto", "{demo_url}/web/list"), K("save_title", "t"),
                                                              K("assert", "列表 - tovik 演示", "equal", "{t}")})});
    sheets.push_back({"自己" + std::to_string(i), on_own_browser({K("goto", "{demo_url}/web/list"), K("save_title", "t"),
                                                                  K("assert", "列表 - tovik 演示", "equal", "{t}")})});
  }
  workbook("test_par.xlsx", sheets);
  Finished f = tovik({"-n", "2", "-v"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "6 passed")) << f.all();
  // the workers' log lines reach the run's one log file: a browser per own case, one session
  // browser per worker that ran a shared case
  const auto pids = chromedriver_pids(log_);
  const std::size_t drivers = std::set<pid_t>(pids.begin(), pids.end()).size();
  EXPECT_GE(drivers, 4u) << log_;
  EXPECT_LE(drivers, 5u) << log_;

  // Ctrl-C while both workers are in a case with a browser open
  fs::remove(root_ / "test_par.xlsx");
  std::vector<tovik::examples::SheetRows> slow;
  for (int i = 0; i < 4; ++i) slow.push_back({"慢" + std::to_string(i), on_own_browser({K("goto", "{demo_url}/web/form"), K("sleep", 30)})});
  workbook("test_slow.xlsx", slow);
  const auto started = std::chrono::steady_clock::now();
  f = tovik({"-n", "2", "--alluredir", "res"}, [&](Child& child) {
    if (drivers_running(marker_) < 2) return false;
    std::this_thread::sleep_for(1s);  // into the sleep
    ::kill(child.pid(), SIGINT);
    return true;
  });
  EXPECT_EQ(f.status, 2) << f.all();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << f.all();
  EXPECT_TRUE(files_matching(root_ / "res", "-result.json").empty());  // nothing finished
}

// A real Selenium Grid 4 standalone server with two slots, started by the test.
class Grid {
 public:
  Grid(const fs::path& dir, const Env& env) {
    const int port = free_port();
    url_ = "http://127.0.0.1:" + std::to_string(port);
    std::vector<std::string> argv{program_path("java"), "-jar", TOVIK_GRID_JAR, "standalone", "--host", "127.0.0.1", "--port",
                                  std::to_string(port), "--max-sessions", "2", "--selenium-manager", "false"};
    // A test that crashes never reaches the destructor: a shell that dies with the test takes the
    // Grid's whole process group along, the browsers of its sessions included.
    if (const std::string setpriv = program_path("setpriv"); !setpriv.empty())
      argv.insert(argv.begin(), {setpriv, "--pdeathsig", "TERM", "/bin/sh", "-c", "trap 'kill -KILL 0' TERM; \"$@\" & wait $!", "grid"});
    child_ = std::make_unique<Child>(argv, dir, env);
    httplib::Client client(url_);
    client.set_connection_timeout(1);
    for (const auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;) {
      child_->pump(100ms);
      if (auto res = client.Get("/status"); res && res->status == 200 && nlohmann::json::parse(res->body)["value"]["ready"] == true) {
        ready_ = true;
        break;
      }
    }
  }
  bool ready() const { return ready_; }
  const std::string& url() const { return url_; }
  std::string log() {
    child_->pump(100ms);
    return child_->out();
  }
  // The sessions the Grid holds now.
  int sessions() const {
    httplib::Client client(url_);
    auto res = client.Get("/status");
    if (!res) return -1;
    int n = 0;
    const nlohmann::json status = nlohmann::json::parse(res->body);  // kept: the loop walks into it
    for (const auto& node : status["value"]["nodes"])
      for (const auto& slot : node["slots"]) n += slot["session"].is_null() ? 0 : 1;
    return n;
  }

 private:
  std::unique_ptr<Child> child_;  // killed with its process group at the end
  std::string url_;
  bool ready_ = false;
};

TEST_F(WebRun, ASeleniumGridServesParallelWorkersAndQueuesTheRest) {
  if (!program_on_path("java")) GTEST_SKIP() << "java is not installed";
  if (!fs::exists(TOVIK_GRID_JAR)) GTEST_SKIP() << "Selenium Grid jar not installed at " << TOVIK_GRID_JAR << " (scripts/setup)";
  Grid grid(tmp_, run_env({{"SE_AVOID_STATS", "true"}}));
  ASSERT_TRUE(grid.ready()) << grid.log();
  grid_ = grid.url();

  std::vector<tovik::examples::SheetRows> sheets;
  for (int i = 0; i < 6; ++i)
    sheets.push_back({"网格" + std::to_string(i), on_own_browser({K("goto", "{demo_url}/web/list"), K("sleep", 1), K("save_title", "t"),
                                                                  K("assert", "列表 - tovik 演示", "equal", "{t}")})});
  workbook("test_grid.xlsx", sheets);
  const Finished f = tovik({"-n", "4", "-v"});
  EXPECT_EQ(f.status, 0) << f.all() << grid.log();
  EXPECT_TRUE(Has(f.out, "6 passed")) << f.all();
  EXPECT_TRUE(chromedriver_pids(log_).empty()) << log_;  // no local driver: the Grid's node ran them
  // four workers asked at once for two slots: the Grid queued the rest
  const std::string log = grid.log();
  EXPECT_GE(count_of(log, "Session created by the Distributor"), 6) << log;
  EXPECT_GE(count_of(log, "Unable to find a free slot for request"), 1) << log;
  EXPECT_EQ(grid.sessions(), 0) << log;
}

}  // namespace
