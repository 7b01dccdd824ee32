#include "core/base_keyword.hpp"

#include <sstream>

#include <gtest/gtest.h>

#include "outside/allure/step.hpp"
#include "outside/webdriver/fake_driver.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

namespace {

// A small keyword family: Clicker adds two keywords, Deeper derives from it and adds one more.
class Clicker : public virtual BaseKeyWord {
 public:
  using BaseKeyWord::BaseKeyWord;
  static const KeywordClass& keyword_class() {
    static const KeywordClass cls("Clicker", {&BaseKeyWord::keyword_class()},
                                  {keyword<Clicker>("click", &Clicker::key_click, "\n        关键字：click\n        点击\n\n        :param locator: 定位\n        ",
                                                    "点击", {required("locator", ParamKind::Text)}),
                                   keyword<Clicker>("Zoom", &Clicker::key_zoom, nullptr, "",
                                                    {required("factor", ParamKind::Number),
                                                     optional("times", ParamKind::Integer, Value(1))})});
    return cls;
  }
  const KeywordClass& klass() const override { return keyword_class(); }
  Value key_click(const Args& a) {
    calls.push_back(a.text("locator"));
    return Value("clicked " + a.text("locator"));
  }
  Value key_zoom(const Args& a) {
    last_factor = a["factor"];
    last_times = a["times"];
    return Value();
  }
  std::vector<std::string> calls;
  Value last_factor, last_times;
};

class Deeper : public Clicker {
 public:
  using Clicker::Clicker;
  static const KeywordClass& keyword_class() {
    static const KeywordClass cls("Deeper", {&Clicker::keyword_class()},
                                  {keyword<Deeper>("boom", &Deeper::key_boom, "\n        关键字：boom\n        失败\n        ", "", {})});
    return cls;
  }
  const KeywordClass& klass() const override { return keyword_class(); }
  Value key_boom(const Args&) { throw ValueError("boom failed"); }
};

struct Captured {
  Captured() {
    sink->set_pattern("%v");
    log::add_sink(sink);
  }
  ~Captured() { log::remove_sink(sink); }
  std::shared_ptr<log::CaptureSink> sink = std::make_shared<log::CaptureSink>();
};

std::shared_ptr<Exchange> exchange() { return std::make_shared<Exchange>("/nonexistent-dir/vars.yaml"); }

}  // namespace

TEST(Dispatch, LogsCallsAndForwardsToTheKeyword) {
  Deeper kw(exchange(), Value(Dict{}));
  (void)kw.all_keyword();  // the list's own log line is not part of this test
  Captured cap;
  Value result = kw.member("_key_click")({Value("a")});
  EXPECT_EQ(result, Value("clicked a"));
  EXPECT_EQ(cap.sink->messages(), (std::vector<std::string>{"正在执行关键字: 【click】('a',)", "关键字执行完毕 "}));
  // text before the first marker is ignored; with two markers the name lies between them
  cap.sink->clear();
  kw.member("x_key_click_key_rest")({Value("b"), Value(2), Value()});
  EXPECT_EQ(cap.sink->messages().front(), "正在执行关键字: 【click】('b', 2, None)");
  EXPECT_EQ(kw.calls, (std::vector<std::string>{"a", "b"}));  // extra arguments ignored
  // the method itself: no log lines
  cap.sink->clear();
  kw.member("key_click")({Value("c")});
  EXPECT_TRUE(cap.sink->messages().empty());
}

