// The three channels a notice goes to: a WeCom group robot, a DingTalk group robot and e-mail.
// Each takes one Markdown-flavoured text, reads its settings from [tovik] at the moment of the
// call, and skips with a warning on "tovik.sender" when they are not filled in (a key counts as
// set when it is not empty). Results: true when delivered (a robot answered 200, the mail server
// took the mail), false when a robot answered another status, none when skipped.
// Every operation throws TypeError naming `content` when content is not a text. No message or
// log line holds a password, a signing secret or the query (key, access token) of a webhook URL.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/base/errors.hpp"
#include "support/base/value.hpp"

namespace tovik::sender {

// The text of content; TypeError "<operation> 的参数 content 应为文本（str），实际为 <kind>".
const std::string& content_text(const Value& content, std::string_view operation);

// POSTs {"msgtype": "markdown", "markdown": {"content": content}} to qywx_url.
// Skipped: "未配置qywx_url项，暂不发送企业微信通知". Errors as post_json (notify/webhook.hpp).
std::optional<bool> to_qywx(const Value& content);

// POSTs {"msgtype": "markdown", "markdown": {"title": "by_tovik", "text": content with every line
// feed doubled}} to dingding_url, signed with dingding_secret: the query gains "timestamp" (now,
// milliseconds) and "sign" (Base64 of HMAC-SHA256 over "<timestamp>\n<secret>").
// Skipped unless both are set: "未配置dingding_url或dingding_secret项，暂不发送钉钉通知".
// Errors as post_json (notify/webhook.hpp).
std::optional<bool> to_dingding(const Value& content);

// The SMTP server refused the login, the sender, a recipient or the mail, or the exchange broke
// off after the connection stood.
class SMTPError : public OSError {
 public:
  explicit SMTPError(const std::string& message = {}) : OSError(message) {}
  const char* kind() const noexcept override { return "SMTPError"; }
};

// Mails content as a UTF-8 plain-text mail with the subject "测试框架有报告啦~" from email_account
// to email_to (several addresses separated by commas: each is an envelope recipient, all are in
// "To"), over implicit TLS when email_encryption is "ssl", STARTTLS (required) when "tls", a plain
// connection for any other value (compared without case or surrounding blanks); logs in with
// email_account and email_password. Certificates are verified against CURL_CA_BUNDLE or
// SSL_CERT_FILE when set, else the system's store. 10 s to connect, 30 s for the whole exchange.
// Skipped unless all of email_server, email_port, email_account, email_password, email_to and
// email_encryption are set: "未配置email_*项，暂不发送Email".
// Throws ValueError naming the setting for a port that is not a whole number in 1..65535, a
// server that is not a host name, or addresses holding line breaks; http::ConnectError when no
// connection (or TLS session) came about; http::TimeoutError; SMTPError for refusals. The
// connection is closed before the error leaves.
std::optional<bool> to_email(const Value& content);

}  // namespace tovik::sender
