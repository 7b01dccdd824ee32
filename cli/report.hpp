// 调用allure，生成HTML报告 / out_dir 报告速输出目录，默认: ./report
//
// report turns the allure results of a run into the HTML report with the allure program and, on
// request, announces it and serves it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runner/plugin.hpp"

namespace tovik::cli {

// Guarded like run (pytest.ini made when missing). The results directory is the runner option
// "allure_report_dir" of runner_args (and addopts); the report goes to the setting
// allure_report. Prints and returns nullopt for its three expected failures (results option
// empty, results missing, generate failed); true after a report. With s (or allure_show) the
// report notice is queued, then the report is served on allure_local_port until that server
// ends (Ctrl-C ends it and report still returns true). The allure program runs without a shell.
// A runner option nobody registered, and errors of the runner configuration, pass on.
std::optional<bool> report(bool s = false, const std::vector<std::string>& runner_args = {},
                           const std::vector<runner::Plugin*>& plugins = {});

// The allure program that allure_path names: the name as given when it is a path or on PATH;
// for the bare name "allure" not on PATH, the set-up's own copy beside the program (a checkout's
// tools/node_modules/.bin/allure above build/bin, or an installed
// <prefix>/share/tovik/tools/node_modules/.bin/allure) when there is one.
std::string allure_program(const std::string& allure_path);

}  // namespace tovik::cli
