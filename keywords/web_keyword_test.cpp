#include "keywords/web_keyword.hpp"

#include <sstream>

#include <gtest/gtest.h>

#include "keywords/key_word.hpp"
#include "outside/webdriver/actions.hpp"
#include "outside/webdriver/fake_driver.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

using webdriver::FakeAlert;
using webdriver::FakeDriver;
using webdriver::FakeElement;

namespace {

struct Web : ::testing::Test {
  Web() : kw(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{})) {
    (void)kw.all_keyword();
    driver->caps = Dict{{"browserName", Value("chrome")}};
    kw.driver = driver;
    kw.wait.emplace(driver, 0.05, 0.01);
    button->tag = "button";
    driver->elements["//button"] = {button};
    sink->set_pattern("%v");
    log::add_sink(sink);
  }
  ~Web() override { log::remove_sink(sink); }
  Value call(const std::string& name, List args) { return kw.member("_key_" + name)(args); }
  bool logged(const std::string& line) const {
    const auto m = sink->messages();
    return std::find(m.begin(), m.end(), line) != m.end();
  }
  // Calls on the driver other than the lookups, the lookup's script and the interactivity script.
  std::vector<std::string> actions() const {
    std::vector<std::string> out;
    for (const auto& c : driver->calls)
      if (c.rfind("find_", 0) != 0 && c.find("setAttribute('style'") == std::string::npos &&
          c.find("tovikReady(") == std::string::npos)
        out.push_back(c);
    return out;
  }
  std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
  std::shared_ptr<FakeElement> button = std::make_shared<FakeElement>("btn-1", "提交");
  WebKeyWord kw;
  std::shared_ptr<log::CaptureSink> sink = std::make_shared<log::CaptureSink>();
};

}  // namespace

TEST_F(Web, ClickWaitsForInteractivityThenClicksNativelyOrByScript) {
  call("click", {Value("//button")});
  EXPECT_EQ(button->calls, (std::vector<std::string>{"click"}));
  EXPECT_TRUE(logged("元素就绪，准备点击... ele.id='btn-1'"));
  EXPECT_TRUE(actions().empty());

  button->calls.clear();
  call("click", {Value("//button"), Value(true)});
  EXPECT_TRUE(button->calls.empty());
  EXPECT_EQ(actions(), (std::vector<std::string>{"script:return arguments[0].click()"}));

  // never interactive: the wait times out even when forced, and no click script runs
  driver->calls.clear();
  button->enabled = false;
  EXPECT_THROW(call("click", {Value("//button"), Value(true)}), TimeoutException);
  EXPECT_TRUE(actions().empty());
}

TEST_F(Web, InputClearsUnlessToldAndTypesTheContent) {
  call("input", {Value("//button"), Value("张三")});
  EXPECT_EQ(button->calls, (std::vector<std::string>{"clear", "send_keys:张三"}));
  button->calls.clear();
  call("input", {Value("//button"), Value(123), Value(false)});
  EXPECT_EQ(button->calls, (std::vector<std::string>{"send_keys:123"}));
  EXPECT_TRUE(logged("元素就绪，准备输入... ele.id='btn-1'"));
}

TEST_F(Web, ChosenFindsOptionsWhoseTextHoldsQuotes) {
  auto option = std::make_shared<FakeElement>("opt", "it's \"ok\"");
  option->tag = "li";
  button->children["./div/ul/li[text()=concat('it', \"'\", 's \"ok\"')]"] = {option};
  call("chosen", {Value("//button"), Value("it's \"ok\"")});
  EXPECT_EQ(button->calls, (std::vector<std::string>{"click", "find_element:xpath:./div/ul/li[text()=concat('it', \"'\", 's \"ok\"')]"}));
  EXPECT_EQ(option->calls, (std::vector<std::string>{"click"}));
  EXPECT_TRUE(logged("加载选项..."));
  EXPECT_TRUE(logged("选中选项： [li: it's \"ok\"]"));
  EXPECT_TRUE(logged("点击选项"));
  EXPECT_THROW(call("chosen", {Value("//button"), Value("missing")}), TimeoutException);
  EXPECT_EQ(xpath_literal("plain"), "'plain'");
  EXPECT_EQ(xpath_literal("it's"), "\"it's\"");
  EXPECT_EQ(xpath_literal("'"), "\"'\"");
  EXPECT_EQ(xpath_literal("'a\"'"), "concat(\"'\", 'a\"', \"'\")");
}

