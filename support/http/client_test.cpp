#include "support/http/client.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <mutex>
#include <set>

#include <gtest/gtest.h>

#include "support/base/value_json.hpp"
#include "support/http/test_server.hpp"

namespace tovik::http {
namespace {

namespace fs = std::filesystem;
using testing::LocalServer;

// What the server received.
struct Seen {
  std::string method, target, body, remote_port;
  httplib::Headers headers;
  httplib::MultipartFormDataMap files;
  std::string header(const std::string& name) const {
    const auto n = headers.count(name);
    if (n == 0) return "<none>";
    std::string out;
    for (auto [it, end] = headers.equal_range(name); it != end; ++it) out += (out.empty() ? "" : " | ") + it->second;
    return out;
  }
};

class ClientTest : public ::testing::Test {
 protected:
  ClientTest()
      : server_([this](httplib::Server& s) {
          s.set_keep_alive_max_count(1000);
          s.set_tcp_nodelay(true);
          const auto record = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back({req.method, req.target, req.body, req.get_header_value("REMOTE_PORT"), req.headers, req.files});
            res.set_content("ok", "text/plain");
          };
          for (const char* p : {"/echo", R"(/base/.*)"}) {
            s.Get(p, record);
            s.Post(p, record);
            s.Put(p, record);
          }
          s.Get("/set", [](const httplib::Request&, httplib::Response& res) {
            res.headers.emplace("Set-Cookie", "sid=from-server; Path=/");
            res.set_content("set", "text/plain");
          });
          s.Get("/expire", [](const httplib::Request&, httplib::Response& res) {
            res.headers.emplace("Set-Cookie", "sid=; Max-Age=0; Path=/");
          });
          s.Get("/repeat", [](const httplib::Request&, httplib::Response& res) {
            res.status = 201;
            res.headers.emplace("X-Repeat", "one");
            res.headers.emplace("Set-Cookie", "a=1");
            res.headers.emplace("X-Repeat", "two");
            res.headers.emplace("Set-Cookie", "b=2; Path=/");
            res.set_content("中文", "text/plain; charset=utf-8");
          });
          const auto redirect = [this](const httplib::Request& req, httplib::Response& res) {
            {
              std::lock_guard<std::mutex> lock(mutex_);
              seen_.push_back({req.method, req.target, req.body, "", req.headers, {}});
            }
            res.status = std::stoi(req.get_param_value("code"));
            res.set_header("Location", req.get_param_value("to"));
            if (req.has_param("cookie")) res.headers.emplace("Set-Cookie", req.get_param_value("cookie"));
          };
          s.Get("/redirect", redirect);
          s.Post("/redirect", redirect);
          s.Get("/loop", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "/loop");
          });
          s.Get("/long", [](const httplib::Request&, httplib::Response& res) {
            std::string text;
            for (int i = 0; i < 2000; ++i) text += "第 " + std::to_string(i) + " 行\n";
            res.set_content(text, "text/plain; charset=utf-8");  // compressed when the client asks
          });
          // eight bytes, the gap before each given in ms by ?gap= (the last one by ?last=)
          s.Get("/trickle", [](const httplib::Request& req, httplib::Response& res) {
            const int gap = std::stoi(req.get_param_value("gap"));
            const int last = req.has_param("last") ? std::stoi(req.get_param_value("last")) : gap;
            res.set_chunked_content_provider("text/plain", [gap, last](std::size_t offset, httplib::DataSink& sink) {
              std::this_thread::sleep_for(std::chrono::milliseconds(offset == 7 ? last : gap));
              sink.write("abcdefgh" + offset, 1);
              if (offset == 7) sink.done();
              return true;
            });
          });
          s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            res.set_content("late", "text/plain");
          });
        }) {}

  Client make(std::string base = "") {
    Client::Options o;
    o.base_url = base.empty() ? server_.url() : base;
    return Client(std::move(o));
  }
  std::vector<Seen> seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  Seen last() {
    auto all = seen();
    if (all.empty()) throw std::runtime_error("the server received nothing");
    return all.back();
  }

  std::mutex mutex_;
  std::vector<Seen> seen_;
  LocalServer server_;
};

