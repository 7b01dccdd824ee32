#include "support/xlsx/cell_ref.hpp"

namespace tovik::xlsx {

std::optional<CellRef> parse_cell_ref(std::string_view text) {
  std::size_t i = 0;
  std::size_t column = 0;
  // Three letters reach XFD; more can only overflow the grid, so stop counting early.
  for (; i < text.size() && i < 4; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    column = column * 26 + static_cast<std::size_t>(c - 'A' + 1);
  }
  if (i == 0 || column > kMaxColumns) return std::nullopt;
  std::size_t digits_start = i;
  std::size_t row = 0;
  for (; i < text.size() && i - digits_start < 8; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') break;
    row = row * 10 + static_cast<std::size_t>(c - '0');
  }
  if (i == digits_start || i != text.size() || row == 0 || row > kMaxRows) return std::nullopt;
  return CellRef{row, column - 1};
}

std::string cell_name(std::size_t row, std::size_t column) {
  std::string letters;
  for (std::size_t n = column + 1; n > 0; n = (n - 1) / 26)
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return letters + std::to_string(row);
}

}  // namespace tovik::xlsx