TEST_F(Web, SleepShellShowAndMove) {
  call("sleep", {Value("0.01")});
  call("sleep", {Value(0)});
  EXPECT_THROW(call("sleep", {Value("soon")}), ValueError);
  EXPECT_THROW(call("sleep", {Value::list({})}), TypeError);
  // neither a negative time nor hexadecimal is taken: "0x10" would have slept 16 s
  EXPECT_THROW(call("sleep", {Value(-1)}), ValueError);
  EXPECT_THROW(call("sleep", {Value("-0.5")}), ValueError);
  EXPECT_THROW(call("sleep", {Value("0x10")}), ValueError);

  driver->on_script = [](const std::string&, const List& args) { return args.empty() ? Value() : args[0]; };
  EXPECT_EQ(call("shell", {Value("return arguments[0]"), Value("[1, 2]")}), Value::list({Value(1), Value(2)}));
  EXPECT_EQ(driver->script_args.back().size(), 1u);  // the array is one argument
  EXPECT_TRUE(logged("命令执行结果:res=[1, 2]"));
  EXPECT_THROW(call("shell", {Value("x"), Value("{bad")}), JsonDecodeError);

  call("show", {Value("//button")});
  EXPECT_EQ(actions().back(), "script:arguments[0].scrollIntoView(true)");

  button->box = {10, 20, 30, 40};
  call("move", {Value("//button")});
  ASSERT_EQ(driver->performed.size(), 1u);
  const Json& mouse = driver->performed[0]["actions"][0];
  EXPECT_EQ(mouse["actions"][0]["origin"][webdriver::kElementKey], "btn-1");
  EXPECT_EQ(mouse["actions"][0]["x"], 0);
  EXPECT_TRUE(logged("鼠标悬停: locator='//button', x=0, y=0"));
  EXPECT_TRUE(logged("鼠标悬停完成: elm.rect={'x': 10, 'y': 20, 'width': 30, 'height': 40}, x=0, y=0"));
}

TEST_F(Web, FramesOnlyIntoIframes) {
  auto frame = std::make_shared<FakeElement>("f1");
  frame->tag = "iframe";
  driver->elements["//iframe"] = {frame};
  driver->elements["//frame"] = {button};
  call("frame_enter", {Value("//iframe")});
  EXPECT_THROW(call("frame_enter", {Value("//frame")}), AssertionError);
  call("frame_exit", {});
  call("frame_top", {});
  EXPECT_EQ(actions(), (std::vector<std::string>{"frame:f1", "parent_frame", "default_content"}));
  EXPECT_TRUE(logged("进入frame locator='//iframe'"));
  EXPECT_TRUE(logged("返回上一层frame"));
  EXPECT_TRUE(logged("返回顶层frame"));
}

TEST_F(Web, AlertsAreAwaitedAnsweredAndRead) {
  EXPECT_EQ(WebKeyWord::_wait_alert(*driver), nullptr);
  auto alert = std::make_shared<FakeAlert>("确定删除?");
  driver->alert = alert;
  driver->alert_after = 2;  // opens on the third poll
  driver->alert_polls = 0;
  call("save_text", {Value("ALERT"), Value("msg")});
  EXPECT_EQ(*kw.exchanger->file.find("msg"), Value("确定删除?"));
  EXPECT_TRUE(alert->calls.empty());  // reading leaves the alert open
  call("alert_ok", {Value("")});
  call("alert_ok", {Value("名字")});
  call("alert_cancel", {});
  EXPECT_EQ(alert->calls, (std::vector<std::string>{"accept", "send_keys:名字", "accept", "dismiss"}));
  EXPECT_TRUE(logged("为alert点击[确定]"));
  EXPECT_TRUE(logged("为alert点击[取消]"));
  driver->alert = nullptr;
  EXPECT_THROW(call("alert_ok", {}), TimeoutException);
}

