#include "support/xlsx/shared_strings.hpp"

#include <algorithm>
#include <charconv>

#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/package.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {

static_assert(kMaxSharedStringsPart < (std::uint64_t{1} << 32), "string ends are 32-bit");

SharedStrings read_shared_strings(XmlScanner& xml) {
  // Levels: <sst> 1, <si> 2, its <t> and <r> 3, a run's <t> 4.
  SharedStrings strings;
  std::string item;
  bool in_item = false, in_run = false, run_text_seen = false;
  std::size_t text_depth = 0;  // of the <t> being read, 0 when none
  auto too_long = [&] {
    return BadWorkbook(xml.part() + ": 索引为 " + std::to_string(strings.size()) + " 的共享字符串" +
                       too_long_for_a_cell());
  };
  for (auto token = xml.next(); token != XmlScanner::Token::Done; token = xml.next()) {
    const std::size_t depth = xml.depth();
    if (token == XmlScanner::Token::Text) {
      if (text_depth == 0 || depth != text_depth) continue;
      if (item.size() + xml.text().size() > kMaxStoredCellBytes) throw too_long();
      item += xml.text();
    } else if (token == XmlScanner::Token::Start) {
      const std::string_view name = xml.name();
      if (depth == 1) {
        // uniqueCount is only a hint; a file may lie, so cap what is reserved up front.
        std::size_t hint = 0;
        const std::string_view count = xml.attribute("uniqueCount").value_or("");
        std::from_chars(count.data(), count.data() + count.size(), hint);
        strings.reserve(std::min<std::size_t>(hint, 1 << 20));
      } else if (depth == 2 && name == "si") {
        in_item = true;
        item.clear();
      } else if (in_item && depth == 3 && name == "t") {
        text_depth = depth;
      } else if (in_item && depth == 3 && name == "r") {
        in_run = true;
        run_text_seen = false;
      } else if (in_run && depth == 4 && name == "t" && !run_text_seen) {
        run_text_seen = true;
        text_depth = depth;
      }
    } else {  // End; the level of the element it closes is depth + 1
      if (depth + 1 == text_depth) text_depth = 0;
      if (depth + 1 == 3) in_run = false;
      if (depth + 1 == 2 && in_item) {
        in_item = false;
        if (strings.size() == kMaxSharedStrings)
          throw BadWorkbook(xml.part() + ": 共享字符串超过 " + std::to_string(kMaxSharedStrings) + " 个的上限，无法读取");
        const std::string text = decode_escapes(item);
        if (char_count(text) > kMaxCellChars) throw too_long();
        strings.push_back(text);
      }
    }
  }
  return strings;
}

}  // namespace tovik::xlsx
