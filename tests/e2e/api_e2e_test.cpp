// End-to-end tests of the API keywords: `tovik run` on workbooks that talk to a demo API server
// the test starts on a free port of 127.0.0.1 (the configured base URL points at it).
#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "examples/demo_api.hpp"
#include "examples/workbook_writer.hpp"
#include "support/http/test_server.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovik::e2e;
using nlohmann::json;
using tovik::List;
using tovik::Value;
using tovik::examples::SheetRows;
using tovik::http::testing::LocalServer;

class ApiRun : public ProjectTest {
 protected:
  ApiRun()
      : server_([this](httplib::Server& s) {
          tovik::examples::add_demo_api(s);
          // what an upload delivered, byte for byte
          s.Post("/record", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const auto& [name, part] : req.files) received_[name] = part.content;
            res.set_content(R"({"ok":true})", "application/json");
          });
        }) {}

  void SetUp() override {
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    write_file(root_ / "pytest.ini", "[pytest]\n");
  }

  Finished tovik(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return run_tovik(args, {{"TOVIK_API_BASE_URL", server_.url()}});
  }
  // Every row of a sheet runs with the API keywords.
  static SheetRows api(std::string name, std::vector<List> rows) {
    rows.insert(rows.begin(), R(nullptr, nullptr, "@type", "api"));
    return {std::move(name), std::move(rows)};
  }
  // The part of the output that reports one failed case.
  static std::string failure(const std::string& out, const std::string& nodeid) {
    return section(out, "_ " + nodeid + " _", "\n___");
  }

  std::mutex mutex_;
  std::map<std::string, std::string> received_;
  LocalServer server_;
};

// The demo workbook covers merge rules, query parameters, cookies shared and set by responses,
// redirects followed or not, repeated headers, Chinese JSON, JSONPath selections (one match,
// none) and saved variables used by later rows.
TEST_F(ApiRun, TheDemoSuiteCasesPassAgainstTheDemoApi) {
  tovik::examples::write_workbook(root_ / "test_api.xlsx",
                                  tovik::examples::read_description(fs::path(TOVIK_SOURCE_DIR) / "examples/workbooks/test_api.wb.yaml"));
  Finished f = tovik({"-v", "-m", "not demo_failure", "test_api.xlsx"});
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "6 passed, 1 deselected in "));
  EXPECT_TRUE(Lacks(f.out, "FAILED"));

  // the deliberately failing case fails on the time-out, naming the URL
  f = tovik({"-m", "demo_failure", "test_api.xlsx"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "TimeoutError: 请求超时（超过 0.5 秒）: GET " + server_.url("/api/slow?seconds=2")));
}

TEST_F(ApiRun, FormsAndUploadsArriveIntact) {
  std::string bytes;
  for (int round = 0; round < 4; ++round)
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  write_file(root_ / "数据.bin", bytes);
  write_file(root_ / "note.txt", "第一行\r\n--boundary-lookalike--\r\n");
  workbook("test_upload.xlsx", {
      api("文件", {R(1, "", "set_form", R"({"用户": "张三", "tags": ["a", "b"]})"),
                   R(2, "", "add_file", "binary", (root_ / "数据.bin").string()),
                   R(3, "", "add_file", "text", "note.txt"),
                   R(4, "", "send_http", "POST", "/record"),
                   R(5, "", "assert", 200, "equal", "{resp_code}"),
                   R(6, "", "set_form", R"({"用户": "张三"})"),
                   R(7, "", "add_file", "binary", (root_ / "数据.bin").string()),
                   R(8, "", "send_http", "POST", "/api/anything"),
                   R(9, "", "save_jsonpath", "f", "$.files.binary['filename','size','content_type']"),
                   R(10, "", "assert", R"(["数据.bin",1024,"application/octet-stream"])", "equal", "{f}"),
                   R(11, "", "save_jsonpath", "form", "$.form"),
                   R(12, "", "assert", R"([{"用户":"张三"}])", "equal", "{form}")}),
      api("表单", {R(1, "", "add_form", "名字", "李 四&"),
                   R(2, "", "add_form", "n", 3),
                   R(3, "", "send_http", "POST", "/api/anything"),
                   R(4, "", "save_jsonpath", "form", "$['form','body']"),
                   R(5, "", "assert", R"([{"名字":"李 四&","n":"3"},"%E5%90%8D%E5%AD%97=%E6%9D%8E+%E5%9B%9B%26&n=3"])", "equal",
                     "{form}")}),
  });
  const Finished f = tovik({"-v", "test_upload.xlsx"});
  EXPECT_EQ(f.status, 0) << f.all();
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ(received_["binary"], bytes);
  EXPECT_EQ(received_["text"], "第一行\r\n--boundary-lookalike--\r\n");
  EXPECT_EQ(received_["用户"], "张三");
  EXPECT_EQ(received_["tags"], "b");  // both sent; the map keeps the last
}

