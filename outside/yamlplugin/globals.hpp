// Template globals of YAML cases: names that later templates of the same run can refer to.
// One mapping per run, owned by the run's Exchange, so two runs in one process never see each
// other's values.
#pragma once

#include "support/base/value.hpp"

namespace tovik::yamlplugin {

class TemplateGlobals {
 public:
  // The mapping, in the order entries were first added.
  Dict& env_globals() { return globals_; }
  const Dict& env_globals() const { return globals_; }
  // Adds or replaces entries; a replaced entry keeps its place.
  void add_globals(const Dict& entries) { globals_.update(entries); }

 private:
  Dict globals_;
};

}  // namespace tovik::yamlplugin
