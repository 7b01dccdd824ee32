#include "support/http/request_parts.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"
#include "support/base/value_json.hpp"
#include "support/http/multipart.hpp"

namespace tovik::http {
namespace {

TEST(RequestParts, OverlayReplacesEveryPairOfANameWhereItFirstStood) {
  const Pairs base = {{"a", "1"}, {"b", "2"}, {"a", "3"}, {"A", "4"}};
  EXPECT_EQ(overlay(base, {{"a", "x"}, {"new", "n"}, {"a", "y"}}),
            (Pairs{{"a", "x"}, {"a", "y"}, {"b", "2"}, {"A", "4"}, {"new", "n"}}));
  EXPECT_EQ(overlay(base, {}), base);
}

TEST(RequestParts, HeadersAreSetWithoutRegardToCase) {
  HeaderList h = {{"content-type", "a"}, {"Accept", "*/*"}, {"CONTENT-TYPE", "b"}};
  set_header(h, "Content-Type", "c");
  EXPECT_EQ(h, (HeaderList{{"Content-Type", "c"}, {"Accept", "*/*"}}));
  EXPECT_TRUE(has_header(h, "accept"));
  remove_header(h, "ACCEPT");
  EXPECT_FALSE(has_header(h, "Accept"));

  apply_headers(h, Dict{{"X-N", Value(std::int64_t{2})}, {"content-type", Value("d")}});
  EXPECT_EQ(h, (HeaderList{{"content-type", "d"}, {"X-N", "2"}}));
  EXPECT_THROW(apply_headers(h, Dict{{"X", Value("a\r\nInjected: 1")}}), ValueError);
  EXPECT_THROW(apply_headers(h, Dict{{"X", parse_json("[1]")}}), TypeError);
}

TEST(RequestParts, SharedSettingsAreCheckedBeforeUse) {
  EXPECT_THROW(check_scalars(parse_json("[]"), "通用请求头", false, false), TypeError);
  EXPECT_THROW(check_scalars(parse_json(R"({"bad name": "v"})"), "通用请求头", false, false), ValueError);
  EXPECT_THROW(check_scalars(parse_json(R"({"c": "a;b"})"), "通用 cookies", false, true), ValueError);
  // only query parameters repeat a name through a list
  EXPECT_NO_THROW(check_scalars(parse_json(R"({"q": [1, "two", null]})"), "通用查询参数", true, false));
  EXPECT_THROW(check_scalars(parse_json(R"({"q": [1]})"), "通用请求头", false, false), TypeError);
  EXPECT_THROW(check_scalars(parse_json(R"({"q": [{"x": 1}]})"), "通用查询参数", true, false), TypeError);
  EXPECT_EQ(pairs_of(parse_json(R"({"q": [1, 2.5, true]})").as_dict(), "查询参数", true),
            (Pairs{{"q", "1"}, {"q", "2.5"}, {"q", "true"}}));
}

TEST(RequestParts, MultipartBodyEscapesNamesAndNeedsFiles) {
  EXPECT_EQ(multipart_body({{"a\"b", "1"}, {"c\r\nd", "2"}}, {}, "XB"),
            "--XB\r\nContent-Disposition: form-data; name=\"a%22b\"\r\n\r\n1\r\n"
            "--XB\r\nContent-Disposition: form-data; name=\"c%0D%0Ad\"\r\n\r\n2\r\n"
            "--XB--\r\n");
  EXPECT_THROW(multipart_body({}, {FilePart{"upload", nullptr}}, "XB"), TypeError);
  const std::string b = new_boundary();
  EXPECT_EQ(b.size(), 32u);
  EXPECT_EQ(b.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(b, new_boundary());
}

TEST(RequestParts, BodyIsFilesElseFormElseJson) {
  RequestParts parts;
  EXPECT_EQ(request_body(parts).content, "{}");
  parts.data = parse_json(R"({"a": "1 2"})");
  const Body form = request_body(parts);
  EXPECT_EQ(form.content, "a=1+2");
  EXPECT_EQ(form.content_type, "application/x-www-form-urlencoded");
  parts.data = Value("not a mapping");
  EXPECT_THROW(request_body(parts), TypeError);

  // a body given as it is goes out unchanged and describes itself no type; with a form it is
  // ambiguous, so refused
  RequestParts raw;
  raw.content = "<a>中</a>";
  EXPECT_EQ(request_body(raw).content, "<a>中</a>");
  EXPECT_EQ(request_body(raw).content_type, "");
  raw.data = parse_json(R"({"a": 1})");
  EXPECT_THROW(request_body(raw), ValueError);
}

}  // namespace
}  // namespace tovik::http
