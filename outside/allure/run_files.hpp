// The files of a results directory that describe the run rather than a case: they fill the
// report's Overview (environment, executor) and its Categories tab.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tovik::allure {

// The environment variable of that name, or null: the environment itself, or a test's own.
using EnvLookup = std::function<const char*(const char*)>;
const char* process_env(const char* name);

// environment.properties entries: the tovik version, the platform, the browsers that ran (name
// and version, when any did) and the API base URL (when one is set) without user name or password.
std::vector<std::pair<std::string, std::string>> environment_entries(const std::string& version,
                                                                     const std::string& platform,
                                                                     const std::set<std::string>& browsers,
                                                                     const std::string& base_url);
// The URL without its "user:password@" part.
std::string url_without_credentials(const std::string& url);

// executor.json: name "tovik"; the build from TOVIK_BUILD_NAME, else from the build variables of
// Jenkins, GitLab CI or GitHub Actions when the run is one of their jobs (type, build name,
// number and URL).
std::string executor_json(const EnvLookup& env);

// categories.json, matched in this order (allure takes the first that fits): time-outs, driver
// failures, product defects (assertion failures), then test defects, one category for each error
// kind of the broken cases (broken_kinds) and one for any other.
std::string categories_json(const std::set<std::string>& broken_kinds);

}  // namespace tovik::allure
