#include "runner/plugins/yaml_case.hpp"

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik::runner {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

class YamlCaseFile : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tovik_yaml_case_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }
  std::vector<TestCase> read(const std::string& text, const std::string& name = "test_a.yaml") {
    write(name, text);
    return read_yaml_cases(dir_ / name, name);
  }
  std::string file_error(const std::string& text) {
    try {
      read(text);
    } catch (const ValueError& e) {
      return e.what();
    }
    return "no error";
  }
  static const TestCase& named(const std::vector<TestCase>& cases, const std::string& name) {
    for (const auto& tc : cases)
      if (tc.name == name) return tc;
    throw std::runtime_error("no case " + name);
  }
  fs::path dir_;
};

TEST_F(YamlCaseFile, OneCaseFileAndCaseListsWithDefaults) {
  auto one = read("steps:\n  - keyword: assert\n    args: [1, equal, 1]\n", "test_login.yaml");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].nodeid, "test_login.yaml::test_login");  // named after the file
  EXPECT_EQ(one[0].marks.kw_type, "all");
  EXPECT_EQ(repr(Value::tuple(one[0].steps[0].args)), "(1, 'equal', 1)");

  auto cases = read(R"Y(
base_url: http://h
type: api
tags: [api]
variables: {a: 1, b: 2}
cases:
  - name: 甲
    variables: {b: 3}
    steps:
      - name: 发送
        request: {method: GET, url: /x, timeout: 2}
        extract: {id: $.id, all: [json, "$..id", -1], code: [status_code], word: [text, "(\\w+)"]}
        validate: {equals: {状态: ["${code}", 200]}}
  - name: 乙
    type: web
    tags: solo
    base_url: ~
    steps:
      - {keyword: goto, args: "http://x"}
)Y");
  ASSERT_EQ(cases.size(), 2u);
  const TestCase& a = cases[0];
  EXPECT_FALSE(a.broken) << *a.broken;
  EXPECT_EQ(a.marks.kw_type, "api");
  EXPECT_EQ(a.marks.tags, std::vector<std::string>{"api"});
  EXPECT_EQ(repr(Value(a.variables)), "{'a': 1, 'b': 3}");
  // the base URL is the case's first set-up step
  ASSERT_EQ(a.setup.size(), 1u);
  EXPECT_EQ(a.setup[0].call(), "set_baseurl ('http://h',)");
  const CaseStep& send = a.steps.at(0);
  EXPECT_EQ(send.where(), "文件 test_a.yaml, 第 10 行, 第 1 步 发送");
  EXPECT_EQ(send.call(), "request ('GET', '/x')");
  EXPECT_EQ(repr(send.request.at("request")), "{'method': 'GET', 'url': '/x', 'timeout': 2}");
  EXPECT_TRUE(send.request.contains("validate"));

  const TestCase& b = cases[1];
  EXPECT_EQ(b.marks.kw_type, "web");
  EXPECT_EQ(b.marks.tags, std::vector<std::string>{"solo"});
  EXPECT_TRUE(b.setup.empty());  // "base_url: ~" is no base URL, and the file's is not taken either
  EXPECT_EQ(b.steps[0].call(), "goto ('http://x',)");
}

TEST_F(YamlCaseFile, SetupTeardownAndSkip) {
  auto cases = read(R"Y(
cases:
  - name: 有前后
    setup: [{keyword: new_client}]
    steps: [{keyword: assert, args: [1, equal, 1]}]
    teardown: [{keyword: new_client}, {keyword: new_client, name: 再来}]
  - name: 跳过
    skip: 还没做好
  - name: 也跳过
    skip: true
    steps: [{keyword: x}]
)Y");
  const TestCase& t = named(cases, "有前后");
  EXPECT_EQ(t.setup.at(0).where(), "文件 test_a.yaml, 第 4 行, 前置第 1 步");
  EXPECT_EQ(t.teardown.at(1).where(), "文件 test_a.yaml, 第 6 行, 后置第 2 步 再来");
  EXPECT_EQ(named(cases, "跳过").marks.skip, "还没做好");
  EXPECT_FALSE(named(cases, "跳过").broken);  // a skipped case needs no steps
  EXPECT_EQ(named(cases, "也跳过").marks.skip, "用例标记为跳过");
}

