#include "runner/selection.hpp"

#include <gtest/gtest.h>

#include <set>

#include "support/base/errors.hpp"

namespace tovik::runner {
namespace {

TEST(Shard, ParsesIOverNAndRefusesTheRest) {
  EXPECT_FALSE(Selection::parse_shard("").has_value());
  const auto s = Selection::parse_shard("2/4");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->index, 2);
  EXPECT_EQ(s->count, 4);
  for (const char* bad : {"3/2", "0/0", "0/3", "1/0", "2", "/2", "1/", "a/b", "-1/2", "1/2/3", " 1/2", "1/99999999999"}) {
    try {
      Selection::parse_shard(bad);
      ADD_FAILURE() << bad << " was taken";
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("--shard 应为 I/N（1 ≤ I ≤ N 的整数，如 2/4），实际为 '", 0), 0u) << e.what();
    }
  }
}

// Every case runs on exactly one machine, the runs differ in length by one at most, and each is
// a stretch of the collection order (a file's cases mostly stay together).
TEST(Shard, TheRunsCoverEveryCaseOnceInOrder) {
  for (int m : {0, 1, 5, 7, 100}) {
    std::vector<TestCase> cases(static_cast<std::size_t>(m));
    std::vector<const TestCase*> all;
    for (auto& c : cases) all.push_back(&c);
    for (int n : {1, 2, 3, 8}) {
      std::vector<const TestCase*> joined;
      std::size_t shortest = SIZE_MAX, longest = 0;
      for (int i = 1; i <= n; ++i) {
        Config config;
        config.options.set("keyword", Value(""));
        config.options.set("markexpr", Value(""));
        config.options.set("shard", Value(std::to_string(i) + "/" + std::to_string(n)));
        const auto part = Selection::from(config).shard(all);
        shortest = std::min(shortest, part.size());
        longest = std::max(longest, part.size());
        joined.insert(joined.end(), part.begin(), part.end());
      }
      EXPECT_EQ(joined, all) << m << " cases in " << n;
      EXPECT_LE(longest - shortest, 1u) << m << " cases in " << n;
    }
  }
}

}  // namespace
}  // namespace tovik::runner
