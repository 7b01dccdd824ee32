// Cell references such as "B12", within the grid Excel allows (XFD columns, 1048576 rows).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tovik::xlsx {

inline constexpr std::size_t kMaxColumns = 16384;  // A..XFD
inline constexpr std::size_t kMaxRows = 1048576;

struct CellRef {
  std::size_t row = 0;     // 1-based
  std::size_t column = 0;  // 0-based: A is 0
  bool operator==(const CellRef&) const = default;
};

// Column letters followed by a row number; nothing else. Empty when the text is no reference or
// points outside the grid.
std::optional<CellRef> parse_cell_ref(std::string_view text);

// "A1"-style name of a cell, for messages.
std::string cell_name(std::size_t row, std::size_t column);

}  // namespace tovik::xlsx
