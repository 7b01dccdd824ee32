// Writes template.xlsx, the workbook that `tovik start` copies: the case sheet "active" and the
// keyword list "_key_word". Built from code so that no binary lives in the repository.
//
//   make_template OUTPUT
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include <xlsxwriter.h>

namespace {

struct Cell {
  enum Kind { kEmpty, kText, kNumber } kind = kEmpty;
  std::string text;
  double number = 0;
  Cell() = default;
  Cell(const char* t) : kind(kText), text(t) {}
  Cell(int n) : kind(kNumber), number(n) {}
};

// The columns as the workbook plug-in reads them: A step number, B description, C keyword, D on
// the keyword's arguments. Five argument columns cover the longest keyword (swipe).
const char* const kHeader[] = {"编号", "描述", "关键字", "参数1", "参数2", "参数3", "参数4", "参数5"};

// Examples that run as they are, without a browser or a server, so that `tovik run` passes on a
// fresh workbook; the last ones explain in words (C is empty: the runner skips them).
const std::vector<std::vector<Cell>> kExamples = {
    {{}, "标记行：@tags 标签，另有 @skip、@fixtures、@type", "@tags", "demo"},
    {1, "断言：参数依次为预期结果、断言方法、实际结果", "assert", "tovik", "in", "欢迎使用 tovik"},
    {2, "关键字可从 C 列的下拉菜单中选择", "assert", 200, "equal", 200},
    {{}, "C 列为空的行不执行，可作注释"},
    {{}, "浏览器示例：new_driver chrome，get 网址，click 定位符"},
    {{}, "定位符写作 值;;方式;;序号，如 q;;ID、//li;;XPATH;;2"},
};

bool check(lxw_error error, const char* what) {
  if (error == LXW_NO_ERROR) return true;
  std::fprintf(stderr, "make_template: %s: %s\n", what, lxw_strerror(error));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_template OUTPUT\n");
    return 2;
  }
  lxw_workbook* wb = workbook_new(argv[1]);
  if (!wb) {
    std::fprintf(stderr, "make_template: cannot create %s\n", argv[1]);
    return 1;
  }
  lxw_format* header = workbook_add_format(wb);
  format_set_bold(header);
  format_set_bg_color(header, 0xDDEBF7);
  format_set_border(header, LXW_BORDER_THIN);

  bool ok = true;
  lxw_worksheet* cases = workbook_add_worksheet(wb, "active");
  lxw_worksheet* keywords = workbook_add_worksheet(wb, "_key_word");
  if (!cases || !keywords) ok = false;

  for (lxw_col_t c = 0; ok && c < std::size(kHeader); ++c)
    ok = check(worksheet_write_string(cases, 0, c, kHeader[c], header), "header");
  for (std::size_t r = 0; ok && r < kExamples.size(); ++r) {
    const auto row = static_cast<lxw_row_t>(r + 1);
    for (std::size_t c = 0; ok && c < kExamples[r].size(); ++c) {
      const Cell& cell = kExamples[r][c];
      const auto col = static_cast<lxw_col_t>(c);
      if (cell.kind == Cell::kText)
        ok = check(worksheet_write_string(cases, row, col, cell.text.c_str(), nullptr), "example row");
      else if (cell.kind == Cell::kNumber)
        ok = check(worksheet_write_number(cases, row, col, cell.number, nullptr), "example row");
    }
  }
  if (ok) {
    worksheet_set_column(cases, 0, 0, 6, nullptr);
    worksheet_set_column(cases, 1, 1, 52, nullptr);
    worksheet_set_column(cases, 2, 2, 18, nullptr);
    worksheet_set_column(cases, 3, 7, 20, nullptr);
    worksheet_freeze_panes(cases, 1, 0);
    worksheet_activate(cases);

    // Row 1 is the list's heading; `tovik start` appends the keyword names below it.
    ok = check(worksheet_write_string(keywords, 0, 0, "关键字", header), "keyword heading");
    worksheet_set_column(keywords, 0, 0, 24, nullptr);
  }
  const lxw_error closed = workbook_close(wb);
  return ok && check(closed, argv[1]) ? 0 : 1;
}
