#include "runner/plugins/terminal.hpp"

#include <sstream>

#include <gtest/gtest.h>

namespace tovik::runner {

TEST(Terminal, ClosingLineCountsAndRules) {
  Summary s;
  s.passed = 3;
  s.failed = 1;
  s.seconds = 0.4213;
  EXPECT_EQ(TerminalReporter::counts_line(s), "1 failed, 3 passed in 0.42s");
  s = Summary{};
  s.skipped = 2;
  s.deselected = 1;
  s.errors = 1;
  s.collect_errors = 1;
  EXPECT_EQ(TerminalReporter::counts_line(s), "2 skipped, 1 deselected, 2 errors in 0.00s");
  EXPECT_EQ(TerminalReporter::counts_line(Summary{}), "no tests ran in 0.00s");
  s = Summary{};
  s.passed = 1;
  s.seconds = 75;
  EXPECT_EQ(TerminalReporter::counts_line(s), "1 passed in 75.00s (0:01:15)");
  EXPECT_EQ(TerminalReporter::rule("ab", '=', 10), "=== ab ===");
  // wide characters take two columns
  EXPECT_EQ(TerminalReporter::rule("中文", '_', 12), "___ 中文 ___");
}

}  // namespace tovik::runner
