#include "core/mock_request.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik {
namespace {

TEST(MockRequest, ToDictHandsOutTheLiveFieldsInOrder) {
  MockRequest r;
  MockRequest::Fields fields = r.to_dict();
  std::vector<std::string_view> names;
  for (const auto& [name, value] : fields) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"headers", "cookies", "params", "data", "json", "files"}));
  EXPECT_EQ(fields.at("json"), Value(Dict{}));  // empty, not absent
  EXPECT_EQ(fields.at("files"), Value(List{}));

  fields.at("headers").as_dict().set("X-A", Value("1"));
  fields.at("data") = Value(List{Value(1)});
  EXPECT_EQ(r.headers, Value(Dict{{"X-A", Value("1")}}));
  EXPECT_EQ(r.data, Value(List{Value(1)}));
  r.json = Value("later");
  EXPECT_EQ(fields.at("json"), Value("later"));
  EXPECT_THROW(fields.at("body"), KeyError);
}

}  // namespace
}  // namespace tovik