TEST_F(ApiRun, TransportFailuresAndBadInputFailTheirCaseWithAClearError) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(tovik::http::testing::closed_port());
  workbook("test_bad.xlsx", {
      api("超时", {R(1, "", "new_client", 0.3), R(2, "", "send_http", "GET", "/api/slow?seconds=1")}),
      api("拒绝连接", {R(1, "", "set_baseurl", refused), R(2, "", "send_http", "GET", "/x")}),
      api("坏的JSON", {R(1, "", "set_headers", "{'X-A': 1}")}),
      api("不是对象", {R(1, "", "set_headers", "[1, 2]")}),
      api("表单不是对象", {R(1, "", "set_form", "[1]"), R(2, "", "add_form", "k", "v")}),
      api("读不到文件", {R(1, "", "add_file", "f", (root_ / "没有这个文件.txt").string())}),
      api("坏的URL", {R(1, "", "send_http", "GET", "http://exa mple.com/")}),
      api("坏的方法", {R(1, "", "send_http", "GE T", "/api/anything")}),
      api("不是JSON", {R(1, "", "send_http", "GET", "/api/text"), R(2, "", "save_jsonpath", "x", "$.a")}),
      api("没有响应", {R(1, "", "save_code", "x")}),
      api("响应已丢弃", {R(1, "", "send_http", "GET", "/api/items"), R(2, "", "add_header", "X", "1"),
                         R(3, "", "save_body", "x")}),
  });
  const Finished f = tovik({"test_bad.xlsx"});
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(Has(f.out, "11 failed in "));
  const auto has = [&](const std::string& sheet, const std::string& row, const std::string& message) {
    const std::string part = failure(f.out, "test_bad.xlsx::" + sheet);
    EXPECT_TRUE(Has(part, "行: " + row + "\n")) << sheet;
    EXPECT_TRUE(Has(part, message)) << sheet;
  };
  has("超时", "4", "TimeoutError: 请求超时（超过 0.3 秒）: GET " + server_.url("/api/slow?seconds=1"));
  has("拒绝连接", "4", "ConnectError: 无法连接: GET " + refused + "/x");
  has("坏的JSON", "3", "JsonDecodeError: ");
  has("不是对象", "3", "TypeError: 通用请求头应为 JSON 对象，实际为 list: [1, 2]");
  has("表单不是对象", "4", "TypeError: list indices must be integers or slices, not str");
  has("读不到文件", "3", "OSError: [Errno 2] No such file or directory: '" + (root_ / "没有这个文件.txt").string() + "'");
  has("坏的URL", "3", "InvalidURL: URL 不合法: 'http://exa mple.com/'");
  has("坏的方法", "3", "ValueError: 请求方法不合法: 'GE T'");
  has("不是JSON", "4", "ValueError: 响应内容不是json格式，无法筛选");
  has("没有响应", "3", "ValueError: 尚未发送请求，请使用send_http关键字发送请求后再读取响应");
  has("响应已丢弃", "5", "ValueError: 尚未发送请求，请使用send_http关键字发送请求后再读取响应");
}

