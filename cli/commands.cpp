#include "cli/commands.hpp"

#include "cli/run_config.hpp"
#include "runner/main.hpp"

namespace tovik::cli {

namespace {

int run_unguarded(const std::vector<std::string>& runner_args, const std::vector<runner::Plugin*>& plugins) {
  const std::vector<std::string> args(runner_args.begin(), runner_args.end());
  return runner::main(args, plugins);
}

// Loading the command library offers main_with to code that only holds the runner.
const bool kHookInstalled = (install_main_with(), true);

}  // namespace

int run(const std::vector<std::string>& runner_args, const std::vector<runner::Plugin*>& plugins) {
  return write_pytest_ini(run_unguarded)(runner_args, plugins);
}

int main_with(const std::filesystem::path& path, const std::vector<std::string>& runner_args,
              const std::vector<runner::Plugin*>& plugins) {
  switch_test_dir in_suite(path, true);
  return run(runner_args, plugins);
}

void install_main_with() {
  (void)kHookInstalled;
  auto& hook = runner::main_with();
  if (!hook) hook = [](const std::filesystem::path& p, const std::vector<std::string>& a,
                       const std::vector<runner::Plugin*>& pl) { return main_with(p, a, pl); };
}

}  // namespace tovik::cli
