#include "support/xlsx/sheet_reader.hpp"

#include <charconv>
#include <optional>
#include <string_view>

#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/cell_ref.hpp"
#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/shared_strings.hpp"
#include "support/xlsx/xml_nodes.hpp"

namespace tovik::xlsx {
namespace {

std::optional<std::size_t> parse_index(std::string_view text) {
  text = trim_space(text);
  std::size_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

std::string shown(std::string_view s) {
  constexpr std::size_t kShown = 40;
  if (s.size() > kShown) return "'" + std::string(s.substr(0, kShown)) + "...'";
  return "'" + std::string(s) + "'";
}

Value cell_value(pugi::xml_node c, const std::vector<std::string>& shared_strings) {
  std::string_view type = attribute(c, "t").value();
  if (type == "inlineStr") {
    if (pugi::xml_node is_node = child(c, "is")) return Value(string_item_text(is_node));
  }
  pugi::xml_node v = child(c, "v");
  if (!v) return Value();  // blank, or a formula never calculated
  std::string text = text_of(v);

  if (type.empty() || type == "n") {
    if (trim_space(text).empty()) return Value();
    auto number = parse_number(text);
    if (!number) throw BadWorkbook("不是数字: " + shown(text));
    return *number;
  }
  if (type == "s") {
    if (trim_space(text).empty()) return Value();
    auto index = parse_index(text);
    if (!index) throw BadWorkbook("共享字符串的索引不是数字: " + shown(text));
    if (*index >= shared_strings.size())
      throw BadWorkbook("共享字符串的索引 " + std::to_string(*index) + " 超出范围（共 " +
                        std::to_string(shared_strings.size()) + " 个共享字符串）");
    return Value(shared_strings[*index]);
  }
  if (type == "str" || type == "inlineStr") return Value(decode_escapes(text));
  if (type == "b") {
    std::string_view flag = trim_space(text);
    if (flag.empty()) return Value();
    if (flag == "1" || flag == "true") return Value(true);
    if (flag == "0" || flag == "false") return Value(false);
    throw BadWorkbook("不是布尔值: " + shown(text));
  }
  // Error values ("#DIV/0!") and ISO dates of strict files are kept as their text.
  if (type == "e" || type == "d") return Value(std::string(trim_space(text)));
  throw BadWorkbook("未知的单元格类型 " + shown(type));
}

}  // namespace

std::vector<Row> read_rows(pugi::xml_node sheet_root, const std::vector<std::string>& shared_strings,
                           std::size_t& cell_budget) {
  std::vector<Row> rows;
  pugi::xml_node data = child(sheet_root, "sheetData");
  std::size_t row_number = 0;
  for (pugi::xml_node r = data.first_child(); r; r = r.next_sibling()) {
    if (!is(r, "row")) continue;
    // A row without r follows the one before it.
    std::size_t number = row_number + 1;
    if (pugi::xml_attribute ra = attribute(r, "r")) {
      auto n = parse_index(ra.value());
      if (!n || *n == 0 || *n > kMaxRows)
        throw BadWorkbook("行号 " + shown(ra.value()) + " 不在 1.." + std::to_string(kMaxRows) + " 之内");
      if (*n <= row_number)
        throw BadWorkbook("第 " + std::to_string(*n) + " 行出现在第 " + std::to_string(row_number) +
                          " 行之后（行号应递增）");
      number = *n;
    } else if (number > kMaxRows) {
      throw BadWorkbook("超过 " + std::to_string(kMaxRows) + " 行");
    }
    row_number = number;

    Row row{number, {}};
    std::size_t column = static_cast<std::size_t>(-1);
    for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
      if (!is(c, "c")) continue;
      // A cell without r follows the one before it.
      if (pugi::xml_attribute ca = attribute(c, "r")) {
        auto ref = parse_cell_ref(ca.value());
        if (!ref) throw BadWorkbook("第 " + std::to_string(number) + " 行的单元格引用 " + shown(ca.value()) + " 不正确");
        column = ref->column;
      } else {
        ++column;
        if (column >= kMaxColumns)
          throw BadWorkbook("第 " + std::to_string(number) + " 行有超出 XFD 列的单元格");
      }
      Value value;
      try {
        value = cell_value(c, shared_strings);
      } catch (const BadWorkbook& e) {
        throw BadWorkbook("单元格 " + cell_name(number, column) + ": " + e.what());
      }
      if (value.is_none()) continue;
      if (column >= row.cells.size()) {
        std::size_t grow = column + 1 - row.cells.size();
        if (grow > cell_budget)
          throw BadWorkbook("工作簿的单元格超过 " + std::to_string(kMaxCells) + " 个，太大，无法读取（读到单元格 " +
                            cell_name(number, column) + " 时）");
        cell_budget -= grow;
        row.cells.resize(column + 1);
      }
      row.cells[column] = std::move(value);
    }
    if (!row.cells.empty()) rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace tovik::xlsx
