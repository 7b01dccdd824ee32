// The W3C client against a local recording endpoint: what goes on the wire and how answers and
// failures come back.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "outside/webdriver/actions.hpp"
#include "outside/webdriver/process.hpp"
#include "outside/webdriver/w3c_driver.hpp"
#include "outside/webdriver/w3c_test_endpoint.hpp"
#include "support/base/base64.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik::webdriver {
namespace {

using ::testing::HasSubstr;
using w3c_testing::RecordingEndpoint;

Json ref(const std::string& id) { return Json{{kElementKey, id}}; }

std::optional<std::pair<int, Json>> ok(const Json& value) { return std::pair<int, Json>{200, Json{{"value", value}}}; }

std::pair<int, Json> w3c_error(int status, const std::string& code, const std::string& message) {
  return {status, Json{{"value", {{"error", code}, {"message", message}, {"stacktrace", "#0 0x55d"}}}}};
}

class WireTest : public ::testing::Test {
 protected:
  RecordingEndpoint endpoint;
  std::shared_ptr<W3CDriver> driver = W3CDriver::connect(endpoint.url(), Json{{"browserName", "chrome"}});
};

TEST(W3CSessionWire, NewSessionSendsAlwaysMatchAndKeepsWhatTheServerGranted) {
  RecordingEndpoint endpoint(Json{{"browserName", "chrome"}, {"browserVersion", "120"}});
  int cleanups = 0;
  auto driver = W3CDriver::connect(endpoint.url(), Json{{"browserName", "chrome"}, {"acceptInsecureCerts", true}},
                                   [&] { ++cleanups; });
  auto first = endpoint.requests().at(0);
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.path, "/session");
  EXPECT_EQ(first.body, (Json{{"capabilities", {{"alwaysMatch", {{"browserName", "chrome"}, {"acceptInsecureCerts", true}}}}}}));
  EXPECT_EQ(driver->capabilities().at("browserVersion"), Value("120"));
  EXPECT_EQ(driver->session()->id(), "s-1");
  EXPECT_FALSE(driver->session()->is_appium());

  driver->quit();
  EXPECT_EQ(endpoint.last().method, "DELETE");
  EXPECT_EQ(endpoint.last().path, "/session/s-1");
  EXPECT_EQ(cleanups, 1);
  driver->quit();  // nothing more happens
  EXPECT_EQ(cleanups, 1);
  auto count = endpoint.requests().size();
  try {
    driver->title();
    FAIL() << "a command after quit must fail";
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("has ended"));
  }
  EXPECT_EQ(endpoint.requests().size(), count);
}

TEST(W3CSessionWire, AppiumSessionsAreToldApartFromBrowserSessions) {
  for (const Json& caps : {Json{{"platformName", "Android"}}, Json{{"platformName", "iOS"}},
                           Json{{"appium:automationName", "UiAutomator2"}}, Json{{"automationName", "XCUITest"}}}) {
    EXPECT_TRUE(is_appium_capabilities(caps)) << caps;
  }
  for (const Json& caps : {Json{{"platformName", "Android"}, {"browserName", "Chrome"}}, Json{{"platformName", "linux"}}, Json::object()}) {
    EXPECT_FALSE(is_appium_capabilities(caps)) << caps;
  }
}

TEST_F(WireTest, ExecuteScriptSendsElementsAsReferencesAtAnyDepth) {
  auto a = std::make_shared<W3CElement>(driver->session(), "e-1");
  auto b = std::make_shared<W3CElement>(driver->session(), "e-2");
  Dict d{{"el", Value(std::static_pointer_cast<Object>(b))}, {"n", 3}};
  driver->execute_script("return 1", List{Value(std::static_pointer_cast<Object>(a)), Value(List{Value(d), "x"}), Value()});
  auto r = endpoint.last();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/session/s-1/execute/sync");
  EXPECT_EQ(r.body, (Json{{"script", "return 1"}, {"args", Json::array({ref("e-1"), Json::array({Json{{"el", ref("e-2")}, {"n", 3}}, "x"}), nullptr})}}));

  struct NotAnElement : Object {
    std::string type_name() const override { return "Thing"; }
  };
  try {
    driver->execute_script("return 1", List{Value(std::static_pointer_cast<Object>(std::make_shared<NotAnElement>()))});
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Thing"));
  }
}

