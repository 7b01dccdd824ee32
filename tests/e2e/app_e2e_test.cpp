// End-to-end tests of the app keywords: `tovik run` on workbooks driving the demo app of
// examples/demo/demo_app.xml through a real Appium 3 server with its fake driver. The suite starts
// Appium on a free port of 127.0.0.1 and puts a small proxy in front of it, which forwards every
// command and, just before a session is deleted, fetches the fake driver's "actions" log: the W3C
// actions exactly as the server received them.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "examples/workbook_writer.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/appium_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tovik::e2e;
using nlohmann::json;
using tovik::List;
using tovik::Value;

const char* const kElementKey = "element-6066-11e4-a52e-4f735466cecf";
const char* const kNoChain = "ActionChains未创建，请使用 ac_new 关键字创建后再操作";

// A step without number and description: keyword, then its arguments.
template <class... T>
List K(T&&... cells) {
  return List{Value(), Value(), Value(std::forward<T>(cells))...};
}

// "/session/<id>" itself, not a command below it.
bool is_session_path(const std::string& path) {
  const std::string prefix = "/session/";
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
         path.find('/', prefix.size()) == std::string::npos;
}

// One command as the proxy forwarded it.
struct Command {
  std::string method, path;
  json request, response;
};

class RecordingProxy {
 public:
  explicit RecordingProxy(int upstream)
      : upstream_(upstream), server_([this](httplib::Server& s) {
          const auto handler = [this](const httplib::Request& req, httplib::Response& res) { forward(req, res); };
          s.Get(".*", handler);
          s.Post(".*", handler);
          s.Delete(".*", handler);
        }) {}

  std::string url() const { return server_.url(); }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
    actions_.clear();
  }
  std::vector<Command> commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  // The fake driver's actions log of every session deleted since clear(), in order of deletion:
  // one entry per perform-actions command, each the list of its input sources.
  std::vector<json> actions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return actions_;
  }

 private:
  void forward(const httplib::Request& req, httplib::Response& res) {
    httplib::Client appium("127.0.0.1", upstream_);
    appium.set_read_timeout(30s);
    if (req.method == "DELETE" && is_session_path(req.path)) {
      if (auto log = appium.Post(req.path + "/se/log", R"({"type":"actions"})", "application/json")) {
        const json value = json::parse(log->body, nullptr, false);
        std::lock_guard<std::mutex> lock(mutex_);
        if (value.is_object() && value["value"].is_array())
          for (const auto& perform : value["value"]) actions_.push_back(perform);
      }
    }
    httplib::Result r = req.method == "GET"    ? appium.Get(req.path)
                        : req.method == "POST" ? appium.Post(req.path, req.body, "application/json")
                                               : appium.Delete(req.path);
    if (!r) {
      res.status = 502;
      res.set_content(R"({"value":{"error":"unknown error","message":"the proxy cannot reach Appium"}})", "application/json");
      return;
    }
    res.status = r->status;
    res.set_content(r->body, "application/json; charset=utf-8");
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back({req.method, req.path, json::parse(req.body.empty() ? "null" : req.body, nullptr, false),
                         json::parse(r->body, nullptr, false)});
  }

  int upstream_;
  std::mutex mutex_;
  std::vector<Command> commands_;
  std::vector<json> actions_;
  tovik::http::testing::LocalServer server_;  // last: stops before the state above goes away
};

// ---------------------------------------------------------------------------------------------
// The fixture: a fresh directory per test with pytest.ini and the variable file, removed after.