TEST_F(ClientTest, SharedAndPerRequestPartsMergeAndThePerRequestOnesWin) {
  Client c = make(server_.url("/base"));
  c.set_headers(parse_json(R"({"X-Shared": "s", "X-Both": "shared", "Accept": "text/plain", "X-Num": 7})"));
  c.set_cookies(parse_json(R"({"c1": "shared", "c2": "shared"})"));
  c.set_params(parse_json(R"({"p1": "shared", "p2": ["a", "b"]})"));

  RequestParts parts;
  parts.headers.set("x-both", Value("mine"));
  parts.cookies.set("c2", Value("mine"));
  parts.params.set("p2", Value("mine"));
  parts.params.set("p3", Value(1.5));
  const Request req = c.build_request("post", "/items?p1=url&keep=1", parts);
  EXPECT_EQ(req.method, "POST");
  c.send(req);
  Seen s = last();
  EXPECT_EQ(s.method, "POST");
  EXPECT_EQ(s.target, "/base/items?p1=shared&keep=1&p2=mine&p3=1.5");
  EXPECT_EQ(s.header("X-Shared"), "s");
  EXPECT_EQ(s.header("X-Both"), "mine");  // one header: names compare without case
  EXPECT_EQ(s.header("X-Num"), "7");
  EXPECT_EQ(s.header("Accept"), "text/plain");
  EXPECT_EQ(s.header("Cookie"), "c1=shared; c2=mine");
  EXPECT_EQ(s.header("Content-Type"), "application/json");
  EXPECT_EQ(s.body, "{}");
  EXPECT_EQ(s.header("Content-Length"), "2");
  // what the hooks see is what went out
  EXPECT_EQ(req.header("Content-Length"), "2");
  EXPECT_EQ(req.header("Host"), "127.0.0.1:" + std::to_string(server_.port()));

  // the shared settings hold for the next request; the per-request parts do not
  c.send(c.build_request("GET", "items"));
  s = last();
  EXPECT_EQ(s.target, "/base/items?p1=shared&p2=a&p2=b");
  EXPECT_EQ(s.header("X-Both"), "shared");
  EXPECT_EQ(s.header("Cookie"), "c1=shared; c2=shared");
  // a GET carries "{}" too (cpp-httplib does not hand GET bodies to its handlers)
  EXPECT_EQ(s.header("Content-Length"), "2");
  EXPECT_EQ(s.header("Content-Type"), "application/json");
}

