#include "support/xlsx/sheet_reader.hpp"

#include <charconv>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/cell_ref.hpp"
#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/serial_date.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {
namespace {

// The levels of the elements read, the root being 1.
constexpr std::size_t kSheetData = 2, kRow = 3, kCell = 4, kCellChild = 5, kItemChild = 6, kRunChild = 7;

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

Value text_value(std::string_view stored) {
  std::string text = decode_escapes(stored);
  if (char_count(text) > kMaxCellChars) throw BadWorkbook(too_long_for_a_cell());
  return Value(std::move(text));
}

class SheetReader {
 public:
  SheetReader(XmlScanner& xml, const SheetContext& context, ReadBudget& budget)
      : xml_(xml), context_(context), budget_(budget) {}

  std::vector<Row> read() {
    for (;;) {
      switch (xml_.next()) {
        case XmlScanner::Token::Start:
          start();
          break;
        case XmlScanner::Token::End:
          end();
          break;
        case XmlScanner::Token::Text:
          if (target_ && xml_.depth() == target_depth_) collect(xml_.text());
          break;
        case XmlScanner::Token::Done:
          return std::move(rows_);
      }
    }
  }

 private:
  std::string cell() const { return cell_name(number_, column_); }

  void start() {
    const std::size_t depth = xml_.depth();
    const std::string_view name = xml_.name();
    if (depth == kSheetData) {
      // One sheetData per sheet; a second one would be read after the first's last row.
      if (name == "sheetData" && !data_seen_) in_data_ = data_seen_ = true;
      return;
    }
    if (!in_data_) return;
    if (depth == kRow) {
      if (name == "row") start_row();
      return;
    }
    if (!in_row_) return;
    if (depth == kCell) {
      if (name == "c") start_cell();
      return;
    }
    if (!in_cell_) return;
    if (depth == kCellChild) {
      if (name == "v" && !has_v_) {
        has_v_ = true;
        target_ = &v_;
        target_depth_ = depth;
      } else if (name == "f") {
        formula_ = true;
      } else if (name == "is" && !has_is_) {
        has_is_ = in_is_ = true;
      }
      return;
    }
    if (!in_is_) return;
    // An inline string is a string item as in the shared table: its <t>s, or the first <t> of each
    // rich-text run; phonetic guides (<rPh>) are left out.
    if (depth == kItemChild) {
      if (name == "t") {
        target_ = &is_text_;
        target_depth_ = depth;
      } else if (name == "r") {
        in_run_ = true;
        run_text_seen_ = false;
      }
    } else if (in_run_ && depth == kRunChild && name == "t" && !run_text_seen_) {
      run_text_seen_ = true;
      target_ = &is_text_;
      target_depth_ = depth;
    }
  }

  void end() {
    const std::size_t level = xml_.depth() + 1;  // of the element that ended
    if (target_ && level == target_depth_) target_ = nullptr;
    if (level == kItemChild) in_run_ = false;
    else if (level == kCellChild) in_is_ = false;
    else if (level == kCell && in_cell_) end_cell();
    else if (level == kRow && in_row_) end_row();
    else if (level == kSheetData) in_data_ = false;
  }

  void start_row() {
    // A row without r follows the one before it.
    std::size_t number = row_number_ + 1;
    if (auto r = xml_.attribute("r")) {
      auto n = parse_index(*r);
      if (!n || *n == 0 || *n > kMaxRows)
        throw BadWorkbook("行号 " + shown(*r) + " 不在 1.." + std::to_string(kMaxRows) + " 之内");
      if (*n <= row_number_)
        throw BadWorkbook("第 " + std::to_string(*n) + " 行出现在第 " + std::to_string(row_number_) +
                          " 行之后（行号应递增）");
      number = *n;
    } else if (number > kMaxRows) {
      throw BadWorkbook("超过 " + std::to_string(kMaxRows) + " 行");
    }
    row_number_ = number_ = number;
    in_row_ = true;
    cells_.clear();
    column_ = static_cast<std::size_t>(-1);
  }

  void end_row() {
    in_row_ = false;
    // An exact-size copy: the working row grows by doubling, the kept one need not.
    if (!cells_.empty())
      rows_.push_back({number_, std::vector<Value>(std::make_move_iterator(cells_.begin()),
                                                   std::make_move_iterator(cells_.end()))});
    cells_.clear();
  }

  void start_cell() {
    // A cell without r follows the one before it.
    if (auto r = xml_.attribute("r")) {
      auto ref = parse_cell_ref(*r);
      if (!ref) throw BadWorkbook("第 " + std::to_string(number_) + " 行的单元格引用 " + shown(*r) + " 不正确");
      column_ = ref->column;
    } else {
      ++column_;
      if (column_ >= kMaxColumns) throw BadWorkbook("第 " + std::to_string(number_) + " 行有超出 XFD 列的单元格");
    }
    type_ = xml_.attribute("t").value_or("");
    const auto style = parse_index(xml_.attribute("s").value_or(""));
    // A style the file does not define is the default one, as spreadsheet programs take it.
    kind_ = style && *style < context_.styles.size() ? context_.styles[*style] : NumberKind::Number;
    in_cell_ = true;
    formula_ = has_v_ = has_is_ = false;
    v_.clear();
    is_text_.clear();
  }

