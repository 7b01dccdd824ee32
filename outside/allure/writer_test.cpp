#include "outside/allure/writer.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

namespace tovik::allure {

namespace fs = std::filesystem;

TEST(ResultsWriter, WritesResultAndAttachmentFilesThatReadBack) {
  const fs::path dir = fs::temp_directory_path() / ("tovik_allure_w_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  ResultsWriter w(dir / "nested" / "results");
  std::ofstream(w.dir() / "old-result.json") << "{}";
  w.clean();
  EXPECT_TRUE(fs::is_empty(w.dir()));

  TestResult r;
  r.name = "登录";
  r.fullName = "cases/test_login.xlsx::登录";
  r.status = Status::Failed;
  r.statusDetails.message = "AssertionError: bad \xff byte";
  StepResult s;
  s.name = "第 2 行 assert";
  s.attachments.push_back({"page", "text/plain", "", "内容"});
  r.steps.push_back(s);
  r.attachments.push_back({"log", "text/plain", "", "INFO line\n"});
  w.write(r);

  int results = 0, attachments = 0;
  for (const auto& e : fs::directory_iterator(w.dir())) {
    const std::string name = e.path().filename().string();
    EXPECT_NE(name[0], '.') << "temporary file left: " << name;
    if (name.size() > 12 && name.compare(name.size() - 12, 12, "-result.json") == 0) ++results;
    if (name.find("-attachment.txt") != std::string::npos) ++attachments;
  }
  EXPECT_EQ(results, 1);
  EXPECT_EQ(attachments, 2);
  std::ifstream in(w.dir() / (r.uuid + "-result.json"));
  std::stringstream text;
  text << in.rdbuf();
  const Json j = Json::parse(text.str());  // valid UTF-8 even though the message was not
  EXPECT_EQ(j["testCaseId"], md5_hex("cases/test_login.xlsx::登录"));
  EXPECT_EQ(j["status"], "failed");
  const std::string source = j["steps"][0]["attachments"][0]["source"];
  std::ifstream att(w.dir() / source);
  std::stringstream body;
  body << att.rdbuf();
  EXPECT_EQ(body.str(), "内容");
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  fs::remove_all(dir);
}

TEST(ResultsWriter, CleanRemovesOnlyWhatAllureResultsAreMadeOf) {
  const fs::path dir = fs::temp_directory_path() / ("tovik_allure_clean_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  ResultsWriter w(dir);
  for (const char* ours : {"a1-result.json", "b2-container.json", "c3-attachment.txt", "environment.properties",
                           "categories.json", "executor.json", ".x-result.json.part"})
    std::ofstream(dir / ours) << "x";
  fs::create_directories(dir / "history");
  std::ofstream(dir / "history" / "history.json") << "{}";
  for (const char* theirs : {"test_login.xlsx", "pytest.ini", "notes-result.txt", "result.json", "readme.md"})
    std::ofstream(dir / theirs) << "keep";
  fs::create_directories(dir / "cases");
  w.clean();
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"cases", "notes-result.txt", "pytest.ini", "readme.md", "result.json",
                                            "test_login.xlsx"}));
  fs::remove_all(dir);
}

}  // namespace tovik::allure
