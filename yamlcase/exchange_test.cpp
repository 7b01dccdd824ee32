#include "yamlcase/exchange.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik {

namespace fs = std::filesystem;

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("tovik_exchange_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  static http::Response response(std::string body) {
    http::Response r;
    r.status_code = 200;
    r.headers = {{"Content-Type", "application/json"}, {"X-Trace", "a"}, {"X-Trace", "b"}};
    r.text = r.content = std::move(body);
    return r;
  }
  static std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static const Value& global(const Exchange& ex, const std::string& name) { return ex.globals.env_globals().at(name); }
  fs::path old_, dir_;
};

TEST_F(ExchangeTest, LiteralsSlashRulesAndNonJsonBodies) {
  Exchange ex("vars.yaml");
  const auto html = response("<html>not json</html>");
  ex.extract(html, "lit", "str", Value("固定值 {x}"));
  EXPECT_EQ(global(ex, "lit"), Value("固定值 {x}"));
  ex.extract(html, "nothing", "json", Value("/a/b"));
  EXPECT_EQ(global(ex, "nothing"), Value("not data"));
  ex.extract(html, "msg", "json", Value("$.msg"));
  EXPECT_EQ(global(ex, "msg"), Value(" is not json data"));
  ex.extract(html, "missing", "json", Value("$.nope"));
  EXPECT_EQ(global(ex, "missing"), Value("not data"));
  // without debug nothing reaches the disk
  EXPECT_FALSE(fs::exists("vars.yaml"));
}

TEST_F(ExchangeTest, JsonPathAndRegexSelectByIndex) {
  Exchange ex("vars.yaml");
  const auto r = response(R"({"code": 0, "data": [{"id": 7, "name": "tom"}, {"id": 9, "name": "张三"}]})");
  ex.extract(r, "code", "json", Value("$.code"));
  EXPECT_EQ(global(ex, "code"), Value(0));
  EXPECT_TRUE(global(ex, "code").is_int());
  ex.extract(r, "last_id", "json", Value("$..id"), Value(-1));
  EXPECT_EQ(global(ex, "last_id"), Value(9));
  ex.extract(r, "first", "json", Value("$.data[0]"));
  EXPECT_EQ(repr(global(ex, "first")), "{'id': 7, 'name': 'tom'}");
  // regular expressions run over the printable form of the parsed body: single-quoted texts
  ex.extract(r, "name", "json", Value("'name': '([^']+)'"), Value(-1));
  EXPECT_EQ(global(ex, "name"), Value("张三"));
  ex.extract(r, "pair", "json", Value(R"('id': (\d+), 'name': '(\w+)')"));
  EXPECT_EQ(repr(global(ex, "pair")), "('7', 'tom')");
  ex.extract(r, "whole", "text", Value(R"("id": \d+)"), Value(1));
  EXPECT_EQ(global(ex, "whole"), Value("\"id\": 9"));
  ex.extract(r, "status", "status_code", Value(R"(\d)"), Value(0));
  EXPECT_EQ(global(ex, "status"), Value("2"));
  ex.extract(r, "trace", "headers", Value("'X-Trace': '([^']*)'"));
  EXPECT_EQ(global(ex, "trace"), Value("a, b"));
}

// A whole member keeps its kind: a response time to bound, a status to compare, the headers.
TEST_F(ExchangeTest, WholeMembersArePublishedWithTheirKind) {
  Exchange ex("vars.yaml");
  auto r = response(R"({"a": [1]})");
  r.elapsed = 0.0126;
  ex.extract_member(r, "ms", "elapsed_ms");
  EXPECT_EQ(global(ex, "ms"), Value(13));
  ex.extract_member(r, "code", "status_code");
  EXPECT_EQ(global(ex, "code"), Value(200));
  ex.extract_member(r, "body", "json");
  EXPECT_EQ(repr(global(ex, "body")), "{'a': [1]}");
  ex.extract_member(r, "h", "headers");
  EXPECT_EQ(global(ex, "h").as_dict().at("X-Trace"), Value("a, b"));
  ex.extract_member(response("<p>"), "broken", "json");
  EXPECT_EQ(repr(global(ex, "broken")), "{'msg': ' is not json data'}");
  EXPECT_THROW(ex.extract_member(r, "x", "nope"), AttributeError);
  EXPECT_FALSE(ex.globals.env_globals().contains("x"));
}

