// The start command's workbook as other programs see it: openpyxl reads the drop-down back,
// LibreOffice opens it (when installed), openpyxl fills it and the tovik program runs it.
#include "cli/start.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "keywords/class_by_type.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"
#include "support/xlsx/editor.hpp"
#include "support/xlsx/workbook.hpp"

namespace tovik::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

// Debian's interpreter: openpyxl is its package (python3-openpyxl), not another Python's.
constexpr const char* kPython = "/usr/bin/python3";

// What openpyxl reads from a workbook: the sheet titles, every validation of one sheet with all
// its properties, the keyword list column and the sheet's header.
constexpr const char* kInspect = R"(import json, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb[sys.argv[2]]
print(json.dumps({
    "sheets": wb.sheetnames,
    "validations": [{
        "type": dv.type, "formula1": dv.formula1, "formula2": dv.formula2,
        "allow_blank": dv.allow_blank, "errorStyle": dv.errorStyle, "error": dv.error,
        "errorTitle": dv.errorTitle, "prompt": dv.prompt, "promptTitle": dv.promptTitle,
        "sqref": str(dv.sqref), "showErrorMessage": dv.showErrorMessage,
        "showInputMessage": dv.showInputMessage, "showDropDown": dv.showDropDown,
        "operator": dv.operator} for dv in ws.data_validations.dataValidation],
    "keywords": [r[0] for r in wb["_key_word"].iter_rows(min_col=1, max_col=1, values_only=True)],
    "header": [c.value for c in ws[1]],
}, ensure_ascii=False))
)";

// Two rows a tester fills in, saved by openpyxl.
constexpr const char* kFill = R"(import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb[sys.argv[2]]
ws.append([3, "填好的第一行", "assert", "填好", "in", "已经填好的两行"])
ws.append([4, "填好的第二行", "assert", 7, "equal", 7])
wb.save(sys.argv[1])
)";

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Ran {
  int status = -1;
  std::string output;  // stdout and stderr
};

Ran run_command(const std::string& command) {
  Ran ran;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return ran;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) ran.output.append(buf, n);
  const int st = ::pclose(pipe);
  ran.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return ran;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Each test in a fresh current directory, with the data directory the build made.
class StartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("tovik_start_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "work");
    ::setenv("TOVIK_DATA_DIR", TOVIK_DATA_OUT, 1);
    fs::current_path(dir_ / "work");
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
    ::unsetenv("TOVIK_DATA_DIR");
  }

  // start() with what it printed.
  static std::string started(const std::string& name, const Value& kw_type = Value("all")) {
    std::stringstream buf;
    auto* saved = std::cout.rdbuf(buf.rdbuf());
    try {
      start(name, kw_type);
    } catch (...) {
      std::cout.rdbuf(saved);
      throw;
    }
    std::cout.rdbuf(saved);
    return buf.str();
  }

  // openpyxl's view of the workbook, as a mapping.
  Value inspect(const fs::path& file, const std::string& sheet) {
    const fs::path script = dir_ / "read_back.py";
    std::ofstream(script) << kInspect;
    const Ran ran = run_command(std::string(kPython) + " " + quote(script) + " " + quote(file) + " " + quote(sheet));
    EXPECT_EQ(ran.status, 0) << ran.output << "\n(python3-openpyxl comes with scripts/setup)";
    return ran.status == 0 ? parse_json(ran.output) : Value();
  }

  static List keyword_column(const std::string& kw_type) {
    List expected{"关键字"};  // the template's heading stays on top
    for (const auto& k : get_class_by_type(Value(kw_type)).all_keyword()) expected.push_back(k);
    return expected;
  }

  fs::path old_, dir_;
};