TEST_F(YamlCaseFile, ParametrizeInlineAndFromDataFiles) {
  write("rows.csv", "\xEF\xBB\xBFid,code,note,zip\nok,200,\"a, b\",007\nbad,-1.5,,0\n");
  write("rows.json", R"([{"n": 1}, {"n": 2}, {"n": 3}])");
  auto cases = read(R"Y(
cases:
  - name: 行内
    parametrize: [{id: 甲, x: 1}, {x: 2}]
    steps: [{keyword: assert, args: ["${x}", equal, 1]}]
  - name: csv
    parametrize: {file: rows.csv}
    steps: [{keyword: new_client}]
  - name: json
    parametrize: {file: rows.json}
    steps: [{keyword: new_client}]
  - name: 空的
    parametrize: []
    steps: [{keyword: new_client}]
)Y");
  std::vector<std::string> ids;
  for (const auto& tc : cases) ids.push_back(tc.nodeid);
  EXPECT_EQ(ids, (std::vector<std::string>{"test_a.yaml::行内[甲]", "test_a.yaml::行内[2]", "test_a.yaml::csv[ok]",
                                           "test_a.yaml::csv[bad]", "test_a.yaml::json[1]", "test_a.yaml::json[2]",
                                           "test_a.yaml::json[3]", "test_a.yaml::空的"}));
  EXPECT_EQ(repr(Value(named(cases, "行内[2]").variables)), "{'x': 2}");
  // numbers become numbers, a leading zero keeps a text, quoted commas stay
  EXPECT_EQ(repr(Value(named(cases, "csv[ok]").variables)), "{'id': 'ok', 'code': 200, 'note': 'a, b', 'zip': '007'}");
  EXPECT_EQ(repr(Value(named(cases, "csv[bad]").variables)), "{'id': 'bad', 'code': -1.5, 'note': '', 'zip': 0}");
  EXPECT_EQ(named(cases, "空的").marks.skip, "parametrize 没有数据行");
}

TEST_F(YamlCaseFile, BadParametrizeBreaksOnlyThatCase) {
  write("ragged.csv", "a,b\n1\n");
  auto cases = read(R"Y(
cases:
  - {name: 缺文件, parametrize: {file: none.csv}, steps: [{keyword: new_client}]}
  - {name: 参差, parametrize: {file: ragged.csv}, steps: [{keyword: new_client}]}
  - {name: 重复, parametrize: [{id: a}, {id: a}], steps: [{keyword: new_client}]}
  - {name: 不是映射, parametrize: [1], steps: [{keyword: new_client}]}
  - {name: 好, steps: [{keyword: new_client}]}
)Y");
  ASSERT_EQ(cases.size(), 6u);
  EXPECT_THAT(*named(cases, "缺文件").broken, HasSubstr("参数文件 " + (dir_ / "none.csv").string() + " 不存在"));
  EXPECT_THAT(*named(cases, "参差").broken, HasSubstr("第 2 行有 1 列，表头有 2 列"));
  EXPECT_FALSE(named(cases, "重复[a]").broken);
  EXPECT_THAT(*cases[3].broken, HasSubstr("parametrize 的 id 重复: a"));
  EXPECT_THAT(*named(cases, "不是映射").broken, HasSubstr("parametrize 第 1 行应为映射，实际为 int"));
  EXPECT_FALSE(named(cases, "好").broken);
}