TEST_F(ApiRun, LogsAndReportsShowRequestsAndResponsesWithSecretsMasked) {
  workbook("test_log.xlsx", {
      api("登录后失败", {R(1, "", "set_headers", R"({"X-Auth-Token": "tok-123"})"),
                         R(2, "", "add_header", "Authorization", "Bearer abc-secret"),
                         R(3, "", "set_json", R"({"user": "tovik", "password": "secret"})"),
                         R(4, "", "send_http", "POST", "/api/login"),
                         R(5, "", "assert", 201, "equal", "{resp_code}")}),
  });
  const Finished f = tovik({"--alluredir", "res"});
  EXPECT_EQ(f.status, 1);
  const std::string log = failure(f.out, "test_log.xlsx::登录后失败");
  const std::string dashes33(33, '-'), dashes34(34, '-'), dashes35(35, '-');
  EXPECT_TRUE(Has(log, "INFO     tovik.lexa:" + dashes33 + "Rqeuest Start" + dashes34 + "\n"
                       "INFO     tovik.lexa:Method: POST\n"
                       "INFO     tovik.lexa:Headers({'Host': '127.0.0.1:" + std::to_string(server_.port()) + "'"));
  EXPECT_TRUE(Has(log, "'X-Auth-Token': '******', 'Authorization': '******', 'Content-Length': '36', "
                       "'Content-Type': 'application/json'})\n"
                       "INFO     tovik.lexa:Body: {\"user\":\"tovik\",\"password\":\"secret\"}\n"
                       "INFO     tovik.lexa:" + dashes34 + "Rqeuest End" + dashes35 + "\n"
                       "INFO     tovik.lexa:" + dashes33 + "Response Start" + dashes33 + "\n"
                       "INFO     tovik.lexa:Status Code: 200\n"));
  EXPECT_TRUE(Has(log, "'Set-Cookie': '******'"));
  EXPECT_TRUE(Has(log, "INFO     tovik.lexa:" + dashes34 + "Response End" + dashes34 + "\n"));
  EXPECT_TRUE(Lacks(log, "tok-123"));
  EXPECT_TRUE(Lacks(log, "Bearer abc"));
  EXPECT_TRUE(Lacks(log, tovik::examples::kDemoSession));

  // the report: the send_http step holds the request and the response, masked as well
  fs::path result_file;
  for (const auto& e : fs::directory_iterator(root_ / "res"))
    if (e.path().string().size() > 12 && e.path().string().rfind("-result.json") == e.path().string().size() - 12)
      result_file = e.path();
  ASSERT_FALSE(result_file.empty());
  const json result = json::parse(read_file(result_file));
  const json* send = nullptr;
  for (const auto& row : result.at("steps"))
    if (row.at("name").get<std::string>().find("send_http") != std::string::npos) send = &row.at("steps").at(0);
  ASSERT_TRUE(send);
  EXPECT_EQ(send->at("name"), "发送接口请求");
  std::map<std::string, std::string> shown;
  for (const auto& a : send->at("attachments")) shown[a.at("name")] = read_file(root_ / "res" / a.at("source").get<std::string>());
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_TRUE(Has(shown["请求"], "POST " + server_.url("/api/login") + "\n"));
  EXPECT_TRUE(Has(shown["请求"], "\nAuthorization: ******\n"));
  EXPECT_TRUE(Has(shown["请求"], "\nX-Auth-Token: ******\n"));
  EXPECT_TRUE(Has(shown["响应"], "200 OK\n" + server_.url("/api/login") + "\n"));
  EXPECT_TRUE(Has(shown["响应"], "\nSet-Cookie: ******\n"));
  EXPECT_TRUE(Has(shown["响应"], "\"token\":\"" + std::string(tovik::examples::kDemoToken) + "\""));
  for (const auto& [name, text] : shown) {
    EXPECT_TRUE(Lacks(text, "tok-123")) << name;
    EXPECT_TRUE(Lacks(text, "abc-secret")) << name;
  }
}

}  // namespace