TEST_F(Web, SavedValues) {
  call("save", {Value("a"), Value(123)});
  EXPECT_TRUE(logged("保存变量: 【a】 = 123"));
  EXPECT_EQ(*kw.exchanger->file.find("a"), Value(123));
  call("save_text", {Value("//button"), Value("label")});
  EXPECT_EQ(*kw.exchanger->file.find("label"), Value("提交"));
  button->attributes["href"] = "/next";
  call("save_attr", {Value("//button"), Value("link"), Value("href")});
  EXPECT_EQ(*kw.exchanger->file.find("link"), Value("/next"));
  call("save_attr", {Value("//button"), Value("nothing"), Value("data-x")});
  EXPECT_TRUE(kw.exchanger->file.find("nothing")->is_none());
  call("save_title", {Value("t")});
  call("save_url", {Value("u")});
  EXPECT_EQ(*kw.exchanger->file.find("t"), Value("fake"));
  EXPECT_EQ(*kw.exchanger->file.find("u"), Value("about:blank"));
  // an empty text with allow_empty false keeps waiting, then fails without saving
  auto empty = std::make_shared<FakeElement>("e", "");
  driver->elements["//empty"] = {empty};
  call("save_text", {Value("//empty"), Value("blank")});
  EXPECT_EQ(*kw.exchanger->file.find("blank"), Value(""));
  EXPECT_THROW(call("save_text", {Value("//empty"), Value("never"), Value(false)}), TimeoutException);
  EXPECT_EQ(kw.exchanger->file.find("never"), nullptr);
  EXPECT_THROW(call("save_text", {Value(5), Value("x")}), TypeError);
}

TEST_F(Web, TouchStoresTheElementForRelativeLookups) {
  auto inner = std::make_shared<FakeElement>("inner");
  button->children["./span"] = {inner};
  call("touch", {Value("//button")});
  EXPECT_EQ(kw._activate_ele, button);
  call("click", {Value("./span")});
  EXPECT_EQ(inner->calls, (std::vector<std::string>{"click"}));
  EXPECT_THROW(call("goto", {Value(1)}), TypeError);
  call("goto", {Value("http://127.0.0.1/x")});
  EXPECT_EQ(actions().back(), "get:http://127.0.0.1/x");
}

TEST(WebDocs, KeywordListAndTheShowText) {
  const auto& names = WebKeyWord::keyword_class().all_keyword();
  for (const char* k : {"alert_cancel", "alert_ok", "chosen", "click", "debugger", "frame_enter", "frame_exit", "frame_top",
                        "goto", "input", "move", "new_driver", "save", "save_attr", "save_text", "save_title", "save_url",
                        "shell", "show", "sleep", "touch", "assert", "set_driver"})
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), std::string(k))) << k;
  EXPECT_EQ(names.size(), 23u);
  std::ostringstream out;
  WebKeyWord::keyword_class().print_key_doc(out);
  const std::string doc = out.str();
  EXPECT_NE(doc.find("关键字: chosen\n        适用于jquery-chosen的下拉选择\n"), std::string::npos);
  EXPECT_NE(doc.find("        :param locator: 定位器字符串，格式:\"value, by, index\"\n           其中：\n"), std::string::npos);
  EXPECT_NE(doc.find("\"//p[text() =='x,y,x']\"， 需要为逗号进行转义 : //p[text() =='x\\,y\\,x']\n--------------------"),
            std::string::npos);
  EXPECT_NE(doc.find("关键字：goto\n        跳转到指定页面\n        :param url: 指定页面的url\n--------------------"),
            std::string::npos);
  // the union class knows the browser keywords too
  EXPECT_TRUE(KeyWord::keyword_class().has_keyword("click"));
}

}  // namespace tovik
