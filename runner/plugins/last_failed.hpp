// The cases that failed last time, kept between runs in .tovik_cache/lastfailed under the rootdir:
// --lf / --last-failed runs only those (all cases when there are none), --ff / --failed-first runs
// them first, --cache-clear forgets them. A case that fails or errs is added, one that passes or
// is skipped is removed, one that did not run keeps its entry. The file is written whole at the
// end of each run; one that cannot be read is ignored with a warning.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "runner/plugin.hpp"

namespace tovik::runner {

class LastFailedPlugin : public Plugin {
 public:
  std::string name() const override { return "lastfailed"; }
  void add_options(OptionParser& parser) override;
  void configure(Config& config) override;
  void on_session_start(const Config& config) override;
  void select(std::vector<const TestCase*>& chosen, int& deselected) override;
  void on_case_finish(const CaseReport& report) override;
  void on_session_finish(const Summary& summary) override;

 private:
  std::filesystem::path dir_;  // .tovik_cache
  bool last_failed_ = false, failed_first_ = false, clear_ = false, changed_ = false;
  std::set<std::string> failed_;
};

}  // namespace tovik::runner
