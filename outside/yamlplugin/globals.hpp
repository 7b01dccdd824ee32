// Template globals of YAML cases: names that later templates of the run can refer to.
#pragma once

#include "support/base/value.hpp"

namespace tovik::yamlplugin {

// The mapping, in the order entries were first added.
Dict& env_globals();
// Adds or replaces entries.
void add_globals(const Dict& entries);

}  // namespace tovik::yamlplugin
