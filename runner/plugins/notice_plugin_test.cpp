#include "runner/plugins/notice_plugin.hpp"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "support/base/printable.hpp"

namespace tovik::runner {
namespace {

TEST(NoticePlugin, RecordHoldsTheCountsAFixedDurationAndTheLocalFinishTime) {
  ::setenv("TZ", "CST-8", 1);  // a POSIX zone: no tzdata needed
  ::tzset();
  Summary s;
  s.passed = 7;
  s.failed = 2;
  s.errors = 1;
  s.skipped = 3;
  s.seconds = 12.345;
  const Dict r = NoticePlugin::record(s, 13, 20, 1765260000);  // 2025-12-09 06:00:00 UTC
  EXPECT_EQ(repr(Value(r)),
            "{'total': 20, 'select': 13, 'passed': 7, 'failed': 2, 'error': 1, 'skipped': 3, "
            "'tims': '12.35', 'date': '2025-12-09 14:00:00'}");
  s.seconds = 0.004;
  EXPECT_EQ(NoticePlugin::record(s, 1, 1, 0).at("tims"), Value("0.00"));
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace tovik::runner
