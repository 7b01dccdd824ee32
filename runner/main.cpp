#include "runner/main.hpp"

#include <iostream>

#include "runner/plugins/allure_plugin.hpp"
#include "runner/plugins/browser_plugin.hpp"
#include "runner/plugins/junit.hpp"
#include "runner/plugins/last_failed.hpp"
#include "runner/plugins/main_plugin.hpp"
#include "runner/plugins/notice_plugin.hpp"
#include "runner/plugins/terminal.hpp"
#include "runner/plugins/workbook_plugin.hpp"
#include "runner/plugins/yaml_plugin.hpp"
#include "runner/session.hpp"
#include "runner/worker.hpp"
#include "support/base/errors.hpp"

namespace tovik::runner {

std::vector<std::unique_ptr<Plugin>> builtin_plugins() {
  std::vector<std::unique_ptr<Plugin>> out;
  out.push_back(std::make_unique<MainPlugin>());
  out.push_back(std::make_unique<TerminalReporter>(std::cout));
  out.push_back(std::make_unique<WorkbookPlugin>());
  out.push_back(std::make_unique<YamlPlugin>());
  out.push_back(std::make_unique<BrowserPlugin>());
  out.push_back(std::make_unique<AllurePlugin>());
  out.push_back(std::make_unique<JunitPlugin>());
  out.push_back(std::make_unique<NoticePlugin>());
  out.push_back(std::make_unique<LastFailedPlugin>());
  return out;
}

std::unique_ptr<PreparedConfig> prepare_config(const std::vector<std::string>& args, const std::vector<Plugin*>& plugins) {
  auto prepared = std::make_unique<PreparedConfig>();
  prepared->builtins = builtin_plugins();
  Config& c = prepared->config;
  for (auto& p : prepared->builtins) c.plugins.push_back(p.get());
  for (Plugin* p : plugins)
    if (p) c.plugins.push_back(p);
  load_config(c, args);
  return prepared;
}

int main(const std::vector<std::string>& args, const std::vector<Plugin*>& plugins) {
  try {
    auto prepared = prepare_config(args, plugins);
    Config& c = prepared->config;
    if (c.flag_option("help")) {
      std::cout << "用法: tovik run [选项] [file_or_dir] [file_or_dir] [...]\n\n选项:\n" << c.parser.help();
      return kOk;
    }
    return c.worker ? run_worker(c) : run_session(c);
  } catch (const UsageError& e) {
    std::cerr << "ERROR: " << e.what() << "\n";
    return kUsageError;
  } catch (const std::exception& e) {
    std::cerr << "INTERNALERROR> " << describe_error(e) << "\n";
    return kInternalError;
  }
}

MainWith& main_with() {
  static MainWith hook;
  return hook;
}

}  // namespace tovik::runner
