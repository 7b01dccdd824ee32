#include "outside/allure/run_files.hpp"

#include <gtest/gtest.h>

#include <map>

#include "support/base/value_json.hpp"

namespace tovik::allure {
namespace {

EnvLookup env_of(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> const char* {
    auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
}

TEST(RunFiles, EnvironmentNeverShowsCredentials) {
  EXPECT_EQ(url_without_credentials("https://user:pa@ss@api.test:8443/v1?x=@"), "https://api.test:8443/v1?x=@");
  EXPECT_EQ(url_without_credentials("http://api.test/a@b"), "http://api.test/a@b");
  EXPECT_EQ(url_without_credentials("api.test"), "api.test");
  const auto entries = environment_entries("1.2.3", "Linux x86_64", {"chrome 120.0", "firefox 115.0"}, "http://u:p@h:1/");
  const std::vector<std::pair<std::string, std::string>> want{
      {"tovik", "1.2.3"}, {"平台", "Linux x86_64"}, {"浏览器", "chrome 120.0, firefox 115.0"}, {"base_url", "http://h:1/"}};
  EXPECT_EQ(entries, want);
  EXPECT_EQ(environment_entries("1", "p", {}, "").size(), 2u);  // no browser ran, no base URL set
}

TEST(RunFiles, ExecutorNamesTheBuildOfEachCi) {
  Json j = Json::parse(executor_json(env_of({})));
  EXPECT_EQ(j, (Json{{"name", "tovik"}, {"type", "tovik"}}));

  j = Json::parse(executor_json(env_of({{"JENKINS_URL", "http://ci/"}, {"JOB_NAME", "nightly"}, {"BUILD_NUMBER", "42"},
                                        {"BUILD_URL", "http://ci/job/nightly/42/"}})));
  EXPECT_EQ(j["type"], "jenkins");
  EXPECT_EQ(j["buildName"], "nightly #42");
  EXPECT_EQ(j["buildOrder"], 42);
  EXPECT_EQ(j["buildUrl"], "http://ci/job/nightly/42/");

  j = Json::parse(executor_json(env_of({{"GITHUB_ACTIONS", "true"}, {"GITHUB_SERVER_URL", "https://gh.test"},
                                        {"GITHUB_REPOSITORY", "team/app"}, {"GITHUB_WORKFLOW", "ui"},
                                        {"GITHUB_RUN_NUMBER", "7"}, {"GITHUB_RUN_ID", "991"}, {"TOVIK_BUILD_NAME", "发布前回归"}})));
  EXPECT_EQ(j["type"], "github");
  EXPECT_EQ(j["buildName"], "发布前回归");  // the user's own name wins
  EXPECT_EQ(j["buildUrl"], "https://gh.test/team/app/actions/runs/991");
  EXPECT_EQ(j["buildOrder"], 7);

  j = Json::parse(executor_json(env_of({{"GITLAB_CI", "true"}, {"CI_JOB_NAME", "api"}, {"CI_JOB_ID", "5"},
                                        {"CI_PIPELINE_IID", "not-a-number"}})));
  EXPECT_EQ(j["buildName"], "api #5");
  EXPECT_FALSE(j.contains("buildOrder"));
}

// Order decides (the generator takes the first category that fits): time-outs and driver
// failures before the kinds they would otherwise fall under; one test-defect category per kind.
TEST(RunFiles, CategoriesPutTimeOutsFirstAndSplitBrokenByKind) {
  const Json j = Json::parse(categories_json({"ValueError", "TimeoutException", "CaseTimeout", "Weird.Kind"}));
  std::vector<std::string> names;
  for (const auto& c : j) names.push_back(c["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"超时", "驱动故障", "产品缺陷", "测试缺陷（ValueError）", "测试缺陷（Weird.Kind）", "测试缺陷"}));
  EXPECT_EQ(j[2]["matchedStatuses"], Json({"failed"}));
  EXPECT_EQ(j[4]["messageRegex"], "(?s)\\QWeird.Kind\\E(:.*)?");
  EXPECT_FALSE(j.back().contains("messageRegex"));
}

}  // namespace
}  // namespace tovik::allure
