// Reading a part's XML as a stream of tags and text, a chunk at a time, so that no part is ever
// held whole: the sheet reader keeps the row it is on, not the sheet.
//
// It reads what spreadsheet writers produce: elements with prefixes (found by local name),
// attributes in either quote, the five named entities and numeric character references, CDATA,
// comments, processing instructions and a document type declaration (skipped; its entities are
// never expanded, so an unknown entity stays as written). Line ends become "\n" in text, and tab,
// CR and LF become spaces in attribute values, as any XML parser hands them over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovik::xlsx {

// Where the bytes come from: a zip entry decompressed in chunks, or a text in the tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into buffer; 0 only at the end. BadWorkbook when the bytes cannot be had.
  virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

// A whole text handed out in pieces of at most chunk bytes; for tests and small parts.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string text, std::size_t chunk = std::size_t{1} << 16)
      : text_(std::move(text)), chunk_(chunk) {}
  std::size_t read(char* buffer, std::size_t size) override;

 private:
  std::string text_;
  std::size_t chunk_;
  std::size_t at_ = 0;
};

// One start tag may hold this many bytes (attributes included); the largest ones writers produce
// are cell range lists of a few kilobytes.
inline constexpr std::size_t kMaxTagBytes = std::size_t{4} << 20;
// Elements nest at most this deep, with names of at most this many bytes; sheets need fewer than
// ten levels, and the longest names writers use are some thirty bytes.
inline constexpr std::size_t kMaxXmlDepth = 256;
inline constexpr std::size_t kMaxNameBytes = 1024;

class XmlScanner {
 public:
  enum class Token { Start, End, Text, Done };

  // part names the part in messages.
  XmlScanner(std::string part, ByteSource& source);

  // The next token. "<a/>" gives a Start and then an End. Character data and CDATA come as Text,
  // possibly in several pieces, with entities decoded. At the end of the part Done, or
  // BadWorkbook "<part>: XML 格式错误（第 N 字节）: <what>" when the XML is not well formed.
  Token next();

  // Of the element a Start or End token is about.
  std::string_view name() const;  // local name: "x:row" -> "row"
  const std::string& qualified_name() const { return name_; }
  // Elements open, counting the one a Start just opened and no longer the one an End closed: the
  // root's Start is at depth 1, its End at 0. Text is at the depth of the element holding it.
  std::size_t depth() const { return open_.size(); }

  // Of a Start token: the attribute with that local name, whatever its prefix.
  std::optional<std::string_view> attribute(std::string_view local) const;
  // Of a Start token: the attribute with that local name and some prefix (r:id, not a bare id).
  std::optional<std::string_view> prefixed_attribute(std::string_view local) const;

  // Of a Text token.
  std::string_view text() const { return text_; }

  const std::string& part() const { return part_; }
  // Bytes of the part read up to the current token.
  std::uint64_t offset() const { return consumed_ + pos_; }

  // BadWorkbook "<part>: XML 格式错误（第 N 字节）: <what>".
  [[noreturn]] void fail(const std::string& what) const;
  // BadWorkbook "<part>: 第 N 字节处<what>，无法读取", for a limit the part goes past.
  [[noreturn]] void refuse(const std::string& what) const;

 private:
  struct Attribute {
    std::string name;
    std::string value;
  };

  bool fill(std::size_t n);
  std::string_view view(std::size_t from, std::size_t to) const {
    return from == to ? std::string_view() : std::string_view(buf_.get() + from, to - from);
  }
  std::string_view rest() const { return view(pos_, size_); }
  std::optional<Token> markup();
  Token start_tag();
  Token end_tag();
  Token character_data();
  Token cdata();
  std::size_t tag_end(const char* error);
  void skip_past(std::size_t opening, std::string_view terminator, const char* error);
  void skip_declaration();

  std::string part_;
  ByteSource& source_;
  // Bytes read and not yet consumed, in a buffer that is never zero-filled: a workbook of many
  // small sheets opens a scanner per part.
  std::unique_ptr<char[]> buf_;
  std::size_t capacity_ = 0, size_ = 0;
  std::size_t pos_ = 0;          // next byte of buf_ to read
  std::uint64_t consumed_ = 0;   // bytes dropped from the front of buf_
  bool eof_ = false;
  bool in_cdata_ = false;
  bool close_pending_ = false;   // a "<a/>" gave its Start; its End comes next
  bool seen_root_ = false;
  std::vector<std::string> open_;  // qualified names of the open elements
  std::string name_;
  std::vector<Attribute> attributes_;
  std::size_t attribute_count_ = 0;  // attributes_ is reused; this many belong to the current tag
  std::string text_;
};

}  // namespace tovik::xlsx
