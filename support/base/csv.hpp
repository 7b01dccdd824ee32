// Comma-separated text as spreadsheets write it: fields in double quotes may hold commas, line
// breaks and doubled quotes; lines end in LF or CRLF; a UTF-8 byte-order mark at the start is
// dropped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovik {

using CsvRow = std::vector<std::string>;

// Every record, in order; blank lines are left out. ValueError naming the line for a quote that
// is never closed or text after a closing quote.
std::vector<CsvRow> parse_csv(std::string_view text);

}  // namespace tovik
