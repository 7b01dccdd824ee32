#include "support/base/base64.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik {
namespace {

// The RFC 4648 vectors both ways, every byte value through a round trip, and the decoder's
// tolerance of line breaks (mail wraps at 76) but not of anything else.
TEST(Base64, EncodesAndDecodesEveryByte) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, coded] : vectors) {
    EXPECT_EQ(base64_encode(plain), coded);
    EXPECT_EQ(base64_decode(coded), plain);
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (std::size_t cut = 0; cut < 4; ++cut) EXPECT_EQ(base64_decode(base64_encode(all.substr(cut))), all.substr(cut));
  EXPECT_EQ(base64_decode("Zm9v\r\nYmFy\n"), "foobar");
  EXPECT_EQ(base64_decode("Zm9vYg"), "foob");  // padding left out, as some servers do
}

TEST(Base64, RefusesWhatIsNotBase64) {
  EXPECT_THROW(base64_decode("Zm9v!"), ValueError);
  EXPECT_THROW(base64_decode("Zg==Zg=="), ValueError);
  EXPECT_THROW(base64_decode("Z"), ValueError);
  EXPECT_THROW(base64_decode("Zg==="), ValueError);
}

}  // namespace
}  // namespace tovik
