#include "notify/sender.hpp"

#include <openssl/ssl.h>

#include <iostream>
#include <optional>

#include "notify/channels.hpp"
#include "notify/pool.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/secrets.hpp"
#include "support/http/url.hpp"
#include "support/http/curl_global.hpp"

namespace tovik::sender {

namespace {

using Channel = std::optional<bool> (*)(const Value&);

// Queued notices must still go out when the program ends right after announcing: the pool's
// destructor runs what is queued. Statics are destroyed in the reverse order of their
// construction, so what the tasks use is made here before the pool and outlives it: the settings
// section; the loggers live to the very end anyway; libcurl's global set-up brings OpenSSL up,
// whose own clean-up (an atexit handler) must come after the tasks too.
Pool& ready_pool() {
  static Pool& ready = [] () -> Pool& {
    static_cast<void>(settings::tovik());
    static_cast<void>(log::sender());
    OPENSSL_init_ssl(0, nullptr);
    http::init_curl_once();
    return pool();
  }();
  return ready;
}

void deliver(const char* name, Channel channel, const std::string& text) {
  try {
    channel(Value(text));
  } catch (const std::exception& e) {
    log::sender()->warn("{}通知发送失败: {}", name, describe_error(e));
  } catch (...) {
    log::sender()->warn("{}通知发送失败: 未知错误", name);
  }
}

void announce(const std::string& text) {
  register_channel_secrets();  // the channels' own log lines must not carry them either
  Pool& workers = ready_pool();
  workers.submit([text] { deliver("企业微信", &to_qywx, text); });
  workers.submit([text] { deliver("钉钉", &to_dingding, text); });
  workers.submit([text] { deliver("Email", &to_email, text); });
}

std::string field(const Dict& data, std::string_view key, const Value& fallback) {
  const Value* v = data.find(key);
  return str(v ? *v : fallback);
}

}  // namespace

std::string summary_text(const Dict& data) {
  const Value zero(0);
  std::string out = "【tovik自动化测试结果】\n\n用例总数: <font color=\"black\">";
  out += field(data, "total", zero);
  out += "</font>\n本次运行数： <font color=\"black\">";
  out += field(data, "select", zero);
  out += "</font>\n测试通过数： <font color=\"green\">";
  out += field(data, "passed", zero);
  out += "</font>\n测试失败数： <font color=\"orange\">";
  out += field(data, "failed", zero);
  out += "</font>\n测试出错数： <font color=\"red\">";
  out += field(data, "error", zero);
  out += "</font>\n跳过用例数： <font color=\"grey\">";
  out += field(data, "skipped", zero);
  out += "</font>\n测试耗时:    ";
  out += field(data, "tims", zero);
  out += "\n完成时间： ";
  out += field(data, "date", Value(""));
  return out;
}

std::string report_text(const Value& url) {
  return "【tovik自动化测试报告】\n\n        在线报告已生成，请[点击这里](" + str(url) + ")查看";
}

void send_result(const Value& data) {
  if (!data.is_dict()) throw TypeError("send_result 的参数 data 应为字典（dict），实际为 " + data.type_name());
  const Dict& record = data.as_dict();
  const Value* select = record.find("select");
  if (select && !select->is_none() && !select->is_number() && !select->is_bool())
    throw TypeError("send_result 的 data['select'] 应为数字，实际为 " + select->type_name());
  if (!select || select->is_none() || select->as_float() < 1) {
    std::cout << "本次执行用例数为0，暂不发送通知" << std::endl;
    return;
  }
  announce(summary_text(record));
}

void send_report(const Value& url) { announce(report_text(url)); }

bool any_channel_configured() {
  const settings::Section& s = settings::tovik();
  const auto set = [&s](const char* key) { return s.optional_text(key).has_value(); };
  if (set("qywx_url")) return true;
  if (set("dingding_url") && set("dingding_secret")) return true;
  for (const char* key : {"email_server", "email_port", "email_account", "email_password", "email_to", "email_encryption"})
    if (!set(key)) return false;
  return true;
}

void register_channel_secrets() {
  try {
    const settings::Section& s = settings::tovik();
    for (const char* key : {"email_password", "dingding_secret"})
      if (const auto v = s.optional_text(key)) secrets::add(*v);
    for (const char* key : {"qywx_url", "dingding_url"}) {
      const auto url = s.optional_text(key);
      if (!url) continue;
      const std::size_t q = url->find('?');
      if (q == std::string::npos) continue;
      // every query value of a robot URL is a credential: key=..., access_token=...
      for (const auto& [name, value] : http::parse_query(url->substr(q + 1))) secrets::add(value);
    }
  } catch (const std::exception&) {
    // reported where the setting is used
  }
}

void wait_idle() { pool().wait_idle(); }

}  // namespace tovik::sender
