#include "support/http/message_text.hpp"

#include <gtest/gtest.h>

namespace tovik::http {
namespace {

TEST(MessageText, SensitiveHeaderValuesAreMasked) {
  for (const char* name : {"Authorization", "proxy-authorization", "COOKIE", "Set-Cookie", "X-Api-Key", "X-Auth-Token",
                           "client_secret", "Keyring"})
    EXPECT_TRUE(is_sensitive_header(name)) << name;
  for (const char* name : {"Content-Type", "Accept", "X-Request-Id", "Host"}) EXPECT_FALSE(is_sensitive_header(name)) << name;

  const HeaderList h{{"Host", "h"}, {"Authorization", "Bearer abc"}, {"X-Token", "t"}};
  EXPECT_EQ(headers_text(h), "Headers({'Host': 'h', 'Authorization': '******', 'X-Token': '******'})");
  // a repeated name keeps every occurrence
  EXPECT_EQ(headers_text({{"X-A", "1"}, {"x-a", "2"}, {"Set-Cookie", "s=1"}}),
            "Headers([('X-A', '1'), ('x-a', '2'), ('Set-Cookie', '******')])");
  EXPECT_EQ(headers_text({}), "Headers({})");

  Request req;
  req.method = "POST";
  req.url = "http://h/login";
  req.headers = {{"Cookie", "session=abc"}, {"Content-Type", "application/json"}};
  req.content = R"({"user":"u"})";
  EXPECT_EQ(request_text(req), "POST http://h/login\nCookie: ******\nContent-Type: application/json\n\n{\"user\":\"u\"}");
}

TEST(MessageText, BodiesShowAsTextOrBytesAndLongOnesAreCut) {
  EXPECT_EQ(body_text("你好 {}"), "你好 {}");
  EXPECT_EQ(body_text(std::string("\x89PNG\r\n\0'\\", 9)), "b'\\x89PNG\\r\\n\\x00\\'\\\\'");
  const std::string big = std::string(kBodyShown - 1, 'a') + "中" + "tail";
  const std::string shown = body_text(big);
  EXPECT_EQ(shown.rfind(std::string(kBodyShown - 1, 'a') + " ...", 0), 0u);  // not in the middle of 中
  EXPECT_NE(shown.find(std::to_string(big.size()) + " 字节"), std::string::npos);
}

// The command a tester pastes into a shell: every value quoted (a quote inside too), secrets
// masked, and a body that cannot go on a command line named instead of mangled.
TEST(MessageText, CurlCommandRepeatsTheRequestInAShell) {
  Request req;
  req.method = "POST";
  req.url = "http://h/a?q=1&r=2";
  req.headers = {{"Host", "h"}, {"Authorization", "Bearer abc"}, {"X-Note", "it's"}, {"Content-Length", "12"}};
  req.content = R"({"n":"o'k"})";
  EXPECT_EQ(curl_command(req),
            "curl -X POST 'http://h/a?q=1&r=2' \\\n"
            "  -H 'Authorization: ******' \\\n"
            "  -H 'X-Note: it'\\''s' \\\n"
            "  --data-binary '{\"n\":\"o'\\''k\"}'\n");
  req.method = "GET";
  req.headers.clear();
  req.content.clear();
  EXPECT_EQ(curl_command(req), "curl 'http://h/a?q=1&r=2'\n");
  req.method = "HEAD";
  EXPECT_EQ(curl_command(req), "curl --head 'http://h/a?q=1&r=2'\n");
  req.method = "PUT";
  req.content = std::string("\x89PNG\0", 5);
  EXPECT_EQ(curl_command(req), "# 正文（5 字节）不是可以写进命令的文本，没有写入\ncurl -X PUT 'http://h/a?q=1&r=2'\n");
}

TEST(MessageText, ResponseTextFollowsTheDeclaredCharset) {
  EXPECT_EQ(decode_text("\xD6\xD0\xCE\xC4", "text/plain; charset=GBK"), "中文");
  EXPECT_EQ(decode_text("\xD6\xD0\xCE\xC4", "text/plain; charset=\"gbk\""), "中文");
  EXPECT_EQ(decode_text("caf\xE9", "text/html; charset=iso-8859-1"), "café");
  // UTF-8 by default; bytes that do not decode become U+FFFD
  EXPECT_EQ(decode_text("ok\xFF中", "application/json"), "ok\xEF\xBF\xBD中");
  EXPECT_EQ(decode_text("\xD6\xD0", "text/plain; charset=no-such-charset"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tovik::http