TEST_F(StartTest, WorkbookHasTheRenamedSheetTheKeywordsAndTheDropDown) {
  EXPECT_EQ(started("login"), "已创建新的测试用例文件：test_login.xlsx\n");
  const Value seen = inspect("test_login.xlsx", "login");
  ASSERT_TRUE(seen.is_dict());
  const Dict& d = seen.as_dict();
  EXPECT_EQ(d.at("sheets"), (List{"login", "_key_word"}));
  EXPECT_EQ(d.at("header"), (List{"编号", "描述", "关键字", "参数1", "参数2", "参数3", "参数4", "参数5"}));
  EXPECT_EQ(d.at("keywords"), keyword_column("all"));

  ASSERT_EQ(d.at("validations").as_list().size(), 1u);
  const Dict& v = d.at("validations").as_list()[0].as_dict();
  EXPECT_EQ(v.at("type"), Value("list"));
  EXPECT_EQ(v.at("formula1"), Value("=_key_word!$A:$A"));
  EXPECT_EQ(v.at("formula2"), Value());
  EXPECT_EQ(v.at("allow_blank"), Value(true));
  EXPECT_EQ(v.at("errorStyle"), Value("warning"));
  EXPECT_EQ(v.at("error"), Value("未知的关键字，可能会引起错误"));
  EXPECT_EQ(v.at("errorTitle"), Value());
  EXPECT_EQ(v.at("prompt"), Value("可用从下拉菜单中选择"));
  EXPECT_EQ(v.at("promptTitle"), Value("关键字"));
  EXPECT_EQ(v.at("sqref"), Value("C1:C1048576"));
  // shown when typing and when a value is not in the list; the drop-down is not hidden
  EXPECT_EQ(v.at("showErrorMessage"), Value(true));
  EXPECT_EQ(v.at("showInputMessage"), Value(true));
  EXPECT_EQ(v.at("showDropDown"), Value());
  EXPECT_EQ(v.at("operator"), Value());

  // the example rows the runner will read
  const auto book = xlsx::read_workbook("test_login.xlsx");
  EXPECT_EQ(book.sheets.at(0).rows.at(2).cells, (List{1, "断言：参数依次为预期结果、断言方法、实际结果", "assert", "tovik", "in", "欢迎使用 tovik"}));
  EXPECT_EQ(listing("."), std::vector<std::string>{"test_login.xlsx"});
}

TEST_F(StartTest, OneKindListsOnlyItsKeywordsAndASecondRunReplacesTheFile) {
  started("接口用例", Value("api"));
  Value seen = inspect("test_接口用例.xlsx", "接口用例");
  ASSERT_TRUE(seen.is_dict());
  EXPECT_EQ(seen.as_dict().at("keywords"), keyword_column("api"));
  EXPECT_THAT(repr(seen.as_dict().at("keywords")), AllOf(HasSubstr("'send_http'"), testing::Not(HasSubstr("'click'"))));

  // a file of that name, even a broken one, is replaced whole
  std::ofstream("test_接口用例.xlsx", std::ios::trunc) << "not a workbook";
  EXPECT_EQ(started("接口用例", Value("WEB")), "已创建新的测试用例文件：test_接口用例.xlsx\n");
  seen = inspect("test_接口用例.xlsx", "接口用例");
  ASSERT_TRUE(seen.is_dict());
  EXPECT_EQ(seen.as_dict().at("keywords"), keyword_column("web"));
  EXPECT_EQ(listing("."), std::vector<std::string>{"test_接口用例.xlsx"});
}

TEST_F(StartTest, NamesThatCannotTitleACaseSheetAreRefusedBeforeAnythingIsWritten) {
  for (const std::string& name :
       {std::string(), std::string(32, 'n'), std::string("a:b"), std::string("a/b"), std::string("a\\b"),
        std::string("a?b"), std::string("a*b"), std::string("a[b"), std::string("a]b"), std::string("_key_word"),
        std::string("_KEY_Word"), std::string("_draft"), std::string("'quoted'"), std::string("a\0b", 3)}) {
    std::string message;
    EXPECT_THROW(
        try { started(name); } catch (const ValueError& e) {
          message = e.what();
          throw;
        },
        ValueError)
        << repr_text(name);
    EXPECT_THAT(message, HasSubstr("用例名称 " + repr_text(name))) << message;
  }
  EXPECT_TRUE(listing(".").empty());
  EXPECT_THROW(started("ok", Value(3)), TypeError);
  EXPECT_TRUE(listing(".").empty());

  // 31 characters is the longest title, whatever their bytes
  std::string han;
  for (int i = 0; i < 31; ++i) han += "例";
  started(han);
  EXPECT_EQ(xlsx::sheet_names("test_" + han + ".xlsx").front(), han);
}

