#include <gmock/gmock.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "notify/channels.hpp"
#include "notify/test_support.hpp"
#include "support/http/errors.hpp"

namespace tovik::sender::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// What a DingTalk robot computes to check a request: Base64 of HMAC-SHA256 over
// "<timestamp>\n<secret>" with the secret as key.
std::string expected_sign(const std::string& timestamp, const std::string& secret) {
  const std::string msg = timestamp + "\n" + secret;
  unsigned char digest[32];
  unsigned int n = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()), reinterpret_cast<const unsigned char*>(msg.data()),
       msg.size(), digest, &n);
  unsigned char b64[64];
  const int len = EVP_EncodeBlock(b64, digest, static_cast<int>(n));
  return std::string(reinterpret_cast<char*>(b64), static_cast<std::size_t>(len));
}

template <class E, class F>
std::string error_of(F&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong kind: ") + error_kind(e) + ": " + e.what();
  }
  return "no error";
}

using Robots = NoticeTest;

TEST_F(Robots, WeComGetsTheMarkdownBodyWithTheContentUnchanged) {
  Robot robot;
  configure({{"qywx_url", robot.url("?key=wecom-key")}});
  EXPECT_EQ(to_qywx(Value("第一行\n第二行")), true);
  const auto hits = robot.hits();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].body, Json::parse(R"({"msgtype": "markdown", "markdown": {"content": "第一行\n第二行"}})"));
  EXPECT_EQ(hits[0].target, "/robot/send?key=wecom-key");
}

TEST_F(Robots, DingTalkRequestVerifiesAsTheRobotChecksIt) {
  Robot robot;
  const std::string secret = "SEC0123456789abcdef+/密钥";
  configure({{"dingding_url", robot.url("?access_token=ding-token")}, {"dingding_secret", secret}});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(to_dingding(Value("第一行\n第二行")), true);

  const auto now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const auto hits = robot.hits();
  ASSERT_EQ(hits.size(), 3u);
  for (const auto& hit : hits) {
    // the address's own pair first, then the signature's, each value quoted exactly once
    EXPECT_THAT(hit.target, AllOf(HasSubstr("/robot/send?access_token=ding-token&timestamp="), HasSubstr("&sign="),
                                  HasSubstr("%3D"), Not(HasSubstr("%25"))));
    ASSERT_EQ(hit.params.count("timestamp"), 1u);
    const std::string timestamp = hit.params.find("timestamp")->second;
    EXPECT_LT(std::llabs(std::stoll(timestamp) - now_ms), 3600 * 1000);
    EXPECT_EQ(hit.params.find("sign")->second, expected_sign(timestamp, secret));
    EXPECT_EQ(hit.body, Json::parse(R"({"msgtype": "markdown",
                                        "markdown": {"title": "by_tovik", "text": "第一行\n\n第二行"}})"));
  }
}

TEST_F(Robots, OtherAnswersAreFalseAndBrokenExchangesErrorsThatHideTheKey) {
  Robot failing(500);
  configure({{"qywx_url", failing.url("?key=wecom-key")}});
  EXPECT_EQ(to_qywx(Value("x")), false);
  EXPECT_THAT(warnings(), ElementsAre("企业微信机器人应答 HTTP 500，通知未送达"));

  Robot slow(200, 3000ms);
  configure({{"qywx_url", slow.url("?key=wecom-key")}});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THAT(error_of<http::TimeoutError>([] { to_qywx(Value("x")); }),
              AllOf(HasSubstr(slow.url("")), Not(HasSubstr("wecom-key"))));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2900ms);

  // a robot that ends the connection in the middle of its answer
  http::testing::LocalServer half([](httplib::Server& s) {
    s.Post("/robot/send", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(100, "application/json", [](std::size_t, std::size_t, httplib::DataSink& sink) {
        sink.write("{\"errc", 6);
        return false;
      });
    });
  });
  configure({{"qywx_url", half.url("/robot/send?key=half-key")}});
  EXPECT_THAT(error_of<http::TransportError>([] { to_qywx(Value("x")); }), Not(HasSubstr("half-key")));

  configure({{"dingding_url", "http://127.0.0.1:" + std::to_string(http::testing::closed_port()) + "/send?access_token=t0k"},
             {"dingding_secret", "s"}});
  EXPECT_THAT(error_of<http::ConnectError>([] { to_dingding(Value("x")); }), Not(HasSubstr("t0k")));

  for (const std::string bad : {"wecom-key-without-address", "ftp://robot/send?key=wecom-key", "http://"}) {
    configure({{"qywx_url", bad}});
    EXPECT_THAT(error_of<http::InvalidURL>([] { to_qywx(Value("x")); }),
                AllOf(HasSubstr("tovik.qywx_url"), Not(HasSubstr("wecom-key"))));
  }
}

TEST_F(Robots, ChannelsWithoutTheirSettingsSkipWithTheirWarning) {
  Robot robot;
  configure({{"dingding_url", robot.url("?access_token=t")}});  // the secret stays empty
  EXPECT_EQ(to_qywx(Value("x")), std::nullopt);
  EXPECT_EQ(to_dingding(Value("x")), std::nullopt);
  EXPECT_EQ(to_email(Value("x")), std::nullopt);
  // every e-mail key is needed: an empty encryption skips e-mail too
  configure({{"email_server", "127.0.0.1"}, {"email_port", "25"}, {"email_account", "a@x"},
             {"email_password", "p"}, {"email_to", "b@x"}});
  EXPECT_EQ(to_email(Value("x")), std::nullopt);
  EXPECT_THAT(warnings(), ElementsAre("未配置qywx_url项，暂不发送企业微信通知",
                                      "未配置dingding_url或dingding_secret项，暂不发送钉钉通知",
                                      "未配置email_*项，暂不发送Email", "未配置email_*项，暂不发送Email"));
  EXPECT_TRUE(robot.hits().empty());
}

TEST_F(Robots, ContentThatIsNotTextIsATypeErrorBeforeAnythingHappens) {
  for (const auto& channel : {&to_qywx, &to_dingding, &to_email})
    for (const Value& bad : {Value(), Value(1), Value(List{Value("x")})})
      EXPECT_THAT(error_of<TypeError>([&] { channel(bad); }), HasSubstr("content 应为文本（str），实际为 " + bad.type_name()));
  EXPECT_TRUE(warnings().empty());
}

}  // namespace
}  // namespace tovik::sender::testing
