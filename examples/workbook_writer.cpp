#include "examples/workbook_writer.hpp"

#include <fstream>
#include <sstream>

#include <xlsxwriter.h>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_yaml.hpp"

namespace tovik::examples {

namespace fs = std::filesystem;

void write_workbook(const fs::path& path, const std::vector<SheetRows>& sheets) {
  lxw_workbook* wb = workbook_new(path.c_str());
  if (!wb) throw OSError("cannot create workbook " + path.string());
  std::size_t widest = 0;
  for (const auto& s : sheets)
    for (const auto& r : s.rows) widest = std::max(widest, r.size());
  for (const auto& s : sheets) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, s.name.c_str());
    if (!ws) {
      workbook_close(wb);
      throw ValueError("invalid sheet name " + repr(Value(s.name)));
    }
    const char* header[] = {"编号", "描述", "关键字"};
    for (lxw_col_t c = 0; c < 3; ++c) worksheet_write_string(ws, 0, c, header[c], nullptr);
    for (std::size_t c = 3; c < std::max<std::size_t>(widest, 4); ++c)
      worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), ("参数" + std::to_string(c - 2)).c_str(), nullptr);
    for (std::size_t r = 0; r < s.rows.size(); ++r) {
      const auto row = static_cast<lxw_row_t>(r + 1);
      for (std::size_t c = 0; c < s.rows[r].size(); ++c) {
        const Value& v = s.rows[r][c];
        const auto col = static_cast<lxw_col_t>(c);
        if (v.is_none()) continue;
        lxw_error err;
        if (v.is_bool()) err = worksheet_write_boolean(ws, row, col, v.as_bool(), nullptr);
        else if (v.is_number()) err = worksheet_write_number(ws, row, col, v.as_float(), nullptr);
        else err = worksheet_write_string(ws, row, col, str(v).c_str(), nullptr);
        // libxlsxwriter refuses some cells (texts over 32767 characters, rows past the last one);
        // a silently empty cell would make a different workbook than the one described
        if (err != LXW_NO_ERROR) {
          workbook_close(wb);
          throw ValueError("cannot write sheet " + repr(Value(s.name)) + " row " + std::to_string(r + 2) + " column " +
                           std::to_string(c + 1) + ": " + lxw_strerror(err));
        }
      }
    }
    worksheet_set_column(ws, 0, 0, 6, nullptr);
    worksheet_set_column(ws, 1, 2, 18, nullptr);
    worksheet_set_column(ws, 3, 8, 24, nullptr);
  }
  if (workbook_close(wb) != LXW_NO_ERROR) throw OSError("cannot write workbook " + path.string());
}

std::vector<SheetRows> read_description(const fs::path& yaml_file) {
  std::ifstream in(yaml_file);
  if (!in) throw OSError("cannot read " + yaml_file.string());
  std::stringstream text;
  text << in.rdbuf();
  const Value doc = parse_yaml(text.str());
  std::vector<SheetRows> out;
  if (!doc.is_dict() || !doc.as_dict().contains("sheets") || !doc.as_dict().at("sheets").is_list())
    throw ValueError(yaml_file.string() + ": expected a mapping with a list 'sheets'");
  for (const auto& s : doc.as_dict().at("sheets").as_list()) {
    if (!s.is_dict()) throw ValueError(yaml_file.string() + ": every sheet is a mapping with name and rows");
    SheetRows sheet;
    sheet.name = str(s.as_dict().at("name"));
    if (const Value* rows = s.as_dict().find("rows"))
      for (const auto& r : rows->as_list()) sheet.rows.push_back(r.is_list() ? r.as_list() : List{r});
    out.push_back(std::move(sheet));
  }
  return out;
}

}  // namespace tovik::examples
