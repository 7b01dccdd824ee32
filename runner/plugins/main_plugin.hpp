// The runner's own options: selection, stopping, verbosity, logging.
#pragma once

#include "runner/plugin.hpp"

namespace tovik::runner {

class MainPlugin : public Plugin {
 public:
  std::string name() const override { return "main"; }
  void add_options(OptionParser& parser) override;
  // Values the parser cannot judge alone: a negative --maxfail, a malformed shard, time-out,
  // rerun count, delay or pattern.
  void configure(Config& config) override;
  void register_fixtures(FixtureRegistry& registry) override;
};

}  // namespace tovik::runner
