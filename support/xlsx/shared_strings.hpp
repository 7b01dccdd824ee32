// The workbook's shared string table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::xlsx {

class XmlScanner;

// More strings than the cells a workbook may hold (kMaxCells) could never all be used.
inline constexpr std::size_t kMaxSharedStrings = std::size_t{1} << 23;

// The strings one after another in one buffer: a table of a million short strings costs their
// text and four bytes each, not a string object each.
class SharedStrings {
 public:
  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
  }
  void push_back(std::string_view text) {
    text_ += text;
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
  }
  void reserve(std::size_t count) { ends_.reserve(count); }

 private:
  std::string text_;
  std::vector<std::uint32_t> ends_;  // the part is at most kMaxSharedStringsPart, far below 4 GiB
};

// Every <si> of a sharedStrings part, in index order: its <t>, or its rich-text runs joined
// (phonetic guides are not part of the text), escapes decoded. BadWorkbook naming the part when
// a string holds more than a cell can (kMaxCellChars) or there are more than kMaxSharedStrings.
SharedStrings read_shared_strings(XmlScanner& sst);

}  // namespace tovik::xlsx