TEST_F(WireTest, ExecuteScriptTurnsReturnedReferencesIntoElementsOfTheSession) {
  endpoint.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path == "/session/s-1/execute/sync") {
      return ok({{"one", ref("e-7")}, {"many", Json::array({ref("e-8"), 5})}, {"plain", {{"k", "v"}}}});
    }
    if (r.path == "/session/s-1/element/e-7/text") return ok("seven");
    return std::nullopt;
  });
  Value v = driver->execute_script("return x", {});
  ASSERT_TRUE(v.is_dict());
  auto one = v.as_dict().at("one").object_as<Element>();
  ASSERT_TRUE(one);
  EXPECT_EQ(one->id(), "e-7");
  EXPECT_EQ(one->text(), "seven");
  const auto& many = v.as_dict().at("many").as_list();
  ASSERT_EQ(many.size(), 2u);
  EXPECT_EQ(many[0].object_as<Element>()->id(), "e-8");
  EXPECT_EQ(many[1], Value(5));
  EXPECT_EQ(v.as_dict().at("plain").as_dict().at("k"), Value("v"));
}

TEST_F(WireTest, BrowserSessionsGetCssSelectorsForIdNameAndClassName) {
  endpoint.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.ends_with("/elements")) return ok(Json::array({ref("e-1"), ref("e-2")}));
    if (r.path.ends_with("/element")) return ok(ref("e-1"));
    return std::nullopt;
  });
  auto body = [&](const std::string& by, const std::string& value) {
    driver->find_element(by, value);
    return endpoint.last().body;
  };
  EXPECT_EQ(body("id", "user"), (Json{{"using", "css selector"}, {"value", "#user"}}));
  EXPECT_EQ(body("id", "a.b:c"), (Json{{"using", "css selector"}, {"value", "#a\\.b\\:c"}}));
  EXPECT_EQ(body("name", "q\"x"), (Json{{"using", "css selector"}, {"value", "[name=\"q\\\"x\"]"}}));
  EXPECT_EQ(body("class name", "btn"), (Json{{"using", "css selector"}, {"value", ".btn"}}));
  EXPECT_EQ(body("xpath", "//a"), (Json{{"using", "xpath"}, {"value", "//a"}}));
  EXPECT_EQ(body("tag name", "a"), (Json{{"using", "tag name"}, {"value", "a"}}));
  EXPECT_EQ(body("css selector", "#x > p"), (Json{{"using", "css selector"}, {"value", "#x > p"}}));

  auto found = driver->find_elements("class name", "row");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1]->id(), "e-2");
  EXPECT_EQ(endpoint.last().path, "/session/s-1/elements");

  auto child = found[0]->find_element("id", "inner");
  EXPECT_EQ(endpoint.last().path, "/session/s-1/element/e-1/element");
  EXPECT_EQ(endpoint.last().body, (Json{{"using", "css selector"}, {"value", "#inner"}}));
  found[0]->find_elements("name", "n");
  EXPECT_EQ(endpoint.last().path, "/session/s-1/element/e-1/elements");

  EXPECT_THROW(driver->find_element("id", ""), ValueError);
  EXPECT_THROW(driver->find_element("", "x"), ValueError);
}

TEST(W3CLocators, AppiumSessionsTakeStrategiesAsTheyAre) {
  RecordingEndpoint endpoint(Json{{"platformName", "Android"}, {"automationName", "UiAutomator2"}});
  endpoint.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.ends_with("/element")) return ok(ref("n-1"));
    return std::nullopt;
  });
  auto driver = W3CDriver::connect(endpoint.url(), Json{{"platformName", "Android"}});
  EXPECT_TRUE(driver->session()->is_appium());
  for (const char* by : {"id", "name", "class name", "accessibility id"}) {
    driver->find_element(by, "com.app:id/login");
    EXPECT_EQ(endpoint.last().body, (Json{{"using", by}, {"value", "com.app:id/login"}})) << by;
  }
}

