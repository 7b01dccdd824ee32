// The runner's own options: selection, stopping, verbosity, logging.
#pragma once

#include "outside/host/plugin.hpp"

namespace tovik::host {

class MainPlugin : public Plugin {
 public:
  std::string name() const override { return "main"; }
  void add_options(OptionParser& parser) override;
  void register_fixtures(FixtureRegistry& registry) override;
};

}  // namespace tovik::host
