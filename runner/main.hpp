// The runner's entry: one run with the built-in plug-ins and the caller's, as pytest.main is.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runner/config.hpp"
#include "runner/plugin.hpp"
#include "runner/report.hpp"

namespace tovik::runner {

// One run with the arguments (after [pytest] addopts) and the extra plug-ins; returns the exit
// status. Never throws: usage errors print "ERROR: ..." (4), anything unexpected
// "INTERNALERROR> ..." (3) on standard error.
int main(const std::vector<std::string>& args, const std::vector<Plugin*>& plugins = {});

// The configuration main() would run with, without running anything. The Config keeps pointers
// to the built-in plug-ins it created, so it owns them: keep it alive while using them.
struct PreparedConfig {
  std::vector<std::unique_ptr<Plugin>> builtins;
  Config config;
  Value getoption(const std::string& dest) const { return config.getoption(dest); }
};
// Throws UsageError for bad options or a broken pytest.ini.
std::unique_ptr<PreparedConfig> prepare_config(const std::vector<std::string>& args,
                                               const std::vector<Plugin*>& plugins = {});

// Starts the suite in a directory: set by the command library once, for code that only holds
// the runner. Empty until then.
using MainWith = std::function<int(const std::filesystem::path&, const std::vector<std::string>&,
                                   const std::vector<Plugin*>&)>;
MainWith& main_with();

// The built-in plug-ins main() always uses, in order, before the caller's: the runner's own
// options, the terminal, workbook cases, browser fixtures, allure results, JUnit XML, run
// summaries to the notice channels.
std::vector<std::unique_ptr<Plugin>> builtin_plugins();

}  // namespace tovik::runner
