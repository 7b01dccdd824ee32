#include "support/base/wire.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik {
namespace {

// Any bytes survive (NULs, invalid UTF-8), and a cut or damaged record is an error, not a read
// past its end or a huge allocation.
TEST(Wire, TextsAndNumbersComeBackAsWrittenAndDamageIsRefused) {
  std::string binary("\0\xff\x89PNG\r\n", 8);
  WireOut out;
  out.text("用例").number(-42).text(binary).flag(true).text("");
  const std::string bytes = out.take();

  WireIn in(bytes);
  EXPECT_EQ(in.text(), "用例");
  EXPECT_EQ(in.number(), -42);
  EXPECT_EQ(in.text(), binary);
  EXPECT_TRUE(in.flag());
  EXPECT_EQ(in.text(), "");
  EXPECT_TRUE(in.at_end());

  // "用例" is 6 bytes after its 8-byte length: 10 bytes are not enough
  EXPECT_THROW(WireIn(std::string_view(bytes).substr(0, 10)).text(), ValueError);

  WireOut huge;
  huge.number(1'000'000'000);
  EXPECT_THROW(WireIn(huge.bytes()).count(), ValueError);
  WireOut negative;
  negative.number(-1);
  EXPECT_THROW(WireIn(negative.bytes()).text(), ValueError);
}

}  // namespace
}  // namespace tovik
