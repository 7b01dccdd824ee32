#include "support/base/csv.hpp"

#include "support/base/errors.hpp"

namespace tovik {

std::vector<CsvRow> parse_csv(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<CsvRow> rows;
  CsvRow row;
  std::string field;
  bool quoted = false;      // inside a quoted field
  bool was_quoted = false;  // the current field was quoted and its quote closed
  bool blank = true;        // nothing seen on this record yet
  int line = 1, quote_line = 1;

  const auto end_field = [&] {
    row.push_back(std::move(field));
    field.clear();
    was_quoted = false;
  };
  const auto end_record = [&] {
    if (!blank) {
      end_field();
      rows.push_back(std::move(row));
    }
    row.clear();
    field.clear();
    was_quoted = false;
    blank = true;
  };

  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
          was_quoted = true;
        }
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' || c == '\r') {
      end_record();
      ++line;
      continue;
    }
    blank = false;
    if (c == ',') {
      end_field();
    } else if (was_quoted) {
      throw ValueError("CSV 第 " + std::to_string(line) + " 行: 引号结束后还有字符");
    } else if (c == '"' && field.empty()) {
      quoted = true;
      quote_line = line;
    } else {
      field += c;
    }
  }
  if (quoted) throw ValueError("CSV 第 " + std::to_string(quote_line) + " 行: 引号没有结束");
  end_record();
  return rows;
}

}  // namespace tovik
