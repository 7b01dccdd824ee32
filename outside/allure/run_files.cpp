#include "outside/allure/run_files.hpp"

#include <cstdlib>

#include "support/base/value_json.hpp"

namespace tovik::allure {

namespace {

std::string env_text(const EnvLookup& env, const char* name) {
  const char* v = env(name);
  return v ? std::string(v) : std::string();
}

// Java's regular expressions, as the report generator reads them: the kind taken literally.
std::string kind_pattern(const std::string& kind) { return "(?s)\\Q" + kind + "\\E(:.*)?"; }

}  // namespace

const char* process_env(const char* name) { return std::getenv(name); }

std::string url_without_credentials(const std::string& url) {
  const auto scheme = url.find("://");
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t end = url.find_first_of("/?#", start);
  const std::size_t at = url.rfind('@', end == std::string::npos ? url.size() : end);
  if (at == std::string::npos || at < start) return url;
  return url.substr(0, start) + url.substr(at + 1);
}

std::vector<std::pair<std::string, std::string>> environment_entries(const std::string& version,
                                                                     const std::string& platform,
                                                                     const std::set<std::string>& browsers,
                                                                     const std::string& base_url) {
  std::vector<std::pair<std::string, std::string>> out{{"tovik", version}, {"平台", platform}};
  if (!browsers.empty()) {
    std::string joined;
    for (const auto& b : browsers) joined += (joined.empty() ? "" : ", ") + b;
    out.emplace_back("浏览器", joined);
  }
  if (!base_url.empty()) out.emplace_back("base_url", url_without_credentials(base_url));
  return out;
}

std::string executor_json(const EnvLookup& env) {
  Json j{{"name", "tovik"}, {"type", "tovik"}};
  std::string build_name, build_url, order, url;
  if (!env_text(env, "JENKINS_URL").empty()) {
    j["type"] = "jenkins";
    url = env_text(env, "JENKINS_URL");
    order = env_text(env, "BUILD_NUMBER");
    build_name = env_text(env, "BUILD_DISPLAY_NAME");
    if (build_name.empty() && !env_text(env, "JOB_NAME").empty()) build_name = env_text(env, "JOB_NAME") + " #" + order;
    build_url = env_text(env, "BUILD_URL");
  } else if (!env_text(env, "GITLAB_CI").empty()) {
    j["type"] = "gitlab";
    url = env_text(env, "CI_PROJECT_URL");
    order = env_text(env, "CI_PIPELINE_IID");
    build_name = env_text(env, "CI_JOB_NAME") + " #" + env_text(env, "CI_JOB_ID");
    build_url = env_text(env, "CI_JOB_URL");
  } else if (env_text(env, "GITHUB_ACTIONS") == "true") {
    j["type"] = "github";
    const std::string repo = env_text(env, "GITHUB_SERVER_URL") + "/" + env_text(env, "GITHUB_REPOSITORY");
    url = repo;
    order = env_text(env, "GITHUB_RUN_NUMBER");
    build_name = env_text(env, "GITHUB_WORKFLOW") + " #" + order;
    build_url = repo + "/actions/runs/" + env_text(env, "GITHUB_RUN_ID");
  }
  if (const std::string own = env_text(env, "TOVIK_BUILD_NAME"); !own.empty()) build_name = own;
  if (!url.empty()) j["url"] = url;
  if (!build_name.empty()) j["buildName"] = build_name;
  if (!build_url.empty()) j["buildUrl"] = build_url;
  // the report orders its trend by this number; only a whole one means anything there
  if (!order.empty() && order.find_first_not_of("0123456789") == std::string::npos && order.size() < 10)
    j["buildOrder"] = std::stol(order);
  return j.dump(2) + "\n";
}

std::string categories_json(const std::set<std::string>& broken_kinds) {
  Json list = Json::array();
  list.push_back({{"name", "超时"},
                  {"matchedStatuses", {"failed", "broken"}},
                  {"messageRegex", "(?s)(TimeoutException|TimeoutError|CaseTimeout)(:.*)?"}});
  list.push_back({{"name", "驱动故障"}, {"matchedStatuses", {"broken"}}, {"messageRegex", kind_pattern("WebDriverException")}});
  list.push_back({{"name", "产品缺陷"}, {"matchedStatuses", {"failed"}}, {"messageRegex", kind_pattern("AssertionError")}});
  for (const std::string& kind : broken_kinds) {
    if (kind == "TimeoutException" || kind == "TimeoutError" || kind == "CaseTimeout" || kind == "WebDriverException")
      continue;
    list.push_back({{"name", "测试缺陷（" + kind + "）"}, {"matchedStatuses", {"broken"}}, {"messageRegex", kind_pattern(kind)}});
  }
  list.push_back({{"name", "测试缺陷"}, {"matchedStatuses", {"broken"}}});
  return list.dump(2) + "\n";
}

}  // namespace tovik::allure
