#include "support/http/cookie_jar.hpp"

#include <gtest/gtest.h>

namespace tovik::http {
namespace {

UrlParts at(const std::string& url) { return split_url(url); }

TEST(CookieJar, DomainAndPathDecideWhereCookiesGo) {
  CookieJar jar;
  jar.store(at("http://www.example.com/shop/cart"),
            {"plain=1", "wide=2; Domain=.Example.com; Path=/", "root=3; Path=/", "deep=4; Path=/shop/cart/items",
             "foreign=5; Domain=other.com", "sub=6; Domain=shop.www.example.com"});
  // plain: host-only with the request's directory as path; foreign and sub were not for this host
  EXPECT_EQ(jar.for_request(at("http://www.example.com/shop/x")), (Pairs{{"plain", "1"}, {"wide", "2"}, {"root", "3"}}));
  EXPECT_EQ(jar.for_request(at("http://api.example.com/")), (Pairs{{"wide", "2"}}));
  EXPECT_EQ(jar.for_request(at("http://www.example.com/shopping")), (Pairs{{"wide", "2"}, {"root", "3"}}));
  // longest path first
  EXPECT_EQ(jar.for_request(at("http://www.example.com/shop/cart/items/1")),
            (Pairs{{"deep", "4"}, {"plain", "1"}, {"wide", "2"}, {"root", "3"}}));
  EXPECT_EQ(jar.cookies().size(), 4u);
}

TEST(CookieJar, ReplacingExpiringAndSecureCookies) {
  CookieJar jar;
  const std::time_t now = 1700000000;
  const UrlParts site = at("http://127.0.0.1:8000/");
  jar.store(site, {"a=1", "b=2; Max-Age=60", "c=3; Expires=Wed, 21 Oct 2015 07:28:00 GMT", "s=4; Secure", "q=\"x y\""}, now);
  EXPECT_EQ(jar.for_request(site, now), (Pairs{{"a", "1"}, {"b", "2"}, {"q", "x y"}}));
  EXPECT_EQ(jar.for_request(at("https://127.0.0.1:8000/"), now), (Pairs{{"a", "1"}, {"b", "2"}, {"s", "4"}, {"q", "x y"}}));
  EXPECT_EQ(jar.for_request(site, now + 61), (Pairs{{"a", "1"}, {"q", "x y"}}));

  jar.store(site, {"a=new", "b=; Max-Age=0"}, now);
  EXPECT_EQ(jar.for_request(site, now), (Pairs{{"a", "new"}, {"q", "x y"}}));  // a keeps its place
  // an IP address takes no Domain other than itself
  jar.store(site, {"ip=1; Domain=0.0.1"}, now);
  EXPECT_EQ(jar.for_request(site, now).size(), 2u);
}

TEST(CookieJar, MalformedHeadersAreIgnored) {
  CookieJar jar;
  jar.store(at("http://h/"), {"", "novalue", "=x", "; Path=/", "ok=1; Max-Age=abc; Expires=never"});
  EXPECT_EQ(jar.for_request(at("http://h/")), (Pairs{{"ok", "1"}}));
}

}  // namespace
}  // namespace tovik::http
