// The configuration of one run: options from [pytest] addopts and the command line, the ini
// values, and the active plug-ins; and how it is read.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runner/options.hpp"
#include "support/base/value.hpp"

namespace tovik::runner {

class Plugin;

class Config {
 public:
  // The value of an option some plug-in registered; a dest nobody registered is a ValueError.
  Value getoption(const std::string& dest) const;
  // Convenience typed forms.
  std::string text_option(const std::string& dest) const;
  std::int64_t int_option(const std::string& dest) const;
  bool flag_option(const std::string& dest) const;

  // A [pytest] value, or fallback when the key is absent.
  std::string ini(const std::string& key, const std::string& fallback = "") const;
  bool has_ini(const std::string& key) const;

  std::filesystem::path rootdir;      // the directory the run started in
  std::filesystem::path inifile;      // pytest.ini when present, else empty
  std::vector<std::pair<std::string, std::string>> ini_values;
  std::vector<std::string> args;      // the full argument list after addopts
  std::vector<std::string> given;     // the arguments as given, before addopts (a worker gets them)
  // In a worker process of a parallel run (-n), its number from 1; 0 in the controller and in a
  // serial run.
  int worker = 0;
  std::vector<std::string> paths;     // positional arguments (or testpaths)
  Dict options;
  OptionParser parser;
  std::vector<Plugin*> plugins;       // built-in first, then the caller's
};

// Fills config for a run with args, config.plugins being set: [pytest] of pytest.ini in the
// current directory (the rootdir), the options every plug-in declares, addopts before args,
// "-o key=value" overrides of [pytest] values, the paths (else testpaths, else "."); then lets
// every plug-in configure itself. UsageError for bad options, a broken pytest.ini or addopts.
void load_config(Config& config, const std::vector<std::string>& args);

}  // namespace tovik::runner