TEST(Dispatch, FailuresAndTheirMessages) {
  Deeper kw(exchange(), Value(Dict{}));
  const auto message = [&](std::string_view name) {
    try {
      kw.member(name);
    } catch (const AttributeError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("click"), "不存在的关键字成员：click");
  EXPECT_EQ(message("key_nothing"), "不存在的关键字成员：key_nothing");
  EXPECT_EQ(message("_key_nothing"), "不存在的关键字：nothing");
  EXPECT_EQ(message("_key_"), "不存在的关键字：");
  EXPECT_FALSE(kw.has_member("click"));
  EXPECT_FALSE(kw.has_member("_key_nothing"));
  EXPECT_TRUE(kw.has_member("_key_click"));
  EXPECT_TRUE(kw.has_member("key_assert"));

  Captured cap;
  // a failing keyword: the error passes unchanged, no completion line
  EXPECT_THROW(kw.member("_key_boom")({}), ValueError);
  EXPECT_EQ(cap.sink->messages(), (std::vector<std::string>{"正在执行关键字: 【boom】()"}));
  // named arguments to the dispatch form: TypeError before anything is logged
  cap.sink->clear();
  EXPECT_THROW(kw.member("_key_click")({}, Dict{{"locator", Value("a")}}), TypeError);
  EXPECT_TRUE(cap.sink->messages().empty());
  // ...while the method itself binds them by name
  EXPECT_EQ(kw.member("key_click")({}, Dict{{"locator", Value("n")}}), Value("clicked n"));
}

TEST(Dispatch, DeclaredKindsAreCheckedAndNumbersBecomeFloats) {
  Clicker kw(exchange(), Value(Dict{}));
  kw.member("_key_Zoom")({Value(2)});
  EXPECT_TRUE(kw.last_factor.is_float());
  EXPECT_EQ(kw.last_times, Value(1));
  kw.member("_key_Zoom")({Value(1.5), Value(3.0)});
  EXPECT_TRUE(kw.last_times.is_int());
  const auto type_error = [&](const std::string& name, List args) {
    try {
      kw.member(name)(args);
    } catch (const TypeError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(type_error("_key_click", {Value(5)}).find("locator"), std::string::npos);
  EXPECT_NE(type_error("_key_Zoom", {Value("2")}).find("factor"), std::string::npos);
  EXPECT_NE(type_error("_key_Zoom", {Value(true)}).find("factor"), std::string::npos);
  EXPECT_NE(type_error("_key_Zoom", {Value(1), Value(1.5)}).find("times"), std::string::npos);
  EXPECT_NE(type_error("_key_click", {}).find("缺少必需的参数 locator"), std::string::npos);
  EXPECT_NE(type_error("_key_assert", {Value(1), Value(2)}).find("assert_name"), std::string::npos);
}

TEST(KeywordList, PerClassSortedByCodeWithInheritedKeywords) {
  EXPECT_EQ(Deeper::keyword_class().all_keyword(),
            (std::vector<std::string>{"Zoom", "assert", "boom", "click", "set_driver"}));
  EXPECT_EQ(Clicker::keyword_class().all_keyword(), (std::vector<std::string>{"Zoom", "assert", "click", "set_driver"}));
  EXPECT_EQ(BaseKeyWord::keyword_class().all_keyword(), (std::vector<std::string>{"assert", "set_driver"}));
  // computed once: the same list object every time
  EXPECT_EQ(&Deeper::keyword_class().all_keyword(), &Deeper::keyword_class().all_keyword());
}

TEST(KeywordList, ComputedOnceAndLogged) {
  static const KeywordClass fresh("Fresh", {&BaseKeyWord::keyword_class()}, {});
  Captured cap;
  fresh.all_keyword();
  fresh.all_keyword();
  EXPECT_EQ(cap.sink->messages(), (std::vector<std::string>{"可用关键字: ('assert', 'set_driver')"}));
}

TEST(KeywordDocs, PrintsEveryKeywordAndReportsMissingTexts) {
  std::ostringstream out;
  Deeper::keyword_class().print_key_doc(out);
  EXPECT_EQ(out.str(),
            "关键字及其参数\n"
            "====================\n"
            "读取关键字文档出错： Zoom\n"
            "关键字 assert\n        进行断言\n\n        :param value: 预期结果\n        :param assert_name: 断言表达式\n"
            "        :param actual_value: 实际结果\n"
            "--------------------\n"
            "关键字：boom\n        失败\n"
            "--------------------\n"
            "关键字：click\n        点击\n\n        :param locator: 定位\n"
            "--------------------\n"
            "关键字：set_driver\n        从fixtures请求浏览器\n"
            "--------------------\n");
}

TEST(BaseKeyWord, ConstructorWantsAMappingAndSetVarsStores) {
  try {
    BaseKeyWord bad(exchange(), Value::list({}));
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_NE(std::string(e.what()).find("usefixtures"), std::string::npos);
  }
  auto ex = exchange();
  BaseKeyWord kw(ex, Value(Dict{}));
  kw.set_vars("token", Value("abc"));
  kw.set_vars("token", Value(2));
  EXPECT_EQ(*ex->file.find("token"), Value(2));
}

TEST(SetDriver, TakesTheFixtureMaximizesBrowsersAndCreatesTheWait) {
  auto browser = std::make_shared<webdriver::FakeDriver>();
  browser->caps = Dict{{"browserName", Value("chrome")}};
  browser->on_maximize = [] { throw WebDriverException("cannot maximize headless"); };
  auto app = std::make_shared<webdriver::FakeDriver>();
  app->caps = Dict{{"platformName", Value("android")}};
  Dict fixtures{{"browser", Value(std::shared_ptr<Object>(browser))}, {"app", Value(std::shared_ptr<Object>(app))},
                {"text", Value("not a driver")}};
  BaseKeyWord kw(exchange(), Value(fixtures));
  Captured cap;
  kw.member("_key_set_driver")({Value("browser")});
  EXPECT_EQ(kw.driver, browser);
  EXPECT_EQ(browser->calls, (std::vector<std::string>{"maximize_window"}));
  EXPECT_NE(std::find(cap.sink->messages().begin(), cap.sink->messages().end(), "最大化失败"), cap.sink->messages().end());
  ASSERT_TRUE(kw.wait.has_value());
  EXPECT_DOUBLE_EQ(kw.wait->timeout(), 10);
  EXPECT_DOUBLE_EQ(kw.wait->poll_frequency(), 0.5);

  kw.member("_key_set_driver")({Value("app")});
  EXPECT_TRUE(app->calls.empty());  // apps are not maximized
  EXPECT_EQ(kw.wait->driver(), app);

  EXPECT_THROW(kw.member("_key_set_driver")({Value("missing")}), KeyError);
  try {
    kw.member("_key_set_driver")({Value("text")});
    FAIL();
  } catch (const AssertionError& e) {
    EXPECT_STREQ(e.what(), "");
  }
}

TEST(ReportSteps, KeywordsRunInsideTheirStepWithParameters) {
  allure::TestResult result;
  {
    allure::ScopedTest scope(result);
    Clicker kw(exchange(), Value(Dict{}));
    kw.member("_key_click")({Value("#go")});
    EXPECT_THROW(kw.member("_key_assert")({Value(1), Value("equal"), Value(2)}), AssertionError);
  }
  ASSERT_EQ(result.steps.size(), 2u);
  EXPECT_EQ(result.steps[0].name, "点击");
  EXPECT_EQ(result.steps[0].status, allure::Status::Passed);
  ASSERT_EQ(result.steps[0].parameters.size(), 1u);
  EXPECT_EQ(result.steps[0].parameters[0].value, "'#go'");
  EXPECT_EQ(result.steps[1].name, "执行断言");
  EXPECT_EQ(result.steps[1].status, allure::Status::Failed);
}

}  // namespace tovik