TEST_F(ClientTest, BodyIsMultipartElseFormElseJson) {
  Client c = make();
  RequestParts parts;
  parts.json = parse_json(R"({"名字": "张三", "n": [1, 2.5]})");
  c.send(c.build_request("PUT", "/echo", parts));
  EXPECT_EQ(last().body, R"({"名字":"张三","n":[1,2.5]})");
  EXPECT_EQ(last().header("Content-Type"), "application/json");

  parts.data = parse_json(R"({"a": "1 2&3", "b": ["x", "y"], "c": true, "空": null})");
  c.send(c.build_request("POST", "/echo", parts));
  EXPECT_EQ(last().body, "a=1+2%263&b=x&b=y&c=true&%E7%A9%BA=");
  EXPECT_EQ(last().header("Content-Type"), "application/x-www-form-urlencoded");

  // every byte value survives the upload
  const fs::path file = fs::temp_directory_path() / ("client-test-" + std::to_string(::getpid()) + ".bin");
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += "\r\n--not-a-boundary\r\n";
  std::ofstream(file, std::ios::binary) << bytes;
  parts.data = parse_json(R"({"note": "说明"})");
  parts.files.push_back({"upload", UploadFile::open(file.string())});
  fs::remove(file);  // the open file is what counts
  c.send(c.build_request("POST", "/echo", parts));
  const Seen s = last();
  EXPECT_EQ(s.header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
  ASSERT_EQ(s.files.count("upload"), 1u);
  EXPECT_EQ(s.files.find("upload")->second.content, bytes);
  EXPECT_EQ(s.files.find("upload")->second.filename, file.filename().string());
  EXPECT_EQ(s.files.find("upload")->second.content_type, "application/octet-stream");
  ASSERT_EQ(s.files.count("note"), 1u);
  EXPECT_EQ(s.files.find("note")->second.content, "说明");

  // form data that is not a mapping cannot be sent; an empty one is no form
  RequestParts odd;
  odd.data = parse_json("[1]");
  EXPECT_THROW(c.build_request("POST", "/echo", odd), TypeError);
  odd.data = parse_json("[]");
  EXPECT_EQ(c.build_request("POST", "/echo", odd).content, "{}");

  const auto head = c.send(c.build_request("HEAD", "/echo"));
  EXPECT_EQ(head->status_code, 200);
  EXPECT_EQ(head->content, "");
  EXPECT_EQ(last().method, "HEAD");
  EXPECT_EQ(last().body, "");
}

TEST_F(ClientTest, ResponsesKeepHeaderOrderRepeatsAndCookies) {
  Client c = make();
  const auto r = c.send(c.build_request("GET", "/repeat"));
  EXPECT_EQ(r->status_code, 201);
  EXPECT_EQ(r->reason, "Created");
  // in the order sent (cpp-httplib sends them sorted by name, repeats in the order added)
  std::vector<std::string> repeat;
  for (const auto& [k, v] : r->headers)
    if (k == "X-Repeat" || k == "Set-Cookie") repeat.push_back(k + "=" + v);
  EXPECT_EQ(repeat, (std::vector<std::string>{"Set-Cookie=a=1", "Set-Cookie=b=2; Path=/", "X-Repeat=one", "X-Repeat=two"}));
  EXPECT_EQ(r->header_map().at("X-Repeat").as_str(), "one, two");
  EXPECT_EQ(r->cookies, (Dict{{"a", Value("1")}, {"b", Value("2")}}));
  EXPECT_EQ(r->text, "中文");
  EXPECT_EQ(r->url, server_.url("/repeat"));
  EXPECT_GT(r->elapsed, 0.0);
  ASSERT_TRUE(r->request);
  EXPECT_EQ(r->request->url, server_.url("/repeat"));
}

TEST_F(ClientTest, CompressionOnlyWhenAskedAndDecodedWhenSent) {
  std::string expected;
  for (int i = 0; i < 2000; ++i) expected += "第 " + std::to_string(i) + " 行\n";
  Client c = make();
  c.send(c.build_request("GET", "/echo"));
  EXPECT_EQ(last().header("Accept-Encoding"), "<none>");
  auto plain = c.send(c.build_request("GET", "/long"));
  EXPECT_EQ(plain->header("Content-Encoding"), "");
  EXPECT_EQ(plain->text, expected);

  RequestParts parts;
  parts.headers.set("Accept-Encoding", Value("gzip"));
  auto packed = c.send(c.build_request("GET", "/long", parts));
  EXPECT_EQ(packed->header("Content-Encoding"), "gzip");
  EXPECT_EQ(packed->content, expected);
  EXPECT_EQ(packed->text, expected);
}

TEST_F(ClientTest, CookiesSetByResponsesGoWithLaterRequests) {
  Client c = make();
  c.send(c.build_request("GET", "/set"));
  c.send(c.build_request("GET", "/echo"));
  EXPECT_EQ(last().header("Cookie"), "sid=from-server");

  // cookies given for the request win over the server's of the same name
  RequestParts parts;
  parts.cookies.set("sid", Value("mine"));
  parts.cookies.set("other", Value("x"));
  c.send(c.build_request("GET", "/echo", parts));
  EXPECT_EQ(last().header("Cookie"), "sid=mine; other=x");
  // a Cookie header given by hand is sent as it is
  parts.headers.set("Cookie", Value("by=hand"));
  c.send(c.build_request("GET", "/echo", parts));
  EXPECT_EQ(last().header("Cookie"), "by=hand");

  c.send(c.build_request("GET", "/expire"));
  c.send(c.build_request("GET", "/echo"));
  EXPECT_EQ(last().header("Cookie"), "<none>");
  EXPECT_TRUE(c.cookie_jar().cookies().empty());

  // another client has a jar of its own
  Client other = make();
  c.send(c.build_request("GET", "/set"));
  other.send(other.build_request("GET", "/echo"));
  EXPECT_EQ(last().header("Cookie"), "<none>");
}

TEST_F(ClientTest, RedirectsAreFollowedOnlyWhenAsked) {
  // before the client, so the client's connection to it closes first
  LocalServer elsewhere([](httplib::Server& srv) {
    srv.Get("/landing", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Authorization") + "|" + req.get_header_value("X-Keep") + "|" +
                          req.get_header_value("Host"),
                      "text/plain");
    });
  });
  Client c = make();
  std::vector<std::string> events;
  c.request_hooks().push_back([&](const Request& r) { events.push_back("> " + r.method + " " + r.url); });
  c.response_hooks().push_back([&](const Response& r) { events.push_back("< " + std::to_string(r.status_code)); });

  RequestParts parts;
  parts.json = parse_json(R"({"k": 1})");
  auto r = c.send(c.build_request("POST", "/redirect?code=302&to=/echo", parts));
  EXPECT_EQ(r->status_code, 302);
  EXPECT_EQ(r->header("Location"), "/echo");
  EXPECT_EQ(seen().size(), 1u);

  c.set_follow_redirects(true);
  events.clear();
  r = c.send(c.build_request("POST", "/redirect?code=302&to=/echo&cookie=hop%3D1", parts));
  EXPECT_EQ(r->status_code, 200);
  EXPECT_EQ(r->url, server_.url("/echo"));
  ASSERT_EQ(r->history.size(), 1u);
  EXPECT_EQ(r->history[0]->status_code, 302);
  EXPECT_EQ(events, (std::vector<std::string>{"> POST " + server_.url("/redirect?code=302&to=/echo&cookie=hop%3D1"),
                                              "< 302", "> GET " + server_.url("/echo"), "< 200"}));
  Seen s = last();
  EXPECT_EQ(s.method, "GET");  // 302 after POST: GET without the body
  EXPECT_EQ(s.body, "");
  EXPECT_EQ(s.header("Content-Type"), "<none>");
  EXPECT_EQ(s.header("Cookie"), "hop=1");  // set by the redirect itself

  // 307 keeps method and body
  c.send(c.build_request("POST", "/redirect?code=307&to=/echo", parts));
  EXPECT_EQ(last().method, "POST");
  EXPECT_EQ(last().body, R"({"k":1})");

  // credentials stay with their origin
  RequestParts auth;
  auth.headers.set("Authorization", Value("Bearer secret"));
  auth.headers.set("X-Keep", Value("kept"));
  r = c.send(c.build_request("GET", "/redirect?code=301&to=" + form_encode(elsewhere.url("/landing")), auth));
  EXPECT_EQ(r->text, "|kept|127.0.0.1:" + std::to_string(elsewhere.port()));

  EXPECT_THROW(c.send(c.build_request("GET", "/loop")), TooManyRedirects);
}

