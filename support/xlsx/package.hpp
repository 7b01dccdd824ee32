// The zip container of a workbook: its parts by name, parsed as XML, and the relationships that
// lead from one part to another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

struct zip;

namespace tovik::xlsx {

// A parsed part. The document points into text, so they live together.
struct XmlPart {
  std::string name;
  std::unique_ptr<char[]> text;
  pugi::xml_document doc;

  pugi::xml_node root() const { return doc.document_element(); }
};

struct Relationship {
  std::string id;
  std::string type;    // the full type URI
  std::string target;  // part name within the package, e.g. "xl/worksheets/sheet1.xml"
  bool external = false;
};

// Parts larger than this, uncompressed, are refused rather than read into memory.
inline constexpr std::size_t kMaxPartSize = std::size_t{256} << 20;

// What a part read as a stream may hold uncompressed. A zip bomb is refused as soon as this much
// has come out (or the archive announces more), long before memory runs short. Real sheets of a
// million rows stay well below the sheet limit; the other parts (workbook, relationships, styles)
// are small in any real file.
inline constexpr std::uint64_t kMaxSheetPart = std::uint64_t{512} << 20;
inline constexpr std::uint64_t kMaxSharedStringsPart = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kMaxSmallPart = std::uint64_t{16} << 20;

class ByteSource;

class Package {
 public:
  // Reads the whole file. OSError when it cannot be opened or read; BadWorkbook when it is no zip
  // archive.
  explicit Package(const std::filesystem::path& path);
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  bool contains(std::string_view part) const;
  // BadWorkbook "<part> missing" when absent, or naming the part when it cannot be read or parsed.
  std::unique_ptr<XmlPart> parse(std::string_view part) const;
  // Null when the part is absent.
  std::unique_ptr<XmlPart> parse_if_present(std::string_view part) const;

  // Every entry name in archive order, as stored (folders end in "/"); for copying a package.
  std::vector<std::string> entry_names() const;
  // An entry's uncompressed bytes. BadWorkbook as for parse.
  std::string read(std::string_view part) const;

  // A part's uncompressed bytes, decompressed chunk by chunk as they are read; null when the part
  // is absent. Reading fails with BadWorkbook "<part>: 解压后超过 N MiB 的上限，无法读取" once more
  // than limit bytes come out, or naming the part when the data is damaged. The stream reads from
  // this package, so it must not outlive it.
  std::unique_ptr<ByteSource> open_if_present(std::string_view part, std::uint64_t limit) const;

  // The relationships going out of a part ("" for the package itself); none when it has no
  // relationship part. The relationship part is read as a stream of at most kMaxSmallPart bytes.
  std::vector<Relationship> relationships(std::string_view part) const;

  // The main workbook part, as the package relationships name it, else xl/workbook.xml.
  std::string workbook_part() const;

 private:
  std::optional<std::uint64_t> locate(std::string_view part) const;
  // The entry's bytes into a buffer one byte longer (room for pugixml's in-place parse); size set.
  std::unique_ptr<char[]> read_index(std::uint64_t index, std::string_view part, std::size_t& size) const;

  std::string bytes_;  // the file; the archive reads from it
  zip* zip_ = nullptr;
};

// The part a relationship target points to: relative to the source part's folder, or from the
// package root when it starts with "/".
std::string resolve_target(std::string_view source_part, std::string_view target);

// Whether a relationship type URI ends in the given kind, e.g. "worksheet" (transitional and
// strict files use different URI prefixes).
bool has_type(const Relationship& rel, std::string_view kind);

}  // namespace tovik::xlsx
