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

}  // namespace tovik::log
