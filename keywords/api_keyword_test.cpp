#include "keywords/api_keyword.hpp"

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "examples/demo_api.hpp"
#include "keywords/key_word.hpp"
#include "outside/allure/step.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/http/test_server.hpp"

namespace tovik {
namespace {

using http::testing::LocalServer;

// The configured base URL points at a demo API server of the test's own.
struct Api : ::testing::Test {
  Api() {
    ::setenv("TOVIK_API_BASE_URL", server.url().c_str(), 1);
    settings::tovik_api().reload_settings();
    kw = std::make_unique<ApiKeyWord>(exchange, Value(Dict{}));
    sink->set_pattern("%v");
    log::add_sink(sink);
  }
  ~Api() override {
    log::remove_sink(sink);
    kw.reset();
    ::unsetenv("TOVIK_API_BASE_URL");
    settings::tovik_api().reload_settings();
  }

  Value call(const std::string& name, List args = {}) { return kw->member("_key_" + name)(args); }
  // The saved variable, or none.
  Value var(const std::string& name) const {
    const Value* v = exchange->file.find(name);
    return v ? *v : Value();
  }
  // Sends and selects from the echo in one go.
  std::string echoed(const std::string& path) {
    call("save_jsonpath", {Value("picked"), Value(path)});
    return var("picked").as_str();
  }
  std::string error_of(const std::string& name, List args) {
    try {
      call(name, std::move(args));
    } catch (const std::exception& e) {
      return std::string(error_kind(e)) + ": " + e.what();
    }
    return "no error";
  }

