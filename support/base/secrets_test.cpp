#include "support/base/secrets.hpp"

#include <gtest/gtest.h>

namespace tovik::secrets {

TEST(Secrets, MaskedByValueInEveryFormTheyAreWrittenIn) {
  clear();
  EXPECT_FALSE(any());
  EXPECT_EQ(redact("Bearer s3cr\"et/1"), "Bearer s3cr\"et/1");
  add("abc");  // too short to mask without masking everything
  EXPECT_FALSE(any());
  add("s3cr\"et/1");
  add("s3cr");  // a secret inside another: the longer one goes first, whole
  ASSERT_TRUE(any());
  EXPECT_EQ(redact("Authorization: Bearer s3cr\"et/1, again s3cr\"et/1"), "Authorization: Bearer ******, again ******");
  EXPECT_EQ(redact(R"({"Authorization": "Bearer s3cr\"et/1"})"), R"({"Authorization": "Bearer ******"})");  // JSON
  EXPECT_EQ(redact(R"(('s3cr"et/1',))"), "('******',)");                                                  // repr
  EXPECT_EQ(redact("https://h/send?key=s3cr%22et%2F1&x=1"), "https://h/send?key=******&x=1");             // URL
  EXPECT_EQ(redact("only s3cr here"), "only ****** here");
  std::string s = "nothing to see";
  EXPECT_FALSE(redact_in_place(s));
  clear();
  EXPECT_EQ(redact("s3cr"), "s3cr");
}

}  // namespace tovik::secrets
