#include "support/base/printable.hpp"

#include <gtest/gtest.h>

namespace tovik {
TEST(Printable, Smoke) { EXPECT_EQ(repr(Value("a")), "'a'"); }
}
