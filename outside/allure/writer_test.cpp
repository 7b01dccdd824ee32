#include "outside/allure/writer.hpp"

#include "outside/allure/background_writer.hpp"
#include "outside/allure/step.hpp"
#include "support/base/secrets.hpp"

#include <algorithm>
#include <chrono>
#include <thread>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
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

// A directory of nothing but results is swapped for a new one at once; the old files (and those
// an interrupted run left aside) are reused for the new results, each whole when it appears, and
// what is not reused goes at the end. A symbolic link stays a link.
TEST(ResultsWriter, CleanPutsAWholeResultsDirectoryAsideAndReusesItsFiles) {
  const fs::path base = fs::temp_directory_path() / ("tovik_allure_aside_" + std::to_string(::getpid()));
  fs::remove_all(base);
  const fs::path dir = base / "results";
  fs::create_directories(base / ".results.tovik-old-0badf00d" / "history");
  std::ofstream(base / ".results.tovik-old-0badf00d" / "x-result.json") << "{}";
  std::ofstream(base / ".other.tovik-old-12345678") << "not ours to remove";
  std::set<ino_t> old_inodes;
  const auto inode = [](const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_ino;
  };
  {
    ResultsWriter w(dir / "");  // a trailing slash names the same directory
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    for (int i = 0; i < 5; ++i) std::ofstream(dir / (std::to_string(i) + "-result.json")) << std::string(5000, 'x');
    std::ofstream(dir / "environment.properties") << "a = b\n";
    for (const auto& e : fs::directory_iterator(dir)) old_inodes.insert(inode(e.path()));
    old_inodes.insert(inode(base / ".results.tovik-old-0badf00d" / "x-result.json"));
    w.clean();
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);

    for (int i = 0; i < 9; ++i) {
      TestResult r;
      r.fullName = "test_a.xlsx::" + std::to_string(i);
      w.write(r);
    }
    int reused = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
      std::ifstream in(e.path());
      EXPECT_EQ(Json::parse(in)["fullName"].get<std::string>().rfind("test_a.xlsx::", 0), 0u);  // no old bytes left
      reused += static_cast<int>(old_inodes.count(inode(e.path())));
    }
    EXPECT_EQ(reused, 7);  // every old file, then new ones
    w.finish_clean();
  }
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(base)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".other.tovik-old-12345678", "results"}));

  const fs::path real = base / "real";
  fs::create_directories(real);
  fs::create_directory_symlink(real, base / "link");
  std::ofstream(real / "a-result.json") << "{}";
  ResultsWriter linked(base / "link");
  linked.clean();
  linked.finish_clean();
  EXPECT_TRUE(fs::is_symlink(base / "link"));
  EXPECT_TRUE(fs::is_empty(real));
  fs::remove_all(base);
}

// Results written on the writer's thread are all there, whole, after finish(); attachments
// without content are left out; a result that cannot be written is reported by its case.
TEST(BackgroundWriter, WritesEverySubmittedResultAndReportsFailures) {
  const fs::path dir = fs::temp_directory_path() / ("tovik_allure_bg_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  {
    BackgroundWriter w(dir);
    w.writer().clean();
    for (int i = 0; i < 3 * static_cast<int>(BackgroundWriter::kQueueLimit); ++i) {
      TestResult r;
      r.name = "case " + std::to_string(i);
      r.fullName = "test_a.xlsx::" + r.name;
      r.attachments.push_back({"log", "text/plain", "", "line " + std::to_string(i)});
      StepResult s;
      s.attachments.push_back({"empty", "text/plain", "", ""});
      r.steps.push_back(s);
      w.submit(std::move(r));
    }
    EXPECT_TRUE(w.finish().empty());
    int results = 0, attachments = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name.find("-attachment.") != std::string::npos) ++attachments;
      if (name.size() <= 12 || name.compare(name.size() - 12, 12, "-result.json") != 0) continue;
      ++results;
      std::ifstream in(e.path());
      const Json j = Json::parse(in);
      EXPECT_TRUE(j["steps"][0]["attachments"].empty()) << name;
    }
    EXPECT_EQ(results, 3 * static_cast<int>(BackgroundWriter::kQueueLimit));
    EXPECT_EQ(attachments, results);

    // the directory turns into a file: the next results fail, and say which case they were
    fs::remove_all(dir);
    std::ofstream(dir) << "";
    TestResult lost;
    lost.fullName = "test_b.xlsx::丢失";
    w.submit(std::move(lost));
    const std::vector<std::string> failures = w.finish();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind("test_b.xlsx::丢失: cannot write ", 0), 0u) << failures[0];
  }
  fs::remove(dir);
}

// Attachments made while a case runs go out at once; a secret that becomes known later is still
// masked in them by the time the case's result is written.
TEST(BackgroundWriter, AttachmentsOfARunningCaseAreWrittenAheadAndMaskedLater) {
  const fs::path dir = fs::temp_directory_path() / ("tovik_allure_ahead_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  {
    BackgroundWriter w(dir);
    TestResult r;
    r.fullName = "test_a.xlsx::早写";
    {
      ScopedTest scope(r, &w);
      {
        Step s("请求");
        s.attach("response", "text/plain", "token=late-secret-42");
      }
      attach("log", "text/plain", "");  // nothing to write
    }
    ASSERT_EQ(r.steps.at(0).attachments.size(), 1u);
    const Attachment& a = r.steps[0].attachments[0];
    EXPECT_TRUE(a.content.empty());  // handed to the writer
    EXPECT_NE(a.source.find("-attachment.txt"), std::string::npos);
    const std::string source = a.source;
    ASSERT_EQ(r.attachments.size(), 1u);
    EXPECT_TRUE(r.attachments[0].source.empty());
    // the file is written while the case would still run
    for (int i = 0; i < 200 && !fs::exists(dir / source); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(fs::exists(dir / source));

    secrets::add("late-secret-42");
    w.submit(std::move(r));
    EXPECT_TRUE(w.finish().empty());
    std::ifstream in(dir / source);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "token=******");
  }
  secrets::clear();
  fs::remove_all(dir);
}

// Results go to the threads in batches, but a short batch does not wait for the next case: the
// results of cases that ended are on disk while a slow case runs.
TEST(BackgroundWriter, EndedCasesAreOnDiskWhileTheNextRuns) {
  const fs::path dir = fs::temp_directory_path() / ("tovik_allure_age_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  {
    BackgroundWriter w(dir);
    for (int i = 0; i < 3; ++i) {
      TestResult r;
      r.fullName = "test_a.xlsx::case " + std::to_string(i);
      w.submit(std::move(r));
    }
    const auto results = [&] {
      int n = 0;
      for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().ends_with("-result.json");
      return n;
    };
    for (int i = 0; i < 400 && results() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(results(), 3);  // no finish() yet
    EXPECT_TRUE(w.finish().empty());
  }
  fs::remove_all(dir);
}

}  // namespace tovik::allure
