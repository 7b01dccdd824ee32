// Workbook inputs of the xlsx targets. An input that begins with "PK" is the file itself; any
// other is the package's parts as text, zipped here, so that mutations reach the XML readers
// instead of ending at the zip's checksums:
//   == xl/workbook.xml
//   <?xml ...?><workbook ...>...</workbook>
//   == xl/worksheets/sheet1.xml
//   ...
#pragma once

#include <zip.h>

#include <algorithm>
#include <string_view>

#include "fuzz/fuzz_support.hpp"

namespace tovik::fuzz {

inline std::filesystem::path write_workbook_input(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string_view text = as_text(data, size);
  if (text.substr(0, 2) == "PK") return write_scratch(name, data, size);

  const std::filesystem::path path = scratch_dir() / name;
  std::error_code ec;
  std::filesystem::remove(path, ec);  // libzip writes no file for an empty archive
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) {
    std::fprintf(stderr, "tovik fuzz: cannot create %s\n", path.c_str());
    std::abort();
  }
  // "== name\n" starts a part; its content runs up to the newline before the next one.
  const std::string_view marker = "\n== ";
  std::size_t at = text.substr(0, 3) == "== " ? 0 : text.find(marker);
  if (at != std::string_view::npos && at != 0) ++at;
  while (at != std::string_view::npos) {
    const std::size_t name_end = text.find('\n', at + 3);
    const std::size_t name_size = name_end == std::string_view::npos ? std::string_view::npos : name_end - at - 3;
    const std::string part(text.substr(at + 3, name_size));
    const std::size_t next = name_end == std::string_view::npos ? std::string_view::npos : text.find(marker, name_end);
    const std::size_t begin = name_end == std::string_view::npos ? text.size() : name_end + 1;
    const std::size_t end = next == std::string_view::npos ? text.size() : std::max(next, begin);
    if (zip_source_t* source = zip_source_buffer(zip, text.data() + begin, end - begin, 0)) {
      const zip_int64_t index = zip_file_add(zip, part.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
      if (index < 0)
        zip_source_free(source);
      else
        zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    at = next == std::string_view::npos ? next : next + 1;
  }
  if (zip_close(zip) != 0) zip_discard(zip);
  return path;
}

}  // namespace tovik::fuzz