  void collect(std::string_view piece) {
    if (target_->size() + piece.size() > kMaxStoredCellBytes)
      throw BadWorkbook("单元格 " + cell() + ": " + too_long_for_a_cell());
    *target_ += piece;
  }

  void end_cell() {
    in_cell_ = in_is_ = in_run_ = false;
    target_ = nullptr;
    Value value;
    try {
      value = cell_value();
    } catch (const BadWorkbook& e) {
      throw BadWorkbook("单元格 " + cell() + ": " + e.what());
    }
    if (value.is_none()) return;
    if (value.is_str()) {
      const std::size_t size = value.as_str().size();
      if (size > budget_.text_bytes)
        throw BadWorkbook("工作簿中单元格的文本超过 " + std::to_string(kMaxCellTextBytes >> 20) +
                          " MiB，太大，无法读取（读到单元格 " + cell() + " 时）");
      budget_.text_bytes -= size;
    }
    if (column_ >= cells_.size()) {
      const std::size_t grow = column_ + 1 - cells_.size();
      if (grow > budget_.cells)
        throw BadWorkbook("工作簿的单元格超过 " + std::to_string(kMaxCells) + " 个，太大，无法读取（读到单元格 " +
                          cell() + " 时）");
      budget_.cells -= grow;
      cells_.resize(column_ + 1);
    }
    cells_[column_] = std::move(value);
  }

  Value cell_value() const {
    const std::string_view type = type_;
    if (type == "inlineStr" && has_is_) return text_value(is_text_);
    // Excel stores the empty text result of a formula such as ="" as an empty <v>; for any other
    // kind an empty one holds nothing.
    const bool stored = has_v_ && (type == "str" || !trim_space(v_).empty());
    if (formula_ && !stored) throw FormulaWithoutValue(cell());
    if (!has_v_) return Value();  // blank

    if (type.empty() || type == "n") {
      if (trim_space(v_).empty()) return Value();
      auto number = parse_number(v_);
      if (!number) throw BadWorkbook("不是数字: " + shown(v_));
      if (kind_ != NumberKind::Number)
        if (auto text = serial_text(number->as_float(), kind_, context_.date1904)) return Value(std::move(*text));
      return *number;
    }
    if (type == "s") {
      if (trim_space(v_).empty()) return Value();
      auto index = parse_index(v_);
      if (!index) throw BadWorkbook("共享字符串的索引不是数字: " + shown(v_));
      if (*index >= context_.shared_strings.size())
        throw BadWorkbook("共享字符串的索引 " + std::to_string(*index) + " 超出范围（共 " +
                          std::to_string(context_.shared_strings.size()) + " 个共享字符串）");
      return Value(context_.shared_strings[*index]);
    }
    if (type == "str" || type == "inlineStr") return text_value(v_);
    if (type == "b") {
      std::string_view flag = trim_space(v_);
      if (flag.empty()) return Value();
      if (flag == "1" || flag == "true") return Value(true);
      if (flag == "0" || flag == "false") return Value(false);
      throw BadWorkbook("不是布尔值: " + shown(v_));
    }
    // Error values ("#DIV/0!") and ISO dates of strict files are kept as their text.
    if (type == "e" || type == "d") return Value(std::string(trim_space(v_)));
    throw BadWorkbook("未知的单元格类型 " + shown(type));
  }

  XmlScanner& xml_;
  const SheetContext& context_;
  ReadBudget& budget_;
  std::vector<Row> rows_;

  bool data_seen_ = false, in_data_ = false, in_row_ = false, in_cell_ = false, in_is_ = false;
  bool in_run_ = false, run_text_seen_ = false;
  std::size_t row_number_ = 0;  // of the last row begun, 0 before the first
  std::size_t number_ = 0;      // of the row being read
  std::vector<Value> cells_;    // of the row being read
  std::size_t column_ = 0;      // of the cell being read

  // The cell being read.
  std::string type_;
  NumberKind kind_ = NumberKind::Number;
  bool formula_ = false, has_v_ = false, has_is_ = false;
  std::string v_, is_text_;
  std::string* target_ = nullptr;  // where the text being read goes: v_ or is_text_
  std::size_t target_depth_ = 0;
};

}  // namespace

std::vector<Row> read_rows(XmlScanner& sheet, const SheetContext& context, ReadBudget& budget) {
  return SheetReader(sheet, context, budget).read();
}

}  // namespace tovik::xlsx
