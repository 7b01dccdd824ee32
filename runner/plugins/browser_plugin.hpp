// Browser fixtures: a driver of the configured driver_type for a case ("browser") or for the
// whole run ("browser_session"), handed to keywords through usefixtures (set_driver takes it).
// Every driver program the run started is ended when the run ends, also after Ctrl-C.
#pragma once

#include "runner/plugin.hpp"

namespace tovik::runner {

class BrowserPlugin : public Plugin {
 public:
  std::string name() const override { return "browser"; }
  bool in_workers() const override { return true; }
  void register_fixtures(FixtureRegistry& registry) override;
  void on_session_finish(const Summary& summary) override;
};

}  // namespace tovik::runner
