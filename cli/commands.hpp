// The operations behind the tovik command line.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "runner/plugin.hpp"

namespace tovik::cli {

// 启动框架 执行用例，可传递pytest参数拉控制执行: runs the host runner with the arguments after
// making sure pytest.ini exists; returns the runner's exit status.
int run(const std::vector<std::string>& runner_args = {}, const std::vector<runner::Plugin*>& plugins = {});

// run() inside the suite's directory (path may name a file in it); the caller's current
// directory is restored afterwards.
int main_with(const std::filesystem::path& path, const std::vector<std::string>& runner_args = {},
              const std::vector<runner::Plugin*>& plugins = {});

// Sets the runner's main_with hook to ours unless one is already set.
void install_main_with();

}  // namespace tovik::cli