TEST(W3CLocators, CssEscapingFollowsTheIdentifierRules) {
  EXPECT_EQ(css_escape("plain-name_1"), "plain-name_1");
  EXPECT_EQ(css_escape("1st"), "\\31 st");
  EXPECT_EQ(css_escape("-"), "\\-");
  EXPECT_EQ(css_escape("-2x"), "-\\32 x");
  EXPECT_EQ(css_escape("a b.c#d"), "a\\ b\\.c\\#d");
  EXPECT_EQ(css_escape("tab\there"), "tab\\9 here");
  EXPECT_EQ(css_escape("名前"), "名前");
  EXPECT_EQ(translate_locator("name", "a\\b\n", false).value, "[name=\"a\\\\b\\a \"]");
}

TEST_F(WireTest, OddAnswersAreWebDriverErrorsNotCrashes) {
  endpoint.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.ends_with("/rect")) return ok("wide");
    if (r.path.ends_with("/displayed")) return ok("yes");
    if (r.path.ends_with("/element")) return ok({{"id", 3}});
    return std::nullopt;
  });
  W3CElement el(driver->session(), "e-1");
  EXPECT_THROW(el.rect(), WebDriverException);
  EXPECT_THROW(el.is_displayed(), WebDriverException);
  EXPECT_THROW(driver->find_element("css selector", "p"), WebDriverException);
}

TEST_F(WireTest, GetAttributeIsOneScriptRoundTripInBrowsers) {
  endpoint.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.ends_with("/execute/sync")) {
      const auto name = r.body["args"][1].get<std::string>();
      return ok(name == "value" ? Json("typed") : Json(nullptr));
    }
    return std::nullopt;
  });
  W3CElement el(driver->session(), "e-1");
  auto before = endpoint.requests().size();
  EXPECT_EQ(el.get_attribute("value"), std::optional<std::string>("typed"));
  EXPECT_EQ(endpoint.requests().size(), before + 1);
  auto r = endpoint.last();
  EXPECT_EQ(r.path, "/session/s-1/execute/sync");
  EXPECT_EQ(r.body["args"], Json::array({ref("e-1"), "value"}));
  EXPECT_THAT(r.body["script"].get<std::string>(), HasSubstr("getAttribute"));
  EXPECT_EQ(el.get_attribute("data-missing"), std::nullopt);
}

// A failure's evidence: what the driver refuses is left out, what it answers too slowly is cut
// off at the limit, and only a driver that gives neither screenshot nor source is an error.
TEST_F(WireTest, FailureEvidenceTakesWhatTheDriverGivesWithinTheLimit) {
  const std::string png = "\x89PNG\r\n\x1a\nbytes";
  const std::pair<int, Json> refused{500, Json{{"value", {{"error", "unable to capture screen"}, {"message", "no"}}}}};
  endpoint.respond([=](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.ends_with("/screenshot")) return refused;
    if (r.path.ends_with("/source")) return ok("<html>page</html>");
    if (r.path.ends_with("/se/log")) return ok(Json::array({{{"level", "SEVERE"}, {"message", "boom"}}}));
    return std::nullopt;
  });
  Evidence e = driver->failure_evidence(2);
  EXPECT_TRUE(e.screenshot_png.empty());
  EXPECT_EQ(e.source, "<html>page</html>");
  EXPECT_EQ(e.console_log, "SEVERE boom\n");
  EXPECT_FALSE(e.app);

  endpoint.respond([=](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.ends_with("/screenshot")) return ok(base64_encode(png));
    if (r.path.ends_with("/source")) std::this_thread::sleep_for(std::chrono::seconds(2));
    return std::nullopt;
  });
  const auto started = std::chrono::steady_clock::now();
  e = driver->failure_evidence(0.3);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));  // not the 2 s
  EXPECT_EQ(e.screenshot_png, png);
  EXPECT_TRUE(e.source.empty());

  endpoint.respond([=](const w3c_testing::Recorded&) -> std::optional<std::pair<int, Json>> { return refused; });
  EXPECT_THROW(driver->failure_evidence(2), WebDriverException);
}