TEST_F(StartTest, MissingBrokenOrIncompleteTemplateAndUnwritableDirectory) {
  const fs::path data = dir_ / "data";
  fs::create_directories(data);
  ::setenv("TOVIK_DATA_DIR", data.c_str(), 1);
  auto fails = [&](auto kind) {
    using Kind = decltype(kind);
    std::string message;
    std::string out;
    try {
      out = started("login");
    } catch (const Kind& e) {
      message = e.what();
    }
    EXPECT_EQ(out, "");
    EXPECT_TRUE(listing(".").empty());
    return message;
  };
  EXPECT_THAT(fails(OSError()), HasSubstr((data / "template.xlsx").string()));
  std::ofstream(data / "template.xlsx") << "PK but not really";
  EXPECT_THAT(fails(ValueError()), AllOf(HasSubstr((data / "template.xlsx").string()), HasSubstr("不是有效的 xlsx 工作簿")));
  {
    xlsx::WorkbookEditor tmpl(TOVIK_DATA_OUT "/template.xlsx");
    tmpl.rename_sheet("active", "cases");
    tmpl.save(data / "template.xlsx");
  }
  EXPECT_THAT(fails(ValueError()), HasSubstr("没有工作表 'active'"));

  // the current directory went away under us
  ::setenv("TOVIK_DATA_DIR", TOVIK_DATA_OUT, 1);
  fs::create_directories(dir_ / "gone");
  fs::current_path(dir_ / "gone");
  fs::remove(dir_ / "gone");
  std::string message;
  std::stringstream out;
  auto* saved = std::cout.rdbuf(out.rdbuf());
  try {
    start("login");
  } catch (const OSError& e) {
    message = e.what();
  }
  std::cout.rdbuf(saved);
  EXPECT_THAT(message, AllOf(HasSubstr("test_login.xlsx"), HasSubstr("No such file or directory")));
  EXPECT_EQ(out.str(), "");
}

TEST_F(StartTest, LibreOfficeOpensTheWorkbookWithItsDropDown) {
  if (run_command("command -v soffice").status != 0) GTEST_SKIP() << "soffice not installed";
  started("login");
  // a profile of its own, so that a LibreOffice already running elsewhere does not take the job
  const std::string soffice = "timeout 120 soffice --headless -env:UserInstallation=file://" + (dir_ / "profile").string();
  const std::string into = " --outdir " + quote((dir_ / "converted").string()) + " test_login.xlsx";
  Ran ran = run_command(soffice + " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76'" + into);
  const std::string csv = read_file(dir_ / "converted" / "test_login.csv");
  ASSERT_FALSE(csv.empty()) << ran.output;
  EXPECT_THAT(csv, AllOf(HasSubstr("编号,描述,关键字,参数1,参数2,参数3,参数4,参数5\n"),
                         HasSubstr(",@tags,demo"), HasSubstr("2,关键字可从 C 列的下拉菜单中选择,assert,200,equal,200")));

  ran = run_command(soffice + " --convert-to ods" + into);
  const fs::path ods = dir_ / "converted" / "test_login.ods";
  ASSERT_TRUE(fs::exists(ods)) << ran.output;
  ran = run_command(std::string(kPython) + " -c " +
                    quote("import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read('content.xml').decode())") +
                    " " + quote(ods.string()));
  EXPECT_THAT(ran.output,
              AllOf(HasSubstr("table:name=\"login\""), HasSubstr("table:name=\"_key_word\""),
                    HasSubstr("table:condition=\"of:cell-content-is-in-list([$_key_word.$A:.$A])\""),
                    HasSubstr("table:allow-empty-cell=\"true\""),
                    HasSubstr("<table:help-message table:title=\"关键字\" table:display=\"true\"><text:p>可用从下拉菜单中选择</text:p>"),
                    HasSubstr("<table:error-message table:message-type=\"warning\" table:display=\"true\"><text:p>未知的关键字，可能会引起错误</text:p>")));
}

TEST_F(StartTest, FilledWorkbookRunsAndPasses) {
  started("login");
  const fs::path script = dir_ / "fill_rows.py";
  std::ofstream(script) << kFill;
  Ran ran = run_command(std::string(kPython) + " " + quote(script) + " test_login.xlsx login");
  ASSERT_EQ(ran.status, 0) << ran.output;
  std::ofstream("pytest.ini") << "[pytest]\nlog_file = tovik.log\nlog_file_level = info\n";

  ran = run_command(quote(TOVIK_BIN) + " run -v");
  EXPECT_EQ(ran.status, 0) << ran.output;
  EXPECT_THAT(ran.output, AllOf(HasSubstr("test_login.xlsx::login"), HasSubstr("1 passed")));
  // the template's two examples and the two new rows ran
  const std::string log = read_file("tovik.log");
  EXPECT_THAT(log, AllOf(HasSubstr("正在执行关键字: 【assert】('tovik', 'in', '欢迎使用 tovik')"),
                         HasSubstr("正在执行关键字: 【assert】(200, 'equal', 200)"),
                         HasSubstr("正在执行关键字: 【assert】('填好', 'in', '已经填好的两行')"),
                         HasSubstr("正在执行关键字: 【assert】(7, 'equal', 7)")))
      << log;
}

}  // namespace
}  // namespace tovik::cli
