// Announcements: the summary of a finished run and the address of a generated report, each handed
// to the three channels (notify/channels.hpp) on the process's worker pool (notify/pool.hpp). The
// callers return as soon as the tasks are queued.
//
// A channel that fails (an error, or a robot answering other than 200) is logged at warning level
// on "tovik.sender" with the channel's name and the reason; nothing reaches the caller. The process
// waits at exit until queued notices are delivered or have timed out (robots 2 s, e-mail 30 s).
#pragma once

#include <string>

#include "support/base/value.hpp"

namespace tovik::sender {

// The run's record: "total", "select", "passed", "failed", "error", "skipped" (0 when missing),
// "tims" (0) and "date" (empty), each written in its text form.
// TypeError unless data is a mapping, before anything else; TypeError when "select" is there but
// not a number. A "select" below 1 (or none, or missing) prints "本次执行用例数为0，暂不发送通知"
// to standard output and queues nothing; otherwise the summary goes to WeCom, DingTalk and
// e-mail, queued in this order.
void send_result(const Value& data);

// Queues the report notice for url's text form to WeCom, DingTalk and e-mail, whatever is
// configured (an unconfigured channel only logs its warning).
void send_report(const Value& url);

// The summary text of a record: "【tovik自动化测试结果】\n\n用例总数: <font color=\"black\">..."
std::string summary_text(const Dict& data);
// "【tovik自动化测试报告】\n\n        在线报告已生成，请[点击这里](<url>)查看"
std::string report_text(const Value& url);

// Whether any channel has its settings: WeCom qywx_url; DingTalk dingding_url and
// dingding_secret; e-mail all six email_* keys.
bool any_channel_configured();

// Makes the channels' secrets known to the redaction of every log line and report (e-mail
// password, DingTalk signing secret, the keys and tokens in the robots' URLs). Settings that
// cannot be read register nothing: they fail where they are used, with their own message.
void register_channel_secrets();

// Blocks until every queued notice is delivered or has failed (for tests and orderly ends; the
// exit of the process does it by itself).
void wait_idle();

}  // namespace tovik::sender