class AppRun : public ProjectTest {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists(fs::path(TOVIK_SOURCE_DIR) / "tools/node_modules/appium/index.js")) return;
    appium_ = new Appium;
    if (appium_->ready()) proxy_ = new RecordingProxy(appium_->port());
  }
  static void TearDownTestSuite() {
    delete proxy_;
    delete appium_;
    proxy_ = nullptr;
    appium_ = nullptr;
  }

  void SetUp() override {
    if (!appium_) GTEST_SKIP() << "Appium is not installed in tools/node_modules (run scripts/setup)";
    ASSERT_TRUE(appium_->ready()) << "Appium did not start; its log:\n" << appium_->log();
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    // The fixtures open app sessions from these settings; new_driver rows name hub and
    // capabilities themselves.
    write_file(root_ / "pytest.ini",
               device_ini("driver_type = android\n"
                          "selenium_grid = " + proxy_->url() + "\n"
                          "capabilities = " + caps() + "\n"
                          "wait_max = 1\n"
                          "wait_poll = 0.1\n"));
    write_file(root_ / "variables.yaml", "hub: " + proxy_->url() + "\n");
    proxy_->clear();
  }

  // Capabilities of a fake-driver session, written bare as testers write them.
  static std::string caps() {
    return json{{"platformName", "Fake"}, {"automationName", "Fake"}, {"deviceName", "fake"}, {"app", TOVIK_FAKE_APP}}.dump();
  }

  Finished tovik(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    Finished f = run_tovik(args, {{"TOVIK_UI_SELENIUM_GRID", proxy_->url()}, {"TOVIK_UI_CAPABILITIES", caps()}}, 90s);
    log_ = read_file(root_ / "tovik.log");
    return f;
  }
  static std::string failure_of(const std::string& out, const std::string& nodeid) {
    return section(out, "_ " + nodeid + " _", "\n___");
  }
  // Every session the run opened was deleted again: Appium holds none afterwards.
  void expect_no_sessions_left() {
    int created = 0, deleted = 0;
    for (const auto& c : proxy_->commands()) {
      if (c.method == "POST" && c.path == "/session") ++created;
      if (c.method == "DELETE" && is_session_path(c.path)) ++deleted;
    }
    EXPECT_GT(created, 0);
    EXPECT_EQ(created, deleted);
    httplib::Client appium("127.0.0.1", appium_->port());
    auto r = appium.Get("/appium/sessions");
    ASSERT_TRUE(r);
    EXPECT_EQ(json::parse(r->body)["value"], json::array()) << r->body;
  }
  // The element id Appium answered for a search of the given value.
  std::string element_found(const std::string& value) {
    for (const auto& c : proxy_->commands())
      if (c.method == "POST" && c.path.size() > 8 && c.path.compare(c.path.size() - 8, 8, "/element") == 0 &&
          c.request.value("value", "") == value && c.response["value"].contains(kElementKey))
        return c.response["value"][kElementKey].get<std::string>();
    return "";
  }

  static Appium* appium_;
  static RecordingProxy* proxy_;
  std::string log_;
};

Appium* AppRun::appium_ = nullptr;
RecordingProxy* AppRun::proxy_ = nullptr;

json move_to(const std::string& element, int duration) {
  return json{{"type", "pointerMove"}, {"duration", duration}, {"x", 0}, {"y", 0}, {"origin", {{"ELEMENT", element}, {kElementKey, element}}}};
}
json at(int x, int y, int duration) {
  return json{{"type", "pointerMove"}, {"duration", duration}, {"x", x}, {"y", y}, {"origin", "viewport"}};
}
const json kDown = json{{"type", "pointerDown"}, {"button", 0}};
const json kUp = json{{"type", "pointerUp"}, {"button", 0}};
json pause(int ms) { return json{{"type", "pause"}, {"duration", ms}}; }

// ---------------------------------------------------------------------------------------------

