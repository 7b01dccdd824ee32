#include "cli/start.hpp"

#include <filesystem>
#include <iostream>

#include "cli/data_dir.hpp"
#include "keywords/class_by_type.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/xlsx/editor.hpp"

namespace tovik::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kKeywordSheet = "_key_word";
constexpr const char* kCaseSheet = "active";

}  // namespace

std::string start_name_problem(const std::string& name) {
  // the title rules also keep the file name sound: no '/', and NUL is a control character
  if (std::string problem = xlsx::sheet_title_problem(name); !problem.empty()) return problem;
  // two sheets of one title (letter case aside) make a workbook no spreadsheet opens
  if (iequals(name, kKeywordSheet)) return "与关键字列表工作表 _key_word 同名";
  if (name.front() == '_') return "以 _ 开头的工作表不会作为用例执行";
  return {};
}

void start(const std::string& name, const Value& kw_type) {
  if (std::string problem = start_name_problem(name); !problem.empty())
    throw ValueError("用例名称 " + repr_text(name) + " 不能用作工作表标题: " + problem);
  const KeywordClassRef& cls = get_class_by_type(kw_type);

  const fs::path tmpl = data_dir() / "template.xlsx";
  std::error_code ec;
  if (!fs::is_regular_file(tmpl, ec)) throw OSError("找不到工作簿模板 " + tmpl.string());
  xlsx::WorkbookEditor book(tmpl);

  std::vector<std::vector<std::string>> rows;
  for (const std::string& keyword : cls.all_keyword()) rows.push_back({keyword});
  book.append_rows(kKeywordSheet, rows);

  xlsx::ListValidation validation;
  validation.formula1 = "=_key_word!$A:$A";
  validation.allow_blank = true;
  validation.error_style = "warning";
  validation.error = "未知的关键字，可能会引起错误";
  validation.prompt = "可用从下拉菜单中选择";
  validation.prompt_title = "关键字";
  validation.sqref = "C1:C1048576";
  book.add_list_validation(kCaseSheet, validation);
  book.rename_sheet(kCaseSheet, name);

  const std::string file_name = "test_" + name + ".xlsx";
  book.save(fs::path(file_name));
  std::cout << "已创建新的测试用例文件：" << file_name << std::endl;
}

}  // namespace tovik::cli
