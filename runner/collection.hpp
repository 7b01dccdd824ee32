// Collection: the files below the run's paths that some plug-in collects, turned into cases.
#pragma once

#include <functional>
#include <vector>

#include "runner/case.hpp"
#include "runner/config.hpp"

namespace tovik::runner {

struct Collected {
  std::vector<TestCase> cases;  // in file order, then in the order each file holds them
  int errors = 0;               // files that matched but could not be collected
};

// Walks config.paths (directories recursively, sorted, skipping hidden and build folders); the
// first plug-in that collects a file collects it, once even when two paths reach it. A file it
// cannot read is reported to on_error and counted; the others go on. UsageError for a path that
// does not exist.
Collected collect(const Config& config, const std::function<void(const CollectError&)>& on_error);

}  // namespace tovik::runner
