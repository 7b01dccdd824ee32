#include "support/http/url.hpp"

#include <gtest/gtest.h>

#include "support/http/errors.hpp"

namespace tovik::http {
namespace {

TEST(ResolveUrl, RelativeUrlsAreAppendedToTheBasePath) {
  EXPECT_EQ(resolve_url("http://h:8080/api", "users/1"), "http://h:8080/api/users/1");
  EXPECT_EQ(resolve_url("http://h:8080/api/", "/users/1"), "http://h:8080/api/users/1");
  // not RFC 3986 resolution: "/x" does not climb to the root, ".." is left to the server
  EXPECT_EQ(resolve_url("http://h/v1/", "//x"), "http://h/v1/x");
  EXPECT_EQ(resolve_url("http://h", "a?b=1"), "http://h/a?b=1");
  EXPECT_EQ(resolve_url("http://h/api?token=1", "x"), "http://h/api/x");
  EXPECT_EQ(resolve_url("http://h/api", ""), "http://h/api/");
}

TEST(ResolveUrl, AbsoluteUrlsIgnoreTheBase) {
  EXPECT_EQ(resolve_url("http://h/api", "https://other.example/x?y=1"), "https://other.example/x?y=1");
  EXPECT_EQ(resolve_url("", "HTTP://127.0.0.1:9/p"), "http://127.0.0.1:9/p");
}

TEST(ResolveUrl, UnsafeCharactersAreEncodedAndFragmentsDropped) {
  EXPECT_EQ(resolve_url("http://h/", "搜索 结果?q=中 文#top"), "http://h/%E6%90%9C%E7%B4%A2%20%E7%BB%93%E6%9E%9C?q=%E4%B8%AD%20%E6%96%87");
  EXPECT_EQ(resolve_url("http://h/", "100%?x=%41"), "http://h/100%25?x=%41");
}

TEST(ResolveUrl, UrlsThatCannotBeSentAreInvalid) {
  for (const char* bad : {"ftp://h/x", "http://", "http:///x", "http://exa mple/", "http://h:99999/", "http://h/a\r\nX: y"})
    EXPECT_THROW(resolve_url("", bad), InvalidURL) << bad;
  EXPECT_THROW(resolve_url("", "users"), InvalidURL);             // relative without a base
  EXPECT_THROW(resolve_url("not a url", "users"), InvalidURL);    // a base that is no URL
  EXPECT_THROW(check_base_url("www.example.com"), InvalidURL);
  EXPECT_NO_THROW(check_base_url(""));
}

TEST(MergeQuery, NamesReplaceAllTheirPairsInPlaceAndNewNamesGoLast) {
  EXPECT_EQ(merge_query("http://h/p?a=1&b=2&a=3&c", {{"a", "x"}, {"d", "4"}, {"a", "y"}}),
            "http://h/p?a=x&a=y&b=2&c&d=4");
  EXPECT_EQ(merge_query("http://h/p", {{"名 字", "值&=?"}}), "http://h/p?%E5%90%8D+%E5%AD%97=%E5%80%BC%26%3D%3F");
  // names are compared decoded
  EXPECT_EQ(merge_query("http://h/p?a%20b=1", {{"a b", "2"}}), "http://h/p?a+b=2");
  EXPECT_EQ(merge_query("http://h/p?a=1", {}), "http://h/p?a=1");
}

TEST(FormEncoding, RoundTrips) {
  const std::string text = "a b&c=d/中文*-._~+%";
  EXPECT_EQ(form_encode("a b&c"), "a+b%26c");
  EXPECT_EQ(form_decode(form_encode(text)), text);
  EXPECT_EQ(form_decode("%zz%4"), "%zz%4");  // broken escapes stay as they are
  EXPECT_EQ(parse_query("key=a%2Bb&&flag&x=1+2&=v"),
            (Pairs{{"key", "a+b"}, {"flag", ""}, {"x", "1 2"}, {"", "v"}}));
}

TEST(RedirectTarget, LocationsResolveAgainstTheUrlTheyCameFrom) {
  EXPECT_EQ(redirect_target("http://h/a/b?c=1", "../x"), "http://h/x");
  EXPECT_EQ(redirect_target("http://h/a/b", "/y?z=2"), "http://h/y?z=2");
  EXPECT_EQ(redirect_target("http://h/a/b", "//other/p"), "http://other/p");
  EXPECT_EQ(redirect_target("http://h/a/b", "https://abs/q#f"), "https://abs/q");
  EXPECT_THROW(redirect_target("http://h/a", "mailto://x"), InvalidURL);
}

}  // namespace
}  // namespace tovik::http
