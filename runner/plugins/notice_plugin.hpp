// Run summaries to the notice channels: at the end of a run that ran cases, the counts go to
// send_result when at least one channel (WeCom, DingTalk, e-mail) is configured in [tovik]. A
// run with no channel configured sends nothing and says nothing about notices. Sending happens
// on the notice pool: the run never waits for the network, and the program waits at its exit
// until the notices are delivered or have timed out.
#pragma once

#include "runner/plugin.hpp"
#include "support/base/value.hpp"

namespace tovik::runner {

class NoticePlugin : public Plugin {
 public:
  std::string name() const override { return "notice"; }
  void configure(Config& config) override;
  // The channels' secrets are masked in everything the run writes, from its first line.
  void on_session_start(const Config& config) override;
  void on_collection_finish(const std::vector<const TestCase*>& cases, int deselected) override;
  void on_session_finish(const Summary& summary) override;

  // The record send_result reads: total collected, selected, the outcomes, the duration in
  // seconds with two decimals and the local finish time "YYYY-MM-DD HH:MM:SS".
  static Dict record(const Summary& summary, int selected, int collected, std::time_t finished);

 private:
  bool collect_only_ = false;
  int selected_ = 0, collected_ = 0;
};

}  // namespace tovik::runner
