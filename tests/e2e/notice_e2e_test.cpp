// End-to-end tests of run summaries: `tovik run` with notice channels pointing at local robot
// servers and a real SMTP server (aiosmtpd, STARTTLS with a CA of the test's own) that the tests
// start on free ports of 127.0.0.1.
#include <mutex>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "examples/workbook_writer.hpp"
#include "notify/test_support.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovik::e2e;
using nlohmann::json;
using tovik::http::testing::LocalServer;

constexpr const char* kSecret = "SEC-e2e-secret";

std::string base64_hmac(const std::string& key, const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(text.data()),
       text.size(), digest, &len);
  std::string out(4 * ((len + 2) / 3), '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), digest, static_cast<int>(len));
  return out;
}

// What the robots received: one entry per request.
struct Robots {
  std::mutex mutex;
  std::vector<json> wecom, dingtalk;
  std::vector<std::string> dingtalk_problems;
};

class NoticeRun : public ProjectTest {
 protected:
  NoticeRun()
      : server_([this](httplib::Server& s) {
          s.Post("/cgi-bin/webhook/send", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(robots_.mutex);
            robots_.wecom.push_back(json::parse(req.body));
            res.set_content(R"({"errcode":0})", "application/json");
          });
          // verifies as the real robot does: the query decoded once gives the Base64 signature
          s.Post("/robot/send", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(robots_.mutex);
            const std::string ts = req.get_param_value("timestamp");
            if (req.get_param_value("access_token") != "tok")
              robots_.dingtalk_problems.push_back("access_token lost");
            if (req.get_param_value("sign") != base64_hmac(kSecret, ts + "\n" + kSecret))
              robots_.dingtalk_problems.push_back("signature does not verify: " + req.target);
            robots_.dingtalk.push_back(json::parse(req.body));
            res.set_content(R"({"errcode":0})", "application/json");
          });
        }) {}

  void SetUp() override {
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    write_file(root_ / "pytest.ini", "[pytest]\n");
    workbook("test_n.xlsx", {
        {"通过一", {R(1, "", "assert", 1, "equal", 1)}},
        {"通过二", {R(1, "", "assert", "a", "in", "abc")}},
        {"失败", {R(1, "", "assert", 1, "equal", 2)}},
        {"跳过", {R(nullptr, nullptr, "@skip", "以后再说")}},
        {"不选", {R(nullptr, nullptr, "@tags", "slow"), R(1, "", "assert", 1, "equal", 1)}},
    });
  }
  Finished tovik(const Env& env) { return run_tovik({"run", "-m", "not slow"}, env); }

  Robots robots_;
  LocalServer server_;
};

TEST_F(NoticeRun, TheSummaryReachesEveryChannelOnceWithTheRunsCounts) {
  using tovik::sender::testing::SmtpServer;
  const tovik::sender::testing::Certificates certs;
  const SmtpServer smtp(SmtpServer::Mode::StartTls, certs);
  const Finished f = tovik({{"TOVIK_QYWX_URL", server_.url("/cgi-bin/webhook/send?key=wecom-key")},
                            {"TOVIK_DINGDING_URL", server_.url("/robot/send?access_token=tok")},
                            {"TOVIK_DINGDING_SECRET", kSecret},
                            {"TOVIK_EMAIL_SERVER", "127.0.0.1"},
                            {"TOVIK_EMAIL_PORT", std::to_string(smtp.port())},
                            {"TOVIK_EMAIL_ACCOUNT", SmtpServer::kAccount},
                            {"TOVIK_EMAIL_PASSWORD", SmtpServer::kPassword},
                            {"TOVIK_EMAIL_TO", "qa@tovik.test"},
                            {"TOVIK_EMAIL_ENCRYPTION", "tls"},
                            {"CURL_CA_BUNDLE", certs.ca}});
  EXPECT_EQ(f.status, 1) << f.all();
  const auto mails = smtp.events_until("closed");
  int delivered = 0;
  for (const auto& e : mails)
    if (e["event"] == "mail") {
      ++delivered;
      EXPECT_EQ(e["rcpt_tos"], nlohmann::json::array({"qa@tovik.test"}));
      EXPECT_TRUE(e["tls"].get<bool>());
      EXPECT_EQ(e["headers"]["Subject"], "测试框架有报告啦~");
      EXPECT_TRUE(Has(e["body"].get<std::string>(), "测试通过数： <font color=\"green\">2</font>"));
    }
  EXPECT_EQ(delivered, 1) << f.all();
  EXPECT_TRUE(Lacks(f.all(), SmtpServer::kPassword));
  // the program waited at its exit until both were delivered
  std::lock_guard<std::mutex> lock(robots_.mutex);
  ASSERT_EQ(robots_.wecom.size(), 1u) << f.all();
  ASSERT_EQ(robots_.dingtalk.size(), 1u) << f.all();
  EXPECT_TRUE(robots_.dingtalk_problems.empty()) << robots_.dingtalk_problems.front();

  const std::string text = robots_.wecom[0]["markdown"]["content"];
  EXPECT_EQ(robots_.wecom[0]["msgtype"], "markdown");
  EXPECT_TRUE(Has(text, "【tovik自动化测试结果】\n\n用例总数: <font color=\"black\">5</font>\n"
                        "本次运行数： <font color=\"black\">4</font>\n测试通过数： <font color=\"green\">2</font>\n"
                        "测试失败数： <font color=\"orange\">1</font>\n测试出错数： <font color=\"red\">0</font>\n"
                        "跳过用例数： <font color=\"grey\">1</font>\n测试耗时:    "));
  EXPECT_TRUE(Has(text, "\n完成时间： 20"));  // a local date and time
  const std::string dingtalk_text = robots_.dingtalk[0]["markdown"]["text"];
  EXPECT_TRUE(Has(dingtalk_text, "用例总数: <font color=\"black\">5</font>\n\n本次运行数"));
  // the secrets never reach the terminal
  EXPECT_TRUE(Lacks(f.all(), kSecret));
  EXPECT_TRUE(Lacks(f.all(), "wecom-key"));
}

TEST_F(NoticeRun, WithoutChannelsNothingIsSentOrSaid) {
  const Finished f = tovik({});
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Lacks(f.all(), "通知"));
  std::lock_guard<std::mutex> lock(robots_.mutex);
  EXPECT_TRUE(robots_.wecom.empty());
  EXPECT_TRUE(robots_.dingtalk.empty());
}

TEST_F(NoticeRun, ARobotThatFailsNeverFailsTheRun) {
  // a WeCom robot that is gone: the run's outcome is its cases' alone
  write_file(root_ / "pytest.ini", "[pytest]\naddopts = -k 通过\n");
  const Finished f = tovik({{"TOVIK_QYWX_URL", "http://127.0.0.1:" + std::to_string(tovik::http::testing::closed_port()) +
                                                   "/cgi-bin/webhook/send?key=gone-key"}});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Lacks(f.all(), "gone-key"));
}

}  // namespace