TEST_F(ClientTest, OneConnectionServesManyRequests) {
  Client c = make();
  for (int i = 0; i < 12; ++i) c.send(c.build_request(i % 2 ? "GET" : "POST", "/echo"));
  std::set<std::string> ports;
  for (const auto& s : seen()) ports.insert(s.remote_port);
  EXPECT_EQ(ports.size(), 1u);
}

TEST_F(ClientTest, TransportFailuresNameTheUrl) {
  Client::Options o;
  o.base_url = "http://127.0.0.1:" + std::to_string(testing::closed_port());
  Client refused(std::move(o));
  try {
    refused.send(refused.build_request("GET", "/nothing"));
    FAIL() << "no error";
  } catch (const ConnectError& e) {
    EXPECT_NE(std::string(e.what()).find("GET " + refused.base_url() + "/nothing"), std::string::npos) << e.what();
  }

  Client::Options quick;
  quick.base_url = server_.url();
  quick.timeout = 0.4;
  Client slow(std::move(quick));
  try {
    slow.send(slow.build_request("GET", "/slow"));
    FAIL() << "no error";
  } catch (const TimeoutError& e) {
    EXPECT_NE(std::string(e.what()).find("GET " + server_.url("/slow")), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("0.4 秒"), std::string::npos) << e.what();
  }
  // the client is still usable after a failure
  EXPECT_EQ(slow.send(slow.build_request("GET", "/echo"))->status_code, 200);

  // a request's own time-out holds for that request only, in either direction
  Request patient = slow.build_request("GET", "/slow");
  patient.timeout = 5;
  EXPECT_EQ(slow.send(std::move(patient))->text, "late");
  Client lenient = make();
  Request hasty = lenient.build_request("GET", "/slow");
  hasty.timeout = 0.2;
  try {
    lenient.send(std::move(hasty));
    FAIL() << "no error";
  } catch (const TimeoutError& e) {
    EXPECT_NE(std::string(e.what()).find("0.2 秒"), std::string::npos) << e.what();
  }
  EXPECT_EQ(lenient.send(lenient.build_request("GET", "/slow"))->text, "late");
}