// A busy Grid holds a new session in its queue: the request may wait its own time, longer than a
// command's, and no longer.
TEST(W3CSessionWire, ANewSessionWaitsItsOwnTimeForAQueue) {
  RecordingEndpoint grid;
  grid.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.method == "POST" && r.path == "/session") std::this_thread::sleep_for(std::chrono::milliseconds(800));
    return std::nullopt;
  });
  auto driver = W3CDriver::connect(grid.url(), Json{{"browserName", "chrome"}}, {}, Timeouts{5, 0.3, 3});
  EXPECT_EQ(driver->session()->id(), "s-1");  // waited 0.8 s, more than a command may
  driver->quit();
  try {
    W3CDriver::connect(grid.url(), Json{{"browserName", "chrome"}}, {}, Timeouts{5, 120, 0.3});
    ADD_FAILURE() << "a new session past its wait was taken";
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("did not answer POST /session within 0.3"));
  }
}

TEST(W3CAppiumWire, AttributesDeviceCallsAndContexts) {
  RecordingEndpoint endpoint(Json{{"platformName", "Android"}});
  endpoint.respond([](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path == "/session/s-1/element/n-1/attribute/content-desc") return ok("Log in");
    if (r.path == "/session/s-1/execute/sync" && r.body["script"] == "mobile: getCurrentPackage") return ok("com.example");
    if (r.path == "/session/s-1/contexts") return ok({"NATIVE_APP", "WEBVIEW_1"});
    if (r.path == "/session/s-1/context" && r.method == "GET") return ok("NATIVE_APP");
    return std::nullopt;
  });
  auto driver = W3CDriver::connect(endpoint.url(), Json{{"platformName", "Android"}});
  W3CElement el(driver->session(), "n-1");
  EXPECT_EQ(el.get_attribute("content-desc"), std::optional<std::string>("Log in"));
  EXPECT_EQ(el.get_attribute("checked"), std::nullopt);
  EXPECT_EQ(endpoint.last().path, "/session/s-1/element/n-1/attribute/checked");

  EXPECT_EQ(driver->current_package(), "com.example");
  driver->start_activity("com.example", ".MainActivity");
  EXPECT_EQ(endpoint.last().path, "/session/s-1/execute/sync");
  EXPECT_EQ(endpoint.last().body, (Json{{"script", "mobile: startActivity"}, {"args", {{{"intent", "com.example/.MainActivity"}}}}}));
  EXPECT_EQ(driver->contexts(), (std::vector<std::string>{"NATIVE_APP", "WEBVIEW_1"}));
  EXPECT_EQ(driver->current_context(), "NATIVE_APP");
  driver->switch_to_context("WEBVIEW_1");
  EXPECT_EQ(endpoint.last().method, "POST");
  EXPECT_EQ(endpoint.last().path, "/session/s-1/context");
  EXPECT_EQ(endpoint.last().body, (Json{{"name", "WEBVIEW_1"}}));
}

TEST_F(WireTest, ActionsPayloadsAreForwardedAsBuilt) {
  auto button = std::make_shared<W3CElement>(driver->session(), "b-1");
  ActionChains chain(driver);
  chain.click(button);
  Json expected = chain.w3c_actions.encode();
  chain.perform();
  auto r = endpoint.last();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/session/s-1/actions");
  EXPECT_EQ(r.body, expected);
  EXPECT_EQ(r.body["actions"][0]["actions"][0]["origin"], ref("b-1"));

  driver->release_actions();
  EXPECT_EQ(endpoint.last().method, "DELETE");
  EXPECT_EQ(endpoint.last().path, "/session/s-1/actions");
  EXPECT_THROW(driver->perform_actions(Json::array()), ValueError);
  EXPECT_THROW(driver->perform_actions(Json{{"actions", 1}}), ValueError);
}