// Every malformed case says where; the others of the file stand.
TEST_F(YamlCaseFile, MalformedCasesNameLineAndStep) {
  auto cases = read(R"Y(
cases:
  - name: 未知字段
    stepz: []
  - name: 没有步骤
  - name: 两样都有
    steps:
      - {keyword: a, request: {method: GET, url: /}}
  - name: 请求缺字段
    steps:
      - {name: 取, request: {url: /}}
  - name: 坏表达式
    steps:
      - {request: {method: GET, url: /}, extract: {a: "$.[[["}}
  - name: 坏正则
    steps:
      - {request: {method: GET, url: /}, extract: {a: [text, "(oops"]}}
  - name: 未知来源
    steps:
      - {request: {method: GET, url: /}, extract: {a: [body, x]}}
  - name: 模板要到运行时才知道
    steps:
      - {request: {method: GET, url: /}, extract: {a: "${expr}", b: [text, "${re}", "${i}"]}}
  - name: 关键字步骤不能提取
    steps:
      - {keyword: new_client, extract: {a: $.a}}
  - name: 重试缺条件
    steps:
      - {request: {method: GET, url: /}, retry: {times: 2}}
  - name: 未知模板
    steps:
      - {keyword: assert, args: ["${nobody}"]}
  - name: 未知模板
    steps:
      - {keyword: new_client}
  - name: 空组名
    group: " "
    steps:
      - {keyword: new_client}
  - name: 有组
    group: " 登录 "
    steps:
      - {keyword: new_client}
)Y");
  const auto broken = [&](const std::string& name) { return named(cases, name).broken.value_or("not broken"); };
  EXPECT_THAT(broken("未知字段"), HasSubstr("文件 test_a.yaml, 第 4 行: 用例中未知的字段 stepz"));
  EXPECT_EQ(broken("没有步骤"), "文件 test_a.yaml, 第 5 行: 用例没有 steps（步骤列表）");
  EXPECT_EQ(broken("两样都有"), "文件 test_a.yaml, 第 8 行, 第 1 步: 步骤应有 keyword（关键字）或 request（请求）二者之一");
  EXPECT_EQ(broken("请求缺字段"), "文件 test_a.yaml, 第 11 行, 第 1 步 取: request 需要文本字段 method");
  EXPECT_THAT(broken("坏表达式"), HasSubstr("文件 test_a.yaml, 第 14 行, 第 1 步: extract 的 a: 表达式 '$.[[[' 无效"));
  EXPECT_THAT(broken("坏正则"), HasSubstr("表达式 '(oops' 无效"));
  EXPECT_THAT(broken("未知来源"), HasSubstr("未知的响应成员 body"));
  EXPECT_EQ(broken("模板要到运行时才知道"), "not broken");
  EXPECT_THAT(broken("关键字步骤不能提取"), HasSubstr("extract 只能用于 request 步骤"));
  EXPECT_THAT(broken("重试缺条件"), HasSubstr("retry 需要 until"));
  // templates are resolved when the case runs; two cases of one name are one too many
  EXPECT_EQ(cases[10].broken, std::nullopt);
  EXPECT_EQ(cases[11].broken, "文件 test_a.yaml: 用例名称重复: 未知模板");
  EXPECT_EQ(broken("空组名"), "文件 test_a.yaml, 第 37 行: group 应为组名（文本），实际为 ' '");
  EXPECT_EQ(named(cases, "有组").marks.group, "登录");
}

TEST_F(YamlCaseFile, FilesThatCannotBeReadAsAWholeAreRefused) {
  EXPECT_EQ(file_error("steps:\n  - [1, 2\n"), "文件 test_a.yaml, 第 3 行, 第 1 列: YAML 语法错误: while parsing a flow sequence: did not find expected ',' or ']'");
  EXPECT_EQ(file_error(""), "文件 test_a.yaml 是空的，没有用例");
  EXPECT_EQ(file_error("- a\n- b\n"), "文件 test_a.yaml, 第 1 行: 顶层应为映射（一个用例，或 cases: 用例列表）");
  EXPECT_THAT(file_error("cases: []\n"), HasSubstr("cases 应为非空的用例列表"));
  EXPECT_THAT(file_error("cases: [{steps: [{keyword: a}]}]\nstepz: 1\n"), HasSubstr("未知的字段 stepz"));
  // nesting deeper than any case file: an error, not a crash
  EXPECT_THAT(file_error("steps: " + std::string(100000, '[') + "\n"), HasSubstr("YAML 语法错误"));
  // too large to read: refused with its size and the limit
  write("test_big.yaml", std::string(kMaxYamlCaseBytes + 1, '#'));
  try {
    read_yaml_cases(dir_ / "test_big.yaml", "test_big.yaml");
    FAIL();
  } catch (const ValueError& e) {
    EXPECT_STREQ(e.what(), "文件 test_big.yaml 有 16777217 字节，超过 YAML 用例文件的上限 16777216 字节（16 MiB）");
  }
}

}  // namespace
}  // namespace tovik::runner
