// Which cells hold dates and times: the number format of every cell style, from the styles part.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tovik::xlsx {

class XmlScanner;

// What a number format shows a number as.
enum class NumberKind : std::uint8_t {
  Number,
  Date,      // a day, perhaps with its time: "yyyy-mm-dd", "m/d/yyyy h:mm"
  Time,      // a time of day alone: "h:mm:ss", "mm:ss", "h:mm AM/PM"
  Duration,  // elapsed time, hours beyond 24 included: "[h]:mm:ss"
};

// The kind of a format code. Date and time tokens are y, m, d, h, s (any case) and AM/PM; an m
// means minutes right after an hour or right before seconds, else the month. Quoted text, escaped
// characters (\d), the characters after _ and *, and bracketed sections ([Red], [$-409], [>100])
// are not tokens; only [h], [m] and [s] are, as elapsed time.
NumberKind format_kind(std::string_view code);

// The kind of a built-in format that the file names by id alone.
NumberKind builtin_kind(unsigned id);

// The number kind of every cell style (the cellXfs entries), in the order cells' s attributes
// index them. Formats the part defines (numFmts) take precedence over built-in ones.
std::vector<NumberKind> read_cell_styles(XmlScanner& styles);

}  // namespace tovik::xlsx
