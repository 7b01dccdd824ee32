// The WeCom and DingTalk group robots.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>

#include "support/base/base64.hpp"
#include "notify/channels.hpp"
#include "notify/webhook.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/log.hpp"

namespace tovik::sender {

namespace {

// A robot's answer other than 200 means the notice did not arrive; the robot's reason is in a
// body nobody reads, so at least the status is told.
std::optional<bool> answered(int status, const char* robot) {
  if (status == 200) return true;
  log::sender()->warn("{}机器人应答 HTTP {}，通知未送达", robot, status);
  return false;
}

std::string now_milliseconds() {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return std::to_string((us + 500) / 1000);
}

// Standard Base64 of HMAC-SHA256(key = secret, message = "<timestamp>\n<secret>").
std::string dingding_sign(const std::string& timestamp, const std::string& secret) {
  const std::string to_sign = timestamp + "\n" + secret;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
            reinterpret_cast<const unsigned char*>(to_sign.data()), to_sign.size(), digest, &size))
    throw ValueError("无法计算钉钉签名（HMAC-SHA256 失败）");
  return base64_encode(std::string_view(reinterpret_cast<const char*>(digest), size));
}

std::string doubled_line_feeds(const std::string& s) {
  std::string out;
  out.reserve(s.size() + 16);
  for (char c : s) {
    out += c;
    if (c == '\n') out += '\n';
  }
  return out;
}

}  // namespace

const std::string& content_text(const Value& content, std::string_view operation) {
  if (!content.is_str())
    throw TypeError(std::string(operation) + " 的参数 content 应为文本（str），实际为 " + content.type_name());
  return content.as_str();
}

std::optional<bool> to_qywx(const Value& content) {
  const std::string& text = content_text(content, "to_qywx");
  const auto url = settings::tovik().optional_text("qywx_url");
  if (!url) {
    log::sender()->warn("未配置qywx_url项，暂不发送企业微信通知");
    return std::nullopt;
  }
  const Value body(Dict{{"msgtype", Value("markdown")}, {"markdown", Value(Dict{{"content", Value(text)}})}});
  return answered(post_json(*url, body, {}, "qywx_url"), "企业微信");
}

std::optional<bool> to_dingding(const Value& content) {
  const std::string& text = content_text(content, "to_dingding");
  const auto url = settings::tovik().optional_text("dingding_url");
  const auto secret = settings::tovik().optional_text("dingding_secret");
  if (!url || !secret) {
    log::sender()->warn("未配置dingding_url或dingding_secret项，暂不发送钉钉通知");
    return std::nullopt;
  }
  const std::string timestamp = now_milliseconds();
  const Value body(Dict{{"msgtype", Value("markdown")},
                        {"markdown", Value(Dict{{"title", Value("by_tovik")}, {"text", Value(doubled_line_feeds(text))}})}});
  // The robot decodes the query once and compares "sign" with the Base64 of its own HMAC. The
  // client percent-quotes every query value once (letters, digits and "*-._" stay), which for the
  // Base64 alphabet is the robots' quoting: "+", "/" and "=" become %2B, %2F and %3D. So it gets
  // the Base64 text itself; a value quoted here already would reach the robot quoted twice
  // ("%252B") and fail its check.
  const Dict params{{"timestamp", Value(timestamp)}, {"sign", Value(dingding_sign(timestamp, *secret))}};
  return answered(post_json(*url, body, params, "dingding_url"), "钉钉");
}

}  // namespace tovik::sender