// The time-out bounds each wait, not the whole exchange: a body arriving a byte every 0.3 s for
// 2.4 s is read whole with a 1 s time-out, and one gap longer than the time-out ends it.
TEST_F(ClientTest, TheTimeOutBoundsEachWaitNotTheWholeExchange) {
  Client::Options o;
  o.base_url = server_.url();
  o.timeout = 1;
  Client c(std::move(o));
  const auto r = c.send(c.build_request("GET", "/trickle?gap=300"));
  EXPECT_EQ(r->text, "abcdefgh");
  EXPECT_GT(r->elapsed, 2.0);
  try {
    c.send(c.build_request("GET", "/trickle?gap=100&last=1500"));
    FAIL() << "no error";
  } catch (const TimeoutError& e) {
    EXPECT_STREQ(e.what(), ("请求超时（超过 1.0 秒）: GET " + server_.url("/trickle?gap=100&last=1500")).c_str());
  }

  // a listener that never accepts: the connection opens in its backlog, no answer ever comes
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  Request silent = c.build_request("GET", "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/");
  silent.timeout = 0.3;
  EXPECT_THROW(c.send(std::move(silent)), TimeoutError);
  ::close(fd);
}

TEST_F(ClientTest, BadRequestsAndSettingsFailBeforeAnythingChanges) {
  Client c = make();
  for (const char* method : {"", "GE T", "GET\r\n", "POST/"}) EXPECT_THROW(c.build_request(method, "/echo"), ValueError) << method;
  RequestParts parts;
  parts.headers.set("X-Evil", Value("a\r\nInjected: yes"));
  EXPECT_THROW(c.build_request("GET", "/echo", parts), ValueError);
  parts.headers = Dict{{"Bad Name", Value("x")}};
  EXPECT_THROW(c.build_request("GET", "/echo", parts), ValueError);
  parts.headers = Dict{{"X-List", Value(List{Value(1)})}};
  EXPECT_THROW(c.build_request("GET", "/echo", parts), TypeError);
  parts.headers = Dict{};
  parts.cookies.set("c", Value("a; injected=1"));
  EXPECT_THROW(c.build_request("GET", "/echo", parts), ValueError);
  EXPECT_THROW(c.build_request("GET", "http://exa mple/"), InvalidURL);
  EXPECT_TRUE(seen().empty());

  c.set_headers(parse_json(R"({"X-A": "1"})"));
  EXPECT_THROW(c.set_headers(parse_json(R"(["X-A"])")), TypeError);
  EXPECT_THROW(c.set_headers(parse_json(R"({"X-B": "ok", "X-C": {"nested": 1}})")), TypeError);
  EXPECT_THROW(c.set_headers(parse_json(R"({"X-B": "line\nbreak"})")), ValueError);
  EXPECT_THROW(c.set_params(parse_json(R"({"p": [[1]]})")), TypeError);
  EXPECT_THROW(c.set_cookies(parse_json(R"({"bad name": "v"})")), ValueError);
  EXPECT_EQ(c.headers(), (Dict{{"X-A", Value("1")}}));
  EXPECT_TRUE(c.params().empty());
  EXPECT_TRUE(c.cookies().empty());
  EXPECT_THROW(c.set_base_url("ftp://h/"), InvalidURL);
  EXPECT_EQ(c.base_url(), server_.url());

  for (double t : {0.0, -1.0, std::nan("")}) {
    Client::Options o;
    o.timeout = t;
    EXPECT_THROW(Client{std::move(o)}, ValueError) << t;
  }
}

TEST(UploadFile, PathsThatCannotBeReadFailWhenOpened) {
  try {
    UploadFile::open("/no/such/file.txt");
    FAIL() << "no error";
  } catch (const OSError& e) {
    EXPECT_STREQ(e.what(), "[Errno 2] No such file or directory: '/no/such/file.txt'");
  }
  try {
    UploadFile::open("/tmp");
    FAIL() << "no error";
  } catch (const OSError& e) {
    EXPECT_STREQ(e.what(), "[Errno 21] Is a directory: '/tmp'");
  }
  // a FIFO would block the case, a device might never end
  const std::string fifo = (fs::temp_directory_path() / ("upload-fifo-" + std::to_string(::getpid()))).string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(UploadFile::open(fifo), OSError);
  fs::remove(fifo);
  EXPECT_THROW(UploadFile::open("/dev/zero"), OSError);
}

}  // namespace
}  // namespace tovik::http
