#include "notify/sender.hpp"

#include <gmock/gmock.h>

#include "notify/test_support.hpp"
#include "support/base/errors.hpp"

namespace tovik::sender::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

TEST(SenderTexts, SummaryAndReportNotice) {
  EXPECT_EQ(summary_text(Dict{{"select", Value(3)}}),
            "【tovik自动化测试结果】\n\n用例总数: <font color=\"black\">0</font>\n"
            "本次运行数： <font color=\"black\">3</font>\n测试通过数： <font color=\"green\">0</font>\n"
            "测试失败数： <font color=\"orange\">0</font>\n测试出错数： <font color=\"red\">0</font>\n"
            "跳过用例数： <font color=\"grey\">0</font>\n测试耗时:    0\n完成时间： ");
  EXPECT_EQ(summary_text(Dict{{"date", Value("2024-05-01 10:00:00")}, {"tims", Value(12.5)}, {"skipped", Value(1)},
                              {"error", Value(2)}, {"failed", Value(3)}, {"passed", Value(4)}, {"select", Value(10)},
                              {"total", Value(12)}}),
            "【tovik自动化测试结果】\n\n用例总数: <font color=\"black\">12</font>\n"
            "本次运行数： <font color=\"black\">10</font>\n测试通过数： <font color=\"green\">4</font>\n"
            "测试失败数： <font color=\"orange\">3</font>\n测试出错数： <font color=\"red\">2</font>\n"
            "跳过用例数： <font color=\"grey\">1</font>\n测试耗时:    12.5\n完成时间： 2024-05-01 10:00:00");
  EXPECT_EQ(report_text(Value("http://reports.tovik.test/42/")),
            "【tovik自动化测试报告】\n\n        在线报告已生成，请[点击这里](http://reports.tovik.test/42/)查看");
}

using Sender = NoticeTest;

TEST_F(Sender, NothingRunPrintsTheLineAndQueuesNothing) {
  Robot robot;
  configure({{"qywx_url", robot.url("?key=k")}});
  ::testing::internal::CaptureStdout();
  send_result(Value(Dict{}));
  send_result(Value(Dict{{"select", Value(0)}, {"passed", Value(5)}, {"total", Value(5)}}));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "本次执行用例数为0，暂不发送通知\n本次执行用例数为0，暂不发送通知\n");
  sender::wait_idle();
  EXPECT_TRUE(robot.hits().empty());
  EXPECT_TRUE(warnings().empty());

  EXPECT_THROW(send_result(Value("select=3")), TypeError);
  EXPECT_THROW(send_result(Value(List{Value(3)})), TypeError);
  EXPECT_THROW(send_result(Value(Dict{{"select", Value("3")}})), TypeError);
}

TEST_F(Sender, TheThreeChannelsRunSideBySide) {
  Certificates certs;
  SmtpServer smtp(SmtpServer::Mode::Plain, certs);
  Robot wecom(200, 1500ms), ding(200, 1500ms);
  configure({{"qywx_url", wecom.url("?key=k")}, {"dingding_url", ding.url("?access_token=t")}, {"dingding_secret", "s"},
             {"email_server", "127.0.0.1"}, {"email_port", std::to_string(smtp.port())},
             {"email_account", SmtpServer::kAccount}, {"email_password", SmtpServer::kPassword},
             {"email_to", "slow@tovik.test"}, {"email_encryption", "plain"}});

  const auto started = std::chrono::steady_clock::now();
  send_result(Value(Dict{{"select", Value(3)}, {"passed", Value(3)}}));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);  // queued, not sent
  sender::wait_idle();
  // one after the other they would take 4.5 s
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3000ms);

  const std::string summary = summary_text(Dict{{"select", Value(3)}, {"passed", Value(3)}});
  ASSERT_EQ(wecom.hits().size(), 1u);
  EXPECT_EQ(wecom.hits()[0].body["markdown"]["content"], summary);
  ASSERT_EQ(ding.hits().size(), 1u);
  EXPECT_THAT(ding.hits()[0].body["markdown"]["text"].get<std::string>(), HasSubstr("测试通过数： <font color=\"green\">3</font>\n\n"));
  const auto events = smtp.events_until("closed");
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[1]["body"], summary);
  EXPECT_TRUE(warnings().empty()) << log_text();
}

TEST_F(Sender, AFailingChannelIsAWarningThatNamesItAndKeepsSecrets) {
  Robot slow(200, 3000ms);
  configure({{"qywx_url", slow.url("?key=wecom-secret-key")}, {"dingding_url", "http://127.0.0.1:1/?access_token=t"},
             {"email_server", "127.0.0.1"}, {"email_port", std::to_string(http::testing::closed_port())},
             {"email_account", "a@tovik.test"}, {"email_password", "mail-password"}, {"email_to", "b@tovik.test"},
             {"email_encryption", "ssl"}});
  send_report(Value("http://reports.tovik.test/"));
  sender::wait_idle();
  const auto w = warnings();
  EXPECT_THAT(w, UnorderedElementsAre(HasSubstr("企业微信通知发送失败: TimeoutError: "),
                                      "未配置dingding_url或dingding_secret项，暂不发送钉钉通知",
                                      HasSubstr("Email通知发送失败: ConnectError: ")));
  EXPECT_THAT(log_text(), AllOf(Not(HasSubstr("wecom-secret-key")), Not(HasSubstr("mail-password"))));
}

TEST_F(Sender, AnyChannelConfigured) {
  EXPECT_FALSE(any_channel_configured());
  configure({{"dingding_url", "http://robot.tovik.test/"}});
  EXPECT_FALSE(any_channel_configured());
  configure({{"dingding_secret", "s"}});
  EXPECT_TRUE(any_channel_configured());
  configure({{"dingding_url", ""}, {"email_server", "h"}, {"email_port", "25"}, {"email_account", "a"},
             {"email_password", "p"}, {"email_to", "t"}});
  EXPECT_FALSE(any_channel_configured());
  configure({{"email_encryption", "tls"}});
  EXPECT_TRUE(any_channel_configured());
  configure({{"email_to", ""}, {"qywx_url", "http://robot.tovik.test/"}});
  EXPECT_TRUE(any_channel_configured());
}

// The probe announces and returns from main at once; the exit waits for the notice, and a robot
// that never answers holds it only for the robot's time-out.
TEST_F(Sender, AProgramEndingRightAfterAnnouncingStillDelivers) {
  Robot quick(200, 300ms), silent(200, 10000ms);
  for (Robot* robot : {&quick, &silent}) {
    configure({{"qywx_url", robot->url("?key=k")}});
    Child probe({NOTIFY_EXIT_PROBE});
    EXPECT_EQ(probe.wait(15s), 0);
    ASSERT_EQ(robot->hits().size(), 1u);
    EXPECT_EQ(robot->hits()[0].body["markdown"]["content"],
              summary_text(Dict{{"select", Value(1)}, {"passed", Value(1)}}));
  }
}

}  // namespace
}  // namespace tovik::sender::testing