TEST_F(WireTest, ErrorCodesBecomeErrorKindsWithReadableMessages) {
  std::pair<int, Json> next;
  endpoint.respond([&](const w3c_testing::Recorded& r) -> std::optional<std::pair<int, Json>> {
    if (r.path.starts_with("/session/s-1/")) return next;
    return std::nullopt;
  });
  next = w3c_error(404, "no such element",
                   "no such element: Unable to locate element: {\"method\":\"css selector\",\"selector\":\"#x\"}\n"
                   "  (Session info: chrome=120.0)");
  try {
    driver->find_element("id", "x");
    FAIL();
  } catch (const NoSuchElementException& e) {
    EXPECT_STREQ(e.what(), "no such element: Unable to locate element: {\"method\":\"css selector\",\"selector\":\"#x\"}");
  }

  next = w3c_error(404, "stale element reference", "element is not attached to the page document");
  try {
    driver->find_element("css selector", "p");
    FAIL();
  } catch (const NoSuchElementException&) {
    FAIL() << "a stale element is not a missing one";
  } catch (const WebDriverException& e) {
    EXPECT_STREQ(e.what(), "stale element reference: element is not attached to the page document");
  }

  next = w3c_error(404, "no such alert", "");
  try {
    driver->switch_to_alert();
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_STREQ(e.what(), "no such alert");
  }

  next = w3c_error(500, "script timeout", "script timeout: result was not received in 30 seconds");
  EXPECT_THROW(driver->execute_script("return new Promise(() => {})", {}), TimeoutException);
  next = w3c_error(500, "timeout", "timeout: Timed out receiving message from renderer: 300.000");
  EXPECT_THROW(driver->get("http://slow.test/"), TimeoutException);

  for (const char* code : {"no such frame", "no such window", "invalid selector", "javascript error", "invalid session id",
                           "unknown error", "element not interactable", "element click intercepted", "unknown command"}) {
    next = w3c_error(400, code, "details here");
    try {
      driver->title();
      FAIL() << code;
    } catch (const NoSuchElementException&) {
      FAIL() << code;
    } catch (const WebDriverException& e) {
      EXPECT_EQ(std::string(e.what()), std::string(code) + ": details here");
    }
  }

  // An error object in a 200 answer is still an error.
  next = {200, Json{{"value", {{"error", "javascript error"}, {"message", "x is not defined"}}}}};
  EXPECT_THROW(driver->execute_script("return x", {}), WebDriverException);

  next = {502, Json("Bad Gateway")};
  try {
    driver->title();
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_THAT(e.what(), HasSubstr("HTTP 502"));
  }
}

TEST_F(WireTest, OneConnectionServesTheWholeSession) {
  for (int i = 0; i < 25; ++i) driver->title();
  driver->quit();
  EXPECT_EQ(endpoint.requests().size(), 27u);
  EXPECT_EQ(endpoint.connections().size(), 1u);
}

TEST(W3CWireErrors, AnEndpointThatRefusesIsNamedInTheError) {
  int port = free_local_port();  // nothing listens there
  std::string url = "http://127.0.0.1:" + std::to_string(port);
  try {
    W3CSession::create(url, Json{{"browserName", "chrome"}});
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_EQ(std::string(e.what()), "cannot reach WebDriver at " + url + ": Connection refused");
  }
}

// A socket that takes connections (the kernel does) but never answers.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  int fd() const { return fd_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(W3CWireErrors, ACommandWithoutAnswerEndsAtTheCommandTimeout) {
  SilentListener silent;
  try {
    W3CSession::create(silent.url(), Json{{"browserName", "chrome"}}, Timeouts{2, 0.3});
    FAIL();
  } catch (const WebDriverException& e) {
    EXPECT_EQ(std::string(e.what()), "WebDriver at " + silent.url() + " did not answer POST /session within 0.3 s");
  }
}

TEST_F(WireTest, DebuggerDoesNotWaitWithoutATerminal) {
  auto sink = std::make_shared<log::CaptureSink>();
  log::add_sink(sink);
  int saved = ::dup(0);
  int null_fd = ::open("/dev/null", O_RDONLY);
  ::dup2(null_fd, 0);
  driver->debugger();
  ::dup2(saved, 0);
  ::close(saved);
  ::close(null_fd);
  log::remove_sink(sink);
  EXPECT_THAT(sink->text(), HasSubstr("not a terminal"));
}

}  // namespace
}  // namespace tovik::webdriver