TEST_F(ExchangeTest, FailuresPublishNothing) {
  Exchange ex("vars.yaml");
  const auto r = response(R"({"list": [1, 2]})");
  EXPECT_THROW(ex.extract(r, "v", "nope", Value("$.a")), AttributeError);
  EXPECT_THROW(ex.extract(r, "v", "text", Value("$.a")), TypeError);  // "$" needs a mapping
  EXPECT_THROW(ex.extract(r, "v", "json", Value("$.list[*]"), Value(2)), IndexError);
  EXPECT_THROW(ex.extract(r, "v", "json", Value("$.list[*]"), Value(-3)), IndexError);
  EXPECT_THROW(ex.extract(r, "v", "json", Value("$[?("), Value(0)), ValueError);
  EXPECT_THROW(ex.extract(r, "v", "json", Value("(unclosed"), Value(0)), ValueError);
  try {
    ex.extract(r, "v", "json", Value(5));
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_NE(std::string(e.what()).find("expr"), std::string::npos);
  }
  try {
    ex.extract(r, "v", "json", Value("$.a"), Value("0"));
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_NE(std::string(e.what()).find("index"), std::string::npos);
  }
  EXPECT_FALSE(ex.globals.env_globals().contains("v"));
}

TEST_F(ExchangeTest, DumpWritesPlainGlobalsOnlyAndDebugDumpsEachExtraction) {
  Exchange ex("vars.yaml", Value(), true);
  ex.globals.add_globals(Dict{{"keep_null", Value()}, {"a_list", Value::list({Value(1)})},
                              {"a_map", Value(Dict{{"k", Value(1)}})}, {"n", Value(1.5)}});
  ex.extract(response(R"({"token": "abc"})"), "token", "json", Value("$.token"));
  const std::string text = read("vars.yaml");
  EXPECT_NE(text.find("token: abc"), std::string::npos) << text;
  EXPECT_NE(text.find("keep_null: null"), std::string::npos) << text;
  EXPECT_NE(text.find("n: 1.5"), std::string::npos) << text;
  EXPECT_EQ(text.find("a_list"), std::string::npos) << text;
  EXPECT_EQ(text.find("a_map"), std::string::npos) << text;
  // saved variables already in the file survive a dump
  Exchange again("vars.yaml");
  again.file.set("saved", Value("kept"));
  again.dump();
  EXPECT_NE(read("vars.yaml").find("saved: kept"), std::string::npos);
}

TEST_F(ExchangeTest, EachRunsStoreKeepsItsOwnGlobals) {
  // two runs in one process: what the first extracted is not a global of the second
  Exchange first("a.yaml"), second("b.yaml");
  first.extract(response(R"({"token": "one"})"), "token", "json", Value("$.token"));
  EXPECT_EQ(global(first, "token"), Value("one"));
  EXPECT_FALSE(second.globals.env_globals().contains("token"));
  second.dump();
  EXPECT_EQ(read("b.yaml").find("token"), std::string::npos);
}

TEST_F(ExchangeTest, WithoutPathUsesFallbackFileInCurrentDirectory) {
  Exchange ex;
  EXPECT_EQ(ex.file.path(), fs::path("FileNotFoundError.yaml"));
  ex.dump();
  EXPECT_TRUE(fs::exists(dir_ / "FileNotFoundError.yaml"));
  EXPECT_FALSE(ex._debug);
  EXPECT_TRUE(ex._data.is_none());
}

}  // namespace tovik