// new_driver with a hub and capabilities from the row; web keywords of KeyWord work on the app too.
TEST_F(AppRun, ContextsGesturesAndElementKeywordsOnANewDriver) {
  workbook("test_app.xlsx", {
      {"上下文与手势", {
           K("new_driver", "android", "{hub}", caps()),
           K("context", "WEBVIEW_1"),
           K("save_title", "title"),  // the fake driver has titles in web views only
           K("assert", "帮助", "equal", "{title}"),
           K("touch", "//p[@id='help']"),
           K("context"),  // back to NATIVE_APP
           K("click", "login;;ID"),
           K("save_attr", "login;;ID", "clicks", "clicks"),
           K("assert", "1", "equal", "{clicks}"),
           K("input", "name;;ID", "张三"),
           K("save_text", "name;;ID", "typed"),
           K("assert", "张三", "equal", "{typed}"),
           K("press", "login;;ID", 0.3),
           K("swipe", 100, 800, 300, 400),
       }},
  });
  Finished f = tovik({"-v", "test_app.xlsx"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "1 passed in "));
  EXPECT_TRUE(Has(log_, "长按元素 locator=login;;ID, times=0.3"));
  EXPECT_TRUE(Has(log_, "滑动屏幕 start_x=100, start_y=800 -> end_x=300,400"));

  // the context switches reached the server in order
  std::vector<std::string> contexts;
  for (const auto& c : proxy_->commands())
    if (c.method == "POST" && c.path.find("/context") != std::string::npos) contexts.push_back(c.request["name"]);
  EXPECT_EQ(contexts, (std::vector<std::string>{"WEBVIEW_1", "NATIVE_APP"}));

  // press: the mouse pointer holds the element for 300 ms; swipe: a touch pointer named "touch"
  const auto actions = proxy_->actions();
  ASSERT_EQ(actions.size(), 2u) << json(actions).dump(1);
  const std::string login = element_found("login");
  ASSERT_FALSE(login.empty());
  json press_mouse;
  for (const auto& s : actions[0])
    if (s["id"] == "mouse") press_mouse = s;
  EXPECT_EQ(press_mouse["parameters"]["pointerType"], "mouse");
  EXPECT_EQ(press_mouse["actions"], json::array({move_to(login, 250), kDown, pause(300), kUp})) << actions[0].dump(1);
  ASSERT_EQ(actions[1].size(), 1u) << actions[1].dump(1);
  EXPECT_EQ(actions[1][0]["id"], "touch");
  EXPECT_EQ(actions[1][0]["parameters"]["pointerType"], "touch");
  EXPECT_EQ(actions[1][0]["actions"], json::array({at(100, 800, 250), kDown, pause(100), at(300, 400, 250), kUp}));
  expect_no_sessions_left();
}

// The fixture path: a "browser" fixture of driver_type android on the configured hub, with the
// configured capabilities. Two new pointers tap two buttons at the same ticks.
TEST_F(AppRun, ATwoFingerChainReachesTheServerAsTwoTouchPointersSideBySide) {
  workbook("test_chain.xlsx", {
      {"双指点击", {
           R(nullptr, nullptr, "@fixtures", "browser"),
           K("set_driver", "browser"),
           K("ac_new"),
           K("ac_new_click", "left;;ID"),
           K("ac_new_click", "right;;ID", 0.2),
           K("ac_perform"),
       }},
      {"再次执行", {
           R(nullptr, nullptr, "@fixtures", "browser"),
           K("set_driver", "browser"),
           K("ac_new"),
           K("ac_new_swipe", 500, 1500, 500, 300),
           K("ac_perform"),
           K("ac_perform"),
       }},
  });
  Finished f = tovik({"-v", "test_chain.xlsx"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "1 failed, 1 passed in "));
  const std::string failure = failure_of(f.out, "test_chain.xlsx::再次执行");
  EXPECT_TRUE(Has(failure, kNoChain));
  EXPECT_TRUE(Has(log_, kNoChain));

  const auto actions = proxy_->actions();
  ASSERT_EQ(actions.size(), 2u) << json(actions).dump(1);  // the second ac_perform sent nothing
  const json& taps = actions[0];
  ASSERT_EQ(taps.size(), 2u) << taps.dump(1);
  const std::string left = element_found("left"), right = element_found("right");
  ASSERT_FALSE(left.empty());
  ASSERT_FALSE(right.empty());
  EXPECT_NE(left, right);
  EXPECT_EQ(taps[0]["id"], "p_2");
  EXPECT_EQ(taps[1]["id"], "p_3");
  for (const auto& finger : taps) {
    EXPECT_EQ(finger["type"], "pointer");
    EXPECT_EQ(finger["parameters"]["pointerType"], "touch");
  }
  EXPECT_EQ(taps[0]["actions"], json::array({move_to(left, 250), kDown, pause(100), kUp}));
  EXPECT_EQ(taps[1]["actions"], json::array({move_to(right, 250), kDown, pause(200), kUp}));
  // tick by tick the two fingers do the same thing, so both buttons are down together
  for (std::size_t tick = 0; tick < 4; ++tick)
    EXPECT_EQ(taps[0]["actions"][tick]["type"], taps[1]["actions"][tick]["type"]) << tick;

  const json& swipe = actions[1];
  ASSERT_EQ(swipe.size(), 1u) << swipe.dump(1);
  EXPECT_EQ(swipe[0]["id"], "p2");
  EXPECT_EQ(swipe[0]["actions"], json::array({at(500, 1500, 1), kDown, pause(100), at(500, 300, 1), kUp}));
  expect_no_sessions_left();
}

