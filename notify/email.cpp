// The e-mail channel: one plain-text UTF-8 mail through libcurl's SMTP.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "support/base/base64.hpp"
#include "notify/channels.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/log.hpp"
#include "support/base/text.hpp"
#include "support/http/ca_bundle.hpp"
#include "support/http/errors.hpp"
#include "support/http/curl_global.hpp"

namespace tovik::sender {

namespace {

constexpr long kConnectTimeoutMs = 10'000;
constexpr long kTotalTimeoutMs = 30'000;
// Also bounds the wait for the answer to QUIT when the handle is cleaned up, which the total
// time-out no longer covers.
constexpr long kResponseTimeoutS = 10;
constexpr char kSubject[] = "测试框架有报告啦~";

// RFC 5322 date in local time, with English names whatever the locale.
std::string mail_date() {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  const long off = tm.tm_gmtoff / 60;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, off < 0 ? '-' : '+',
                std::labs(off) / 60, std::labs(off) % 60);
  return buf;
}

std::string message_id(const std::string& account) {
  std::string domain = account.substr(account.rfind('@') + 1);
  const bool plain = !domain.empty() && std::all_of(domain.begin(), domain.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-';
  });
  if (!plain || account.find('@') == std::string::npos) domain = "tovik.local";
  std::random_device rd;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char buf[96];
  std::snprintf(buf, sizeof buf, "<%lld.%08x%08x@", static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                rd(), rd());
  return buf + domain + ">";
}

// Headers, a blank line and the body in Base64 lines of 76, every line ending in CR LF.
std::string build_mail(const std::string& content, const std::string& from, const std::vector<std::string>& to) {
  std::string to_line;
  for (const auto& r : to) to_line += (to_line.empty() ? "" : ", ") + r;
  std::string mail;
  mail += "Date: " + mail_date() + "\r\n";
  mail += "From: " + from + "\r\n";
  mail += "To: " + to_line + "\r\n";
  mail += "Subject: =?UTF-8?B?" + base64_encode(kSubject) + "?=\r\n";
  mail += "Message-ID: " + message_id(from) + "\r\n";
  mail += "MIME-Version: 1.0\r\n";
  mail += "Content-Type: text/plain; charset=UTF-8\r\n";
  mail += "Content-Transfer-Encoding: base64\r\n\r\n";
  const std::string body = base64_encode(content);
  for (std::size_t at = 0; at < body.size(); at += 76) mail += body.substr(at, 76) + "\r\n";
  return mail;
}

[[noreturn]] void bad_setting(std::string_view key, const std::string& value, std::string_view what) {
  throw ValueError("配置项 tovik." + std::string(key) + " = '" + value + "' " + std::string(what));
}

// Line breaks in an address would let it write header lines or SMTP commands of its own.
void check_address(std::string_view key, const std::string& address) {
  for (unsigned char c : address)
    if (c < 0x20 || c == 0x7f) bad_setting(key, "...", "中含有换行或控制字符");
}

long port_of() {
  const std::int64_t port = settings::tovik().integer("email_port");  // ValueError naming the key
  if (port < 1 || port > 65535) bad_setting("email_port", std::to_string(port), "不是有效的端口（1-65535）");
  return static_cast<long>(port);
}

std::string url_host(const std::string& server) {
  const std::string host(strip_space(server));
  if (host.empty() || host.find_first_of("/?#@ \t\r\n") != std::string::npos)
    bad_setting("email_server", host.find_first_of("\r\n") == std::string::npos ? host : "...", "不是主机名");
  // an IPv6 address stands in brackets in a URL; one colon is a port, which has a key of its own
  const auto colons = std::count(host.begin(), host.end(), ':');
  if (colons == 1) bad_setting("email_server", host, "不是主机名（端口写在 email_port）");
  if (colons > 1 && host.front() != '[') return "[" + host + "]";
  return host;
}

struct Upload {
  std::string_view data;
  std::size_t at = 0;
};

