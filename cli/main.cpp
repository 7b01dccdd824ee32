// The tovik command.
#include <iostream>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.hpp"
#include "support/base/errors.hpp"
#include "version.hpp"

int main(int argc, char** argv) {
  CLI::App app{"tovik: 关键字驱动的自动化测试框架"};
  app.set_version_flag("--version", std::string("tovik ") + tovik::kTovikVersion);
  app.require_subcommand(0, 1);

  auto* run = app.add_subcommand("run", "启动框架 执行用例，可传递pytest参数拉控制执行");
  // everything after "run" belongs to the runner, options included
  run->prefix_command();
  run->allow_extras();
  run->set_help_flag();  // "tovik run -h" shows the runner's options

  // "run" hands its arguments to the runner untouched: CLI11 ends a subcommand at "--" and
  // rejects what follows, while the runner reads "--" as the end of its options
  const bool direct_run = argc >= 2 && std::string_view(argv[1]) == "run";
  if (!direct_run) {
    CLI11_PARSE(app, argc, argv);
    if (app.get_subcommands().empty()) {
      std::cout << app.help();
      return 4;
    }
  }

  try {
    if (direct_run) return tovik::cli::run(std::vector<std::string>(argv + 2, argv + argc));
    if (run->parsed()) return tovik::cli::run(run->remaining());
  } catch (const std::exception& e) {
    std::cerr << tovik::describe_error(e) << "\n";
    return 3;
  }
  return 0;
}
