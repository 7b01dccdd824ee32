// The rows of one worksheet part, read as a stream: what is held at any time is the rows read so
// far and the row being read, never the part's XML.
#pragma once

#include <cstddef>
#include <vector>

#include "support/xlsx/shared_strings.hpp"
#include "support/xlsx/styles.hpp"
#include "support/xlsx/workbook.hpp"

namespace tovik::xlsx {

class XmlScanner;

// Rows are stored densely up to their last value, so a file with far-right cells on many rows
// could ask for a great deal of memory. The whole workbook may hold this many cell slots (about
// 400 MB), far beyond any case workbook, and this much cell text: a small file whose million
// cells all name one long shared string would otherwise unfold into gigabytes.
inline constexpr std::size_t kMaxCells = std::size_t{1} << 23;
inline constexpr std::size_t kMaxCellTextBytes = std::size_t{256} << 20;

// What the workbook's sheets may still take; every sheet read draws on it.
struct ReadBudget {
  std::size_t cells = kMaxCells;
  std::size_t text_bytes = kMaxCellTextBytes;
};

// What a sheet's cells refer to.
struct SheetContext {
  const SharedStrings& shared_strings;
  const std::vector<NumberKind>& styles;  // by a cell's s attribute; numbers in a date or time
                                          // format become text (serial_text)
  bool date1904 = false;
};

// The rows with values of a worksheet (or chartsheet/dialogsheet) part. BadWorkbook naming the
// cell or row when the data cannot be read or goes past the format's limits (kMaxRows, kMaxColumns,
// kMaxCellChars) or the budget; FormulaWithoutValue for a formula cell without its result.
std::vector<Row> read_rows(XmlScanner& sheet, const SheetContext& context, ReadBudget& budget);

}  // namespace tovik::xlsx
