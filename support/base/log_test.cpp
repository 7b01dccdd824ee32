#include "support/base/log.hpp"

#include <gtest/gtest.h>

namespace tovik::log {

TEST(Log, SinksInstalledLaterReachExistingLoggers) {
  auto logger = get("tovik.lexa");
  EXPECT_EQ(logger, lexa());
  auto capture = std::make_shared<CaptureSink>();
  capture->set_pattern("%n %l %v");
  add_sink(capture);
  logger->info("正在执行关键字: 【{}】{}", "click", "('a',)");
  pytest()->debug("hidden at info level");
  set_level(spdlog::level::debug);
  pytest()->debug("shown at debug level");
  set_level(spdlog::level::info);
  remove_sink(capture);
  logger->info("after removal");

  const auto records = capture->records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].logger, "tovik.lexa");
  EXPECT_EQ(records[0].message, "正在执行关键字: 【click】('a',)");
  EXPECT_EQ(records[1].logger, "tovik.pytest");
  EXPECT_EQ(capture->text(), "tovik.lexa info 正在执行关键字: 【click】('a',)\ntovik.pytest debug shown at debug level\n");
}

TEST(Log, CaptureKeepsLongRunsOfLinesExactlyOnce) {
  auto capture = std::make_shared<CaptureSink>();
  capture->set_pattern("%n|%v");
  add_sink(capture);
  std::string expected;
  const std::string big(100 * 1024, 'x');  // longer than a chunk of the capture
  for (int i = 0; i < 3000; ++i) {
    const std::string msg = i == 1500 ? big : "第 " + std::to_string(i) + " 行 |" + std::string(static_cast<std::size_t>(i % 50), 'y');
    (i % 2 ? lexa() : sender())->info("{}", msg);
    expected += (i % 2 ? "tovik.lexa|" : "tovik.sender|") + msg + "\n";
  }
  remove_sink(capture);
  const auto records = capture->records();
  ASSERT_EQ(records.size(), 3000u);
  EXPECT_EQ(records[1500].message, big);
  EXPECT_EQ(records[2999].logger, "tovik.lexa");
  EXPECT_EQ(records[2998].message, "第 2998 行 |" + std::string(48, 'y'));
  EXPECT_EQ(capture->text(), expected);
  EXPECT_EQ(capture->take_text(), expected);
  EXPECT_EQ(capture->text(), "");
  EXPECT_TRUE(capture->records().empty());

  // a pattern without the message still keeps the messages
  capture->set_pattern("%l");
  add_sink(capture);
  lexa()->info("kept aside");
  remove_sink(capture);
  EXPECT_EQ(capture->messages(), std::vector<std::string>{"kept aside"});
  EXPECT_EQ(capture->text(), "info\n");
}

}  // namespace tovik::log