std::size_t read_mail(char* buffer, std::size_t size, std::size_t n, void* user) {
  auto* up = static_cast<Upload*>(user);
  const std::size_t len = std::min(size * n, up->data.size() - up->at);
  std::copy_n(up->data.data() + up->at, len, buffer);
  up->at += len;
  return len;
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// Hands the mail over; the connection is closed (QUIT after a success) when this returns or
// throws. libcurl drops a connection that failed without sending QUIT.
void send_mail(const std::string& url, bool starttls, const std::string& account, const std::string& password,
               const std::vector<std::string>& recipients, const std::string& mail) {
  http::init_curl_once();
  std::unique_ptr<curl_slist, SlistDeleter> rcpt;
  for (const auto& r : recipients) {
    curl_slist* grown = curl_slist_append(rcpt.get(), ("<" + r + ">").c_str());
    if (!grown) throw OSError("内存不足，无法准备收件人列表");
    static_cast<void>(rcpt.release());
    rcpt.reset(grown);
  }
  char error[CURL_ERROR_SIZE] = {};
  CURLcode rc;
  long reply = 0;
  {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    CURL* c = easy.get();
    if (!c) throw OSError("无法创建 SMTP 连接（curl_easy_init 失败）");
    Upload upload{mail};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, kTotalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutS);
    curl_easy_setopt(c, CURLOPT_USE_SSL, starttls ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_NONE));
    if (const char* file = http::ca_bundle_from_env()) curl_easy_setopt(c, CURLOPT_CAINFO, file);
    curl_easy_setopt(c, CURLOPT_USERNAME, account.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + account + ">").c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &read_mail);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    rc = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply);
  }  // cleaned up: the connection is closed before any error leaves
  if (rc == CURLE_OK) return;

  std::string detail = error[0] ? std::string(error) : std::string(curl_easy_strerror(rc));
  // a server's reply could echo what it was sent; the password is never part of a message
  if (password.size() >= 4)
    for (auto at = detail.find(password); at != std::string::npos; at = detail.find(password, at)) detail.replace(at, password.size(), "******");
  const std::string where = "Email 发送失败（" + url + "）: ";
  switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
      throw http::TimeoutError(where + "超时（连接 10 秒，全程 30 秒）: " + detail);
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_USE_SSL_FAILED:
      throw http::ConnectError(where + "无法建立连接: " + detail);
    case CURLE_LOGIN_DENIED:
      throw SMTPError(where + "登录被拒绝: " + detail);
    default:
      throw SMTPError(where + detail + (reply ? "（SMTP 应答码 " + std::to_string(reply) + "）" : std::string()));
  }
}

}  // namespace

std::optional<bool> to_email(const Value& content) {
  const std::string& text = content_text(content, "to_email");
  const settings::Section& s = settings::tovik();
  const auto server = s.optional_text("email_server");
  const auto port = s.optional_text("email_port");
  const auto account = s.optional_text("email_account");
  const auto password = s.optional_text("email_password");
  const auto to = s.optional_text("email_to");
  const auto encryption = s.optional_text("email_encryption");
  if (!server || !port || !account || !password || !to || !encryption) {
    log::sender()->warn("未配置email_*项，暂不发送Email");
    return std::nullopt;
  }

  const std::string host = url_host(*server);
  const long port_number = port_of();
  const std::string mode = ascii_lower(strip_space(*encryption));
  check_address("email_account", *account);
  check_address("email_to", *to);
  std::vector<std::string> recipients;
  for (std::size_t start = 0; start <= to->size();) {
    const std::size_t comma = std::min(to->find(',', start), to->size());
    const std::string_view one = strip_space(std::string_view(*to).substr(start, comma - start));
    if (!one.empty()) recipients.emplace_back(one);
    start = comma + 1;
  }
  if (recipients.empty()) bad_setting("email_to", *to, "中没有收件地址");

  const std::string url = (mode == "ssl" ? "smtps://" : "smtp://") + host + ":" + std::to_string(port_number);
  send_mail(url, mode == "tls", *account, *password, recipients, build_mail(text, *account, recipients));
  log::sender()->debug("Email已发送给 {}", *to);
  return true;
}

}  // namespace tovik::sender
