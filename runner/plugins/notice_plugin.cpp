#include "runner/plugins/notice_plugin.hpp"

#include <ctime>

#include <fmt/format.h>

#include "notify/sender.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik::runner {

void NoticePlugin::configure(Config& config) { collect_only_ = config.flag_option("collectonly"); }

void NoticePlugin::on_session_start(const Config&) { sender::register_channel_secrets(); }

void NoticePlugin::on_collection_finish(const std::vector<const TestCase*>& cases, int deselected) {
  selected_ = static_cast<int>(cases.size());
  collected_ = selected_ + deselected;
}

Dict NoticePlugin::record(const Summary& s, int selected, int collected, std::time_t finished) {
  std::tm local{};
  ::localtime_r(&finished, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  return Dict{
      {"total", Value(collected)},      {"select", Value(selected)},
      {"passed", Value(s.passed)},      {"failed", Value(s.failed)},
      {"error", Value(s.errors)},       {"skipped", Value(s.skipped)},
      {"tims", Value(fmt::format("{:.2f}", s.seconds))}, {"date", Value(std::string(date))},
  };
}

void NoticePlugin::on_session_finish(const Summary& summary) {
  if (collect_only_) return;
  try {
    if (!sender::any_channel_configured()) return;
    sender::send_result(Value(record(summary, selected_, collected_, std::time(nullptr))));
  } catch (const std::exception& e) {
    // a notice never fails the run it reports on
    log::pytest()->warn("运行结果通知未能发出: {}", describe_error(e));
  }
}

}  // namespace tovik::runner