  LocalServer server{[](httplib::Server& s) { examples::add_demo_api(s); }};
  std::shared_ptr<Exchange> exchange = std::make_shared<Exchange>("/nonexistent-dir/v.yaml");
  std::unique_ptr<ApiKeyWord> kw;
  std::shared_ptr<log::CaptureSink> sink = std::make_shared<log::CaptureSink>();
};

const std::string kNoResponse = "ValueError: 尚未发送请求，请使用send_http关键字发送请求后再读取响应";

TEST_F(Api, AFreshObjectSendsAtOnceToTheConfiguredBaseUrlWithAnEmptyJsonBody) {
  EXPECT_EQ(kw->client->base_url(), server.url());
  call("send_http", {Value("post"), Value("/api/anything/x")});
  EXPECT_EQ(var("resp_code"), Value(200));
  EXPECT_EQ(echoed("$.path"), R"(["/api/anything/x"])");
  EXPECT_EQ(echoed("$.method"), R"(["POST"])");
  EXPECT_EQ(echoed("$.body"), R"(["{}"])");
  EXPECT_EQ(echoed("$.headers['Content-Type']"), R"(["application/json"])");
  EXPECT_EQ(parse_json(var("resp_body").as_str()).as_dict().at("json"), Value(Dict{}));
}

TEST_F(Api, RequestAndResponseAreLoggedInFiveLinesEachWithSecretsMasked) {
  call("add_header", {Value("Authorization"), Value("Bearer s3cret")});
  call("add_header", {Value("X-Api-Key"), Value("k3y")});
  call("set_json", {Value(R"({"名字": "张三"})")});
  call("send_http", {Value("POST"), Value("/api/anything")});
  const auto m = sink->messages();
  const auto at = std::find(m.begin(), m.end(), std::string(33, '-') + "Rqeuest Start" + std::string(34, '-'));
  ASSERT_NE(at, m.end());
  ASSERT_GE(m.end() - at, 10);
  EXPECT_EQ(at[1], "Method: POST");
  EXPECT_EQ(at[2].rfind("Headers({'Host': '127.0.0.1:" + std::to_string(server.port()) + "', ", 0), 0u) << at[2];
  EXPECT_NE(at[2].find("'Authorization': '******', 'X-Api-Key': '******'"), std::string::npos) << at[2];
  EXPECT_EQ(at[3], R"(Body: {"名字":"张三"})");
  EXPECT_EQ(at[4], std::string(34, '-') + "Rqeuest End" + std::string(35, '-'));
  EXPECT_EQ(at[5], std::string(33, '-') + "Response Start" + std::string(33, '-'));
  EXPECT_EQ(at[6], "Status Code: 200");
  EXPECT_EQ(at[7].rfind("Headers({", 0), 0u);
  EXPECT_EQ(at[8].rfind("Body: {\"method\":\"POST\"", 0), 0u) << at[8];
  EXPECT_EQ(at[9], std::string(34, '-') + "Response End" + std::string(34, '-'));
  // the server echoed the secrets back in its body; the header values never show, neither in
  // these lines nor in the lines of the keyword calls
  for (const auto& line : m) {
    if (line.rfind("Body: {\"method\"", 0) == 0) continue;
    EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
    EXPECT_EQ(line.find("k3y"), std::string::npos) << line;
  }
  EXPECT_NE(std::find(m.begin(), m.end(), "正在执行关键字: 【add_header】('Authorization', '******')"), m.end());
}

TEST_F(Api, PerRequestPartsHoldForOneSendAndWinOverSharedOnes) {
  call("set_headers", {Value(R"({"X-One": "shared", "X-Shared": "s"})")});
  call("set_params", {Value(R"({"page": 1})")});
  call("add_header", {Value("x-one"), Value("first")});
  call("add_header", {Value("x-one"), Value("second")});
  call("add_query", {Value("page"), Value(2)});
  call("add_cookie", {Value("c"), Value("v")});
  call("add_form", {Value("f"), Value("表单")});
  call("send_http", {Value("POST"), Value("/api/anything")});
  EXPECT_EQ(echoed("$.headers['x-one']"), R"(["second"])");
  EXPECT_EQ(echoed("$.headers['X-One']"), "false");
  EXPECT_EQ(echoed("$.query"), R"([{"page":"2"}])");
  EXPECT_EQ(echoed("$.cookies"), R"([{"c":"v"}])");
  EXPECT_EQ(echoed("$.form"), R"([{"f":"表单"}])");

  call("send_http", {Value("POST"), Value("/api/anything")});
  EXPECT_EQ(echoed("$.headers['X-One']"), R"(["shared"])");
  EXPECT_EQ(echoed("$.headers['X-Shared']"), R"(["s"])");
  EXPECT_EQ(echoed("$.query"), R"([{"page":"1"}])");
  EXPECT_EQ(echoed("$.cookies"), "[{}]");
  EXPECT_EQ(echoed("$.form"), "[{}]");
  EXPECT_EQ(echoed("$.body"), R"(["{}"])");
}

TEST_F(Api, SaveKeywordsReadTheLastResponseUntilNewPartsBegin) {
  for (const char* name : {"save_code", "save_headers", "save_body"}) EXPECT_EQ(error_of(name, {Value("v")}), kNoResponse);
  EXPECT_EQ(error_of("save_jsonpath", {Value("v"), Value("$")}), kNoResponse);

  call("send_http", {Value("GET"), Value("/api/headers/repeat")});
  call("save_code", {Value("code")});
  call("save_headers", {Value("headers")});
  call("save_body", {Value("body")});
  EXPECT_EQ(var("code"), Value(200));
  const Value headers = parse_json(var("headers").as_str());
  EXPECT_EQ(headers.as_dict().at("X-Repeat"), Value("one, two"));
  EXPECT_EQ(var("body"), Value(R"({"repeated":true})"));
  EXPECT_EQ(var("resp_body"), var("body"));

  // new parts forget the response
  call("add_header", {Value("X-A"), Value("1")});
  EXPECT_EQ(error_of("save_code", {Value("code")}), kNoResponse);
}

TEST_F(Api, SaveJsonpathSavesTheMatchesAsAJsonArrayOrFalse) {
  call("send_http", {Value("GET"), Value("/api/items")});
  call("save_jsonpath", {Value("one"), Value("$.items[0].name")});
  call("save_jsonpath", {Value("ids"), Value("$.items[*].id")});
  call("save_jsonpath", {Value("none"), Value("$.items[?(@.price > 100)].name")});
  EXPECT_EQ(var("one"), Value(R"(["苹果"])"));
  EXPECT_EQ(var("ids"), Value("[1,2,3]"));
  EXPECT_EQ(var("none"), Value("false"));
  EXPECT_EQ(error_of("save_jsonpath", {Value("x"), Value("$.items[")}).rfind("ValueError: ", 0), 0u);

  call("send_http", {Value("GET"), Value("/api/text")});
  try {
    call("save_jsonpath", {Value("x"), Value("$")});
    FAIL() << "no error";
  } catch (const ValueError& e) {
    EXPECT_STREQ(e.what(), "响应内容不是json格式，无法筛选");
    // the parse error is kept as the cause
    EXPECT_THROW(std::rethrow_if_nested(e), JsonDecodeError);
  }
  EXPECT_EQ(var("x"), Value());
}

TEST_F(Api, BadInputFailsAndChangesNothing) {
  call("set_headers", {Value(R"({"X-A": "1"})")});
  for (const char* name : {"set_headers", "set_cookies", "set_params"})
    EXPECT_EQ(error_of(name, {Value("{not json")}).rfind("JsonDecodeError: ", 0), 0u) << name;
  EXPECT_EQ(kw->client->headers(), (Dict{{"X-A", Value("1")}}));

  call("set_json", {Value(R"({"a": 1})")});
  call("add_header", {Value("X-Kept"), Value("yes")});
  EXPECT_EQ(error_of("set_json", {Value("nope")}).rfind("JsonDecodeError: ", 0), 0u);
  EXPECT_EQ(error_of("set_form", {Value("{")}).rfind("JsonDecodeError: ", 0), 0u);
  EXPECT_EQ(kw->current_request().json, parse_json(R"({"a": 1})"));
  EXPECT_EQ(kw->current_request().data, Value(Dict{}));
  EXPECT_EQ(error_of("add_header", {Value("X-Bad"), Value("a\nb")}).rfind("ValueError: ", 0), 0u);
  EXPECT_EQ(error_of("add_header", {Value("X-Bad"), Value(List{})}).rfind("TypeError: ", 0), 0u);
  EXPECT_EQ(kw->current_request().headers, Value(Dict{{"X-Kept", Value("yes")}}));

  // a request that cannot be built leaves the parts pending
  EXPECT_EQ(error_of("send_http", {Value("GE T"), Value("/api/anything")}).rfind("ValueError: 请求方法不合法", 0), 0u);
  EXPECT_EQ(error_of("send_http", {Value("GET"), Value("http://exa mple/")}).rfind("InvalidURL: ", 0), 0u);
  call("send_http", {Value("POST"), Value("/api/anything")});
  EXPECT_EQ(echoed("$.headers['X-Kept']"), R"(["yes"])");
  EXPECT_EQ(echoed("$.json"), R"([{"a":1}])");

  // an unreadable file is not added, and the last response stays
  EXPECT_EQ(error_of("add_file", {Value("f"), Value("/no/such/file")}),
            "OSError: [Errno 2] No such file or directory: '/no/such/file'");
  EXPECT_EQ(var("resp_code"), Value(200));
  call("save_code", {Value("still")});
  EXPECT_EQ(var("still"), Value(200));

  call("set_form", {Value("[1]")});
  EXPECT_EQ(error_of("add_form", {Value("k"), Value("v")}), "TypeError: list indices must be integers or slices, not str");
  call("set_form", {Value(R"("text")")});
  EXPECT_EQ(error_of("add_form", {Value("k"), Value("v")}), "TypeError: 'str' object does not support item assignment");
  EXPECT_EQ(kw->current_request().data, Value("text"));
}

TEST_F(Api, TransportFailuresSpendThePartsAndLeaveNoResponse) {
  call("send_http", {Value("GET"), Value("/api/items")});
  call("set_baseurl", {Value("http://127.0.0.1:" + std::to_string(http::testing::closed_port()))});
  call("add_header", {Value("X-Gone"), Value("1")});
  const std::string err = error_of("send_http", {Value("GET"), Value("/api/anything")});
  EXPECT_EQ(err.rfind("ConnectError: ", 0), 0u) << err;
  EXPECT_NE(err.find(kw->client->base_url() + "/api/anything"), std::string::npos) << err;
  EXPECT_EQ(error_of("save_code", {Value("c")}), kNoResponse);

  call("new_client", {Value(0.4)});
  EXPECT_EQ(error_of("send_http", {Value("GET"), Value("/api/slow?seconds=1.2")}).rfind("TimeoutError: 请求超时", 0), 0u);
  call("send_http", {Value("POST"), Value("/api/anything")});
  EXPECT_EQ(echoed("$.headers['X-Gone']"), "false");
}

TEST_F(Api, ClientSettingsAndNewClients) {
  // any non-empty text turns following on, "False" too
  call("set_follow_redirects", {Value("False")});
  call("send_http", {Value("GET"), Value("/api/redirect?to=/api/chinese")});
  EXPECT_EQ(var("resp_code"), Value(200));
  EXPECT_EQ(echoed("$.message"), R"(["你好，世界"])");
  call("set_follow_redirects", {Value("")});
  call("send_http", {Value("GET"), Value("/api/redirect")});
  EXPECT_EQ(var("resp_code"), Value(302));
  call("set_follow_redirects", {Value(true)});
  call("set_follow_redirects");
  EXPECT_FALSE(kw->client->follow_redirects());

  EXPECT_EQ(error_of("set_baseurl", {Value("ftp://x/")}).rfind("InvalidURL: ", 0), 0u);
  EXPECT_EQ(kw->client->base_url(), server.url());

  // a new client forgets the shared settings, not the pending parts
  call("set_headers", {Value(R"({"X-Shared": "1"})")});
  call("add_header", {Value("X-Pending"), Value("1")});
  const auto old = kw->client;
  EXPECT_EQ(error_of("new_client", {Value(0)}).rfind("ValueError: ", 0), 0u);
  EXPECT_EQ(kw->client, old);
  call("new_client");
  EXPECT_NE(kw->client, old);
  EXPECT_EQ(kw->client->timeout(), 5.0);
  call("send_http", {Value("POST"), Value("/api/anything")});
  EXPECT_EQ(echoed("$.headers['X-Pending']"), R"(["1"])");
  EXPECT_EQ(echoed("$.headers['X-Shared']"), "false");
}

TEST_F(Api, SendHttpStepCarriesTheMaskedRequestAndResponse) {
  allure::TestResult result;
  {
    allure::ScopedTest recording(result);
    call("add_cookie", {Value("session"), Value("c00kie")});
    call("set_headers", {Value(R"({"X-Token": "t0ken", "X-Plain": "p"})")});
    call("send_http", {Value("POST"), Value("/api/anything")});
  }
  ASSERT_EQ(result.steps.size(), 3u);
  // the steps of the keywords that took secrets show them masked
  ASSERT_EQ(result.steps[0].parameters.size(), 2u);
  EXPECT_EQ(result.steps[0].parameters[1].value, "'******'");
  ASSERT_EQ(result.steps[1].parameters.size(), 1u);
  EXPECT_EQ(result.steps[1].parameters[0].value, R"('{"X-Token":"******","X-Plain":"p"}')");
  const allure::StepResult& send = result.steps[2];
  EXPECT_EQ(send.name, "发送接口请求");
  ASSERT_EQ(send.attachments.size(), 2u);
  EXPECT_EQ(send.attachments[0].name, "请求");
  EXPECT_EQ(send.attachments[1].name, "响应");
  EXPECT_EQ(send.attachments[0].content.rfind("POST " + server.url("/api/anything") + "\n", 0), 0u);
  EXPECT_NE(send.attachments[0].content.find("\nCookie: ******\n"), std::string::npos);
  EXPECT_EQ(send.attachments[0].content.find("c00kie"), std::string::npos);
  EXPECT_EQ(send.attachments[1].content.rfind("200 OK\n", 0), 0u);
  std::vector<std::string> nested;
  for (const auto& s : send.steps) nested.push_back(s.name);
  EXPECT_EQ(nested, (std::vector<std::string>{"保存[状态码]", "保存[响应正文]"}));
}

TEST_F(Api, KeyWordObjectsAreApiKeywordObjectsToo) {
  KeyWord all(exchange, Value(Dict{}));
  ASSERT_TRUE(all.client);
  EXPECT_EQ(all.client->base_url(), server.url());
  EXPECT_NE(all.client, kw->client);
  all.member("_key_send_http")({Value("GET"), Value("/api/chinese")});
  EXPECT_EQ(var("resp_code"), Value(200));
  EXPECT_EQ(parse_json(var("resp_body").as_str()).as_dict().at("message"), Value("你好，世界"));
}

TEST(ApiDocs, EveryKeywordFollowsTheDocumentationLayout) {
  const KeywordClass& cls = ApiKeyWord::keyword_class();
  for (const char* name : {"new_client", "set_baseurl", "set_follow_redirects", "set_headers", "set_cookies", "set_params",
                           "set_json", "set_form", "add_header", "add_cookie", "add_query", "add_form", "add_file",
                           "send_http", "save_code", "save_headers", "save_body", "save_jsonpath"}) {
    const KeywordEntry* e = cls.find(name);
    ASSERT_TRUE(e && e->doc) << name;
    const std::string doc = e->doc;
    const std::string indent(8, ' ');
    EXPECT_EQ(doc.rfind("\n" + indent + "关键字：" + name + "\n", 0), 0u) << name;
    EXPECT_EQ(doc.substr(doc.size() - 9), "\n" + indent) << name;
    std::vector<std::string> lines;
    std::istringstream in(doc.substr(1, doc.size() - 10));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 3u + e->params.size()) << name;
    for (const auto& line : lines) EXPECT_TRUE(line.empty() || line.rfind(indent, 0) == 0) << name << ": " << line;
    EXPECT_EQ(lines[2], "") << name;
    for (std::size_t i = 0; i < e->params.size(); ++i)
      EXPECT_EQ(lines[3 + i].rfind(indent + ":param " + e->params[i].name + ": ", 0), 0u) << name << ": " << lines[3 + i];
  }
}

}  // namespace
}  // namespace tovik
