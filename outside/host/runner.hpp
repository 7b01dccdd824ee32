// The host test runner: collects case files, runs their cases, tells the plug-ins.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "outside/host/config.hpp"
#include "outside/host/plugin.hpp"

namespace tovik::host {

// Exit statuses, as pytest's.
enum ExitStatus : int {
  kOk = 0,
  kTestsFailed = 1,
  kInterrupted = 2,
  kInternalError = 3,
  kUsageError = 4,
  kNoTestsCollected = 5,
};

// One run with the arguments (after [pytest] addopts) and the extra plug-ins; returns the exit
// status. Never throws.
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

// The built-in plug-ins main() always uses, in order, before the caller's.
std::vector<std::unique_ptr<Plugin>> builtin_plugins();

}  // namespace tovik::host
