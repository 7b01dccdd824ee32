#include "support/http/redirect.hpp"

#include <gtest/gtest.h>

#include "support/http/errors.hpp"

namespace tovik::http {
namespace {

// A POST with a body, credentials and a given cookie, as the client builds one.
Request post(const std::string& url = "http://h.test/form") {
  Request r;
  r.method = "POST";
  r.url = url;
  r.where = split_url(url);
  r.headers = {{"Host", r.where.netloc()}, {"Content-Type", "application/json"}, {"Content-Length", "7"},
               {"Authorization", "Bearer t"}, {"Cookie", "given=1"}};
  r.content = R"({"k":1})";
  r.cookies = {{"given", "1"}};
  return r;
}

const CookieJar kNoCookies;

TEST(Redirect, MethodAndBodyFollowTheStatus) {
  struct Case {
    int status;
    std::string method, expected;
  };
  for (const Case& c : std::vector<Case>{{303, "POST", "GET"}, {303, "PUT", "GET"}, {303, "HEAD", "HEAD"},
                                         {301, "POST", "GET"}, {302, "POST", "GET"}, {302, "PUT", "PUT"},
                                         {307, "POST", "POST"}, {308, "POST", "POST"}}) {
    Request req = post();
    req.method = c.method;
    const Request next = redirected(req, c.status, "/next", kNoCookies);
    SCOPED_TRACE(std::to_string(c.status) + " " + c.method);
    EXPECT_EQ(next.method, c.expected);
    EXPECT_EQ(next.url, "http://h.test/next");
    if (c.expected == c.method) {
      EXPECT_EQ(next.content, req.content);
      EXPECT_EQ(next.header("Content-Type"), "application/json");
      EXPECT_EQ(next.header("Content-Length"), "7");
    } else {
      // the body stays behind, and so do the headers that described it
      EXPECT_EQ(next.content, "");
      EXPECT_EQ(next.header("Content-Type"), "");
      EXPECT_EQ(next.header("Content-Length"), "");
    }
  }
  EXPECT_TRUE(is_redirect_status(308));
  EXPECT_FALSE(is_redirect_status(304));
}

TEST(Redirect, CredentialsAndGivenCookiesStayWithTheirOrigin) {
  // same origin: everything goes along
  Request next = redirected(post(), 307, "/again", kNoCookies);
  EXPECT_EQ(next.header("Authorization"), "Bearer t");
  EXPECT_EQ(next.header("Host"), "h.test");
  EXPECT_EQ(next.header("Cookie"), "given=1");

  // http to https on the same host with the default ports is the same site
  next = redirected(post(), 307, "https://h.test/secure", kNoCookies);
  EXPECT_EQ(next.header("Authorization"), "Bearer t");
  EXPECT_EQ(next.header("Host"), "h.test");

  // another port is another origin: no credentials, a Host of its own, the cookies of the host
  next = redirected(post(), 307, "http://h.test:8080/p", kNoCookies);
  EXPECT_EQ(next.header("Authorization"), "");
  EXPECT_EQ(next.header("Host"), "h.test:8080");
  EXPECT_EQ(next.header("Cookie"), "given=1");

  // another host gets only what its own jar cookies say
  CookieJar jar;
  jar.store(split_url("http://other.test/"), {"sid=jar; Path=/"});
  next = redirected(post(), 307, "http://other.test/p", jar);
  EXPECT_EQ(next.header("Authorization"), "");
  EXPECT_EQ(next.header("Host"), "other.test");
  EXPECT_EQ(next.header("Cookie"), "sid=jar");
  EXPECT_TRUE(next.cookies.empty());
  int cookie_lines = 0;
  for (const auto& [k, v] : next.headers) cookie_lines += k == "Cookie";
  EXPECT_EQ(cookie_lines, 1);
}

TEST(Redirect, ALocationThatCannotBeFollowedNamesTheRequest) {
  try {
    redirected(post(), 302, "ftp://h.test/file", kNoCookies);
    FAIL() << "no error";
  } catch (const TransportError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("无法跟随重定向: POST http://h.test/form -> 'ftp://h.test/file': ", 0), 0u)
        << e.what();
  }
}

}  // namespace
}  // namespace tovik::http