// @type app: app keywords and the base ones (assert), not the browser ones. Driver errors reach
// the case unchanged; the fake driver has no activities and no emulator console.
TEST_F(AppRun, AppObjectsRefuseBrowserKeywordsAndDriverErrorsFailTheirCase) {
  const auto app_case = [](std::vector<List> steps) {
    steps.insert(steps.begin(), {R(nullptr, nullptr, "@type", "app"), R(nullptr, nullptr, "@fixtures", "browser"),
                                 K("set_driver", "browser")});
    return steps;
  };
  workbook("test_kinds.xlsx", {
      {"手势与断言", app_case({K("ac_new"), K("ac_touch_down", 10, 20), K("ac_touch_move", 10, 900), K("ac_ele_up"),
                               K("ac_perform"), K("press", "off;;ID"), K("assert", 1, "equal", 1)})},
      {"浏览器关键字", app_case({K("click", "login;;ID")})},
      {"启动Activity", app_case({K("activity", ".MainActivity", "com.example")})},
      {"摇一摇", app_case({K("shake")})},
      {"找不到元素", app_case({K("ac_new"), K("ac_new_click", "nowhere;;ID"), K("ac_perform")})},
      {"没有的上下文", app_case({K("context", "WEBVIEW_9")})},
  });
  Finished f = tovik({"-v", "test_kinds.xlsx", "--alluredir", "res"});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "5 failed, 1 passed in "));
  // the failed step shows the app as the server saw it: its UI hierarchy as XML
  bool seen = false;
  for (const fs::path& p : files_matching(root_ / "res", "-result.json")) {
    const json r = json::parse(read_file(p));
    if (r["name"] != "找不到元素") continue;
    for (const auto& a : r["steps"].back()["attachments"]) {
      if (a["name"] != "界面源码") continue;
      seen = true;
      EXPECT_EQ(a["type"], "text/xml");
      EXPECT_TRUE(Has(read_file(root_ / "res" / a["source"].get<std::string>()), "<")) << a.dump();
    }
  }
  EXPECT_TRUE(seen) << f.all();
  EXPECT_TRUE(Has(f.out, "test_kinds.xlsx::手势与断言 PASSED"));
  EXPECT_TRUE(Has(failure_of(f.out, "test_kinds.xlsx::浏览器关键字"), "AttributeError: 不存在的关键字：click"));
  EXPECT_TRUE(Has(failure_of(f.out, "test_kinds.xlsx::启动Activity"), "mobile: startActivity"));
  EXPECT_TRUE(Has(failure_of(f.out, "test_kinds.xlsx::摇一摇"), "mobile:execEmuConsoleCommand"));
  EXPECT_TRUE(Has(f.out, "第0次摇晃"));
  EXPECT_TRUE(Lacks(f.out, "第1次摇晃"));
  EXPECT_TRUE(Has(failure_of(f.out, "test_kinds.xlsx::找不到元素"), "元素定位失败：等待超时"));
  EXPECT_TRUE(Has(failure_of(f.out, "test_kinds.xlsx::没有的上下文"), "WebDriverException: unknown error: No such context found."));

  // the chain of the passing case: down, move and the release of ac_ele_up on the default pointer
  const auto actions = proxy_->actions();
  ASSERT_GE(actions.size(), 2u) << json(actions).dump(1);
  const json& chain = actions[0];
  ASSERT_EQ(chain.size(), 1u) << chain.dump(1);
  EXPECT_EQ(chain[0]["id"], "mouse");
  EXPECT_EQ(chain[0]["actions"], json::array({at(10, 20, 250), kDown, at(10, 900, 250), kUp}));
  expect_no_sessions_left();
}

}  // namespace
