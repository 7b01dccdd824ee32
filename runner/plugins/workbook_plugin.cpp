#include "runner/plugins/workbook_plugin.hpp"

#include "keywords/class_by_type.hpp"
#include "runner/case_clock.hpp"
#include "runner/interrupt.hpp"
#include "runner/plugins/keyword_call.hpp"
#include "runner/reruns.hpp"
#include "runner/variables.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/xlsx/workbook.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kNumberCol = 0, kDescriptionCol = 1, kKeywordCol = 2, kFirstArgCol = 3;

bool empty_cell(const Value& v) { return v.is_none() || (v.is_str() && v.as_str().empty()); }

std::string cell_text(const Value& v) { return v.is_none() ? std::string() : str(v); }

// Applies one "@" row to the case's marks; a mark it does not know is an error naming the row.
void apply_mark(TestCase& tc, const std::string& mark, const List& args, const CaseStep& where) {
  std::vector<std::string> words;
  for (const auto& a : args)
    if (!a.is_none()) words.push_back(str(a));
  if (mark == "@skip") {
    tc.marks.skip = words.empty() ? std::string("用例标记为跳过") : words.front();
  } else if (mark == "@fixtures") {
    tc.marks.fixtures.insert(tc.marks.fixtures.end(), words.begin(), words.end());
  } else if (mark == "@tags") {
    tc.marks.tags.insert(tc.marks.tags.end(), words.begin(), words.end());
  } else if (mark == "@type") {
    if (words.size() != 1) throw ValueError(where.where() + ": @type 需要一个关键字类型（web、app、api 或 all）");
    tc.marks.kw_type = words.front();
    tc.marks.kw_type_at = where.where();
  } else if (mark == "@reruns") {
    tc.marks.reruns = words.size() == 1 ? parse_count(words.front()) : std::nullopt;
    if (!tc.marks.reruns) throw ValueError(where.where() + ": @reruns 需要一个不小于 0 的整数，实际为 " + repr(Value::tuple(args)));
  } else if (mark == "@timeout") {
    tc.marks.timeout = words.size() == 1 ? parse_seconds(words.front()) : std::nullopt;
    if (!tc.marks.timeout) throw ValueError(where.where() + ": @timeout 需要一个大于 0 的秒数，实际为 " + repr(Value::tuple(args)));
  } else if (mark == "@group") {
    if (words.size() != 1 || std::string(strip_space(words.front())).empty())
      throw ValueError(where.where() + ": @group 需要一个组名，实际为 " + repr(Value::tuple(args)));
    tc.marks.group = std::string(strip_space(words.front()));
  } else {
    throw ValueError(where.where() + ": 未知的用例标记 " + mark + "（可用：@skip、@fixtures、@tags、@type、@timeout、@reruns、@group）");
  }
}

}  // namespace

void WorkbookPlugin::on_session_start(const Config&) { load_keywords_for_run(); }

bool WorkbookPlugin::collects(const fs::path& file) const {
  const std::string name = file.filename().string();
  return name.size() > 10 && name.rfind("test_", 0) == 0 && file.extension() == ".xlsx";
}

std::vector<TestCase> WorkbookPlugin::collect(const fs::path& file, const std::string& shown_path) {
  const xlsx::Workbook book = xlsx::read_workbook(file);
  // two tabs of one title (letter case aside, as spreadsheet programs count them) would be two
  // cases of one name: which one ran would be anyone's guess
  for (std::size_t i = 0; i < book.sheets.size(); ++i)
    for (std::size_t j = i + 1; j < book.sheets.size(); ++j)
      if (iequals(book.sheets[i].name, book.sheets[j].name))
        throw ValueError("文件 " + shown_path + " 中有两个同名的工作表: 第 " + std::to_string(i + 1) + " 个 " +
                         repr_text(book.sheets[i].name) + " 和第 " + std::to_string(j + 1) + " 个 " +
                         repr_text(book.sheets[j].name));
  std::vector<TestCase> cases;
  for (const auto& sheet : book.sheets) {
    if (!sheet.name.empty() && sheet.name[0] == '_') continue;
    TestCase tc;
    tc.file = shown_path;
    tc.name = sheet.name;
    tc.nodeid = shown_path + "::" + sheet.name;
    try {
      for (const auto& row : sheet.rows) {
        if (row.number == 1) continue;  // the header
        const Value& kw_cell = row.at(kKeywordCol);
        if (empty_cell(kw_cell)) continue;
        CaseStep step;
        step.file = shown_path;
        step.sheet = sheet.name;
        step.row = static_cast<int>(row.number);
        step.number = cell_text(row.at(kNumberCol));
        step.description = cell_text(row.at(kDescriptionCol));
        if (!kw_cell.is_str())
          throw ValueError(step.where() + ": C 列的关键字应为文本，实际为 " + kw_cell.type_name() + ": " + repr(kw_cell));
        step.keyword = kw_cell.as_str();
        std::size_t last = row.cells.size();
        while (last > kFirstArgCol && empty_cell(row.cells[last - 1])) --last;
        for (std::size_t c = kFirstArgCol; c < last; ++c) step.args.push_back(row.cells[c]);
        if (step.keyword[0] == '@') apply_mark(tc, step.keyword, step.args, step);
        else tc.steps.push_back(std::move(step));
      }
      if (tc.steps.empty() && !tc.marks.skip) tc.broken = "文件 " + shown_path + ", 工作表 " + sheet.name + ": 没有任何步骤（C 列为空）";
    } catch (const std::exception& e) {
      tc.broken = e.what();
    }
    cases.push_back(std::move(tc));
  }
  if (cases.empty()) throw ValueError("文件 " + shown_path + " 中没有用例工作表（标题不以 _ 开头的工作表）");
  return cases;
}

void WorkbookPlugin::run_case(const TestCase& tc, CaseContext& ctx) {
  warn_unknown_kind(tc.marks);
  const KeywordClassRef& cls = get_class_by_type(Value(tc.marks.kw_type));
  std::unique_ptr<BaseKeyWord> kw = cls.create(ctx.exchanger, Value(ctx.usefixtures));
  const BrowserNote browser(*kw, ctx.browser);
  const VariableLookup lookup = run_variables(*ctx.exchanger);
  for (const auto& step : tc.steps) {
    check_interrupt();
    check_case_clock(ctx);
    ctx.current_step = &step;
    std::string title = "第 " + std::to_string(step.row) + " 行 " + step.keyword;
    if (!step.description.empty()) title += " " + step.description;
    List args;
    args.reserve(step.args.size());
    for (const auto& a : step.args) args.push_back(resolve(a, lookup));
    call_keyword(*kw, step.keyword, args, title, step.where());
  }
  check_case_clock(ctx);  // the last step too may have run past it
  ctx.current_step = nullptr;
}

}  // namespace tovik::runner
