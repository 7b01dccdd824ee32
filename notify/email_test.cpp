#include <gmock/gmock.h>

#include "notify/channels.hpp"
#include "notify/test_support.hpp"
#include "support/http/errors.hpp"

namespace tovik::sender::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using Mode = SmtpServer::Mode;

const std::string kContent = "【tovik自动化测试结果】\n\n用例总数: <font color=\"black\">3</font>\n完成时间： 2024-05-01";

// One server of each kind for the whole suite: starting Python is the slow part.
class Email : public NoticeTest {
 protected:
  static void SetUpTestSuite() {
    certs_ = new Certificates();
    plain_ = new SmtpServer(Mode::Plain, *certs_);
    starttls_ = new SmtpServer(Mode::StartTls, *certs_);
    implicit_ = new SmtpServer(Mode::Implicit, *certs_);
  }
  static void TearDownTestSuite() {
    for (SmtpServer* s : {plain_, starttls_, implicit_}) delete s;
    delete certs_;
  }
  void SetUp() override {
    NoticeTest::SetUp();
    for (SmtpServer* s : {plain_, starttls_, implicit_}) s->clear();
    setenv("CURL_CA_BUNDLE", certs_->ca.c_str(), 1);
    unsetenv("SSL_CERT_FILE");
  }
  void mail_to(const SmtpServer& server, const std::string& encryption, const std::string& to,
               const std::string& password = SmtpServer::kPassword) {
    configure({{"email_server", "127.0.0.1"}, {"email_port", std::to_string(server.port())},
               {"email_account", SmtpServer::kAccount}, {"email_password", password}, {"email_to", to},
               {"email_encryption", encryption}});
  }
  template <class E>
  std::string error_of() {
    try {
      to_email(Value(kContent));
    } catch (const E& e) {
      return e.what();
    } catch (const std::exception& e) {
      return std::string("wrong kind: ") + error_kind(e) + ": " + e.what();
    }
    return "no error";
  }

  static inline Certificates* certs_ = nullptr;
  static inline SmtpServer *plain_ = nullptr, *starttls_ = nullptr, *implicit_ = nullptr;
};

TEST_F(Email, ReachesEveryRecipientOverEachKindOfConnection) {
  struct Case {
    SmtpServer* server;
    std::string encryption;
    bool tls;
  };
  // any value but ssl and tls is a plain connection
  for (const Case& c : {Case{implicit_, "ssl", true}, Case{starttls_, "tls", true}, Case{plain_, "plain", false},
                        Case{plain_, "STARTTLS-please", false}}) {
    SCOPED_TRACE(c.encryption);
    c.server->clear();
    mail_to(*c.server, c.encryption, "first@tovik.test, second@tovik.test");
    EXPECT_EQ(to_email(Value(kContent)), true);

    const auto events = c.server->events_until("closed");
    EXPECT_THAT(SmtpServer::kinds(events), ElementsAre("auth", "mail", "quit", "closed"));
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0]["ok"], true);
    const Json& mail = events[1];
    EXPECT_EQ(mail["tls"], c.tls);
    EXPECT_EQ(mail["authenticated"], true);
    EXPECT_EQ(mail["mail_from"], SmtpServer::kAccount);
    EXPECT_EQ(mail["rcpt_tos"], Json::parse(R"(["first@tovik.test", "second@tovik.test"])"));
    const Json& h = mail["headers"];
    EXPECT_EQ(h["Subject"], "测试框架有报告啦~");
    EXPECT_EQ(h["From"], SmtpServer::kAccount);
    EXPECT_EQ(h["To"], "first@tovik.test, second@tovik.test");
    EXPECT_EQ(h["MIME-Version"], "1.0");
    EXPECT_THAT(mail["header_names"].get<std::vector<std::string>>(),
                ::testing::IsSupersetOf({"Date", "Message-ID", "Content-Transfer-Encoding"}));
    EXPECT_EQ(mail["content_type"], "text/plain");
    EXPECT_EQ(mail["charset"], "utf-8");
    EXPECT_EQ(mail["body"], kContent);
  }
}

TEST_F(Email, CertificatesAreVerifiedAgainstTheNamedCa) {
  mail_to(*implicit_, "ssl", "first@tovik.test");
  setenv("CURL_CA_BUNDLE", certs_->other_ca.c_str(), 1);
  EXPECT_THAT(error_of<http::ConnectError>(), HasSubstr("无法建立连接"));
  configure({{"email_encryption", "tls"}, {"email_port", std::to_string(starttls_->port())}});
  EXPECT_THAT(error_of<http::ConnectError>(), HasSubstr("无法建立连接"));
  EXPECT_THAT(SmtpServer::kinds(starttls_->events_until("closed")), Not(::testing::Contains("auth")));

  // SSL_CERT_FILE names the CA as well
  unsetenv("CURL_CA_BUNDLE");
  setenv("SSL_CERT_FILE", certs_->ca.c_str(), 1);
  EXPECT_EQ(to_email(Value(kContent)), true);
}

TEST_F(Email, RefusalsPassOutAfterTheConnectionIsClosed) {
  mail_to(*starttls_, "tls", "first@tovik.test", "wrong-password");
  EXPECT_THAT(error_of<SMTPError>(), AllOf(HasSubstr("登录被拒绝"), Not(HasSubstr("wrong-password"))));
  auto events = starttls_->events_until("closed");
  EXPECT_THAT(SmtpServer::kinds(events), ElementsAre("auth", "closed"));
  EXPECT_EQ(events.at(0)["ok"], false);

  plain_->clear();
  mail_to(*plain_, "none", "first@tovik.test, refused@tovik.test");
  EXPECT_THAT(error_of<SMTPError>(), HasSubstr("550"));
  // libcurl says QUIT after a refused recipient
  EXPECT_THAT(SmtpServer::kinds(plain_->events_until("closed")), ElementsAre("auth", "quit", "closed"));

  configure({{"email_port", std::to_string(http::testing::closed_port())}});
  EXPECT_THAT(error_of<http::ConnectError>(), HasSubstr("smtp://127.0.0.1:"));
}

TEST_F(Email, BadSettingsAreValueErrorsNamingTheSetting) {
  mail_to(*plain_, "none", "first@tovik.test");
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"email_port", "twenty-five"}, {"email_port", "70000"}, {"email_server", "mail.tovik.test:25"},
      {"email_to", "first@tovik.test\r\nBcc: everyone@tovik.test"}};
  for (const auto& [key, value] : bad) {
    SCOPED_TRACE(value);
    mail_to(*plain_, "none", "first@tovik.test");
    configure({{key, value}});
    EXPECT_THAT(error_of<ValueError>(), HasSubstr(std::string("tovik.") + key));
  }
  EXPECT_TRUE(plain_->events().empty());
}

}  // namespace
}  // namespace tovik::sender::testing
