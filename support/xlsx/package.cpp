#include "support/xlsx/package.hpp"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/base/errors.hpp"
#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {
namespace {

struct FileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using ZipFile = std::unique_ptr<zip_file_t, FileCloser>;

// "xl/workbook.xml" -> "xl/"
std::string_view folder_of(std::string_view part) {
  std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
}

// The whole file: workbooks are small next to their unpacked parts, and entries then come out of
// memory instead of a seek and read per part.
std::string read_file(const std::filesystem::path& path) {
  auto fail = [&](int error) {
    return OSError("xlsx 工作簿 " + path.string() + " 无法读取: " + std::strerror(error));
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw fail(errno);
  std::string bytes;
  char chunk[1 << 16];
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get())) bytes.append(chunk, n);
  if (std::ferror(file.get())) throw fail(errno);
  return bytes;
}

// "512 MiB " or "4096 字节", ready to run into the next Chinese word.
std::string size_text(std::uint64_t bytes) {
  const std::uint64_t mib = std::uint64_t{1} << 20;
  return bytes % mib == 0 ? std::to_string(bytes / mib) + " MiB " : std::to_string(bytes) + " 字节";
}

// A zip entry decompressed as it is read. It counts what comes out itself rather than trust the
// size the archive announces, which a hostile file can set to anything.
class PartStream : public ByteSource {
 public:
  PartStream(ZipFile file, std::string part, std::uint64_t announced, std::uint64_t limit)
      : file_(std::move(file)), part_(std::move(part)), announced_(announced), limit_(limit) {}

  std::size_t read(char* buffer, std::size_t size) override {
    if (done_) return 0;
    const zip_int64_t n = zip_fread(file_.get(), buffer, size);
    if (n < 0) throw BadWorkbook(part_ + ": 无法读取: " + zip_file_strerror(file_.get()));
    got_ += static_cast<std::uint64_t>(n);
    if (got_ > limit_) throw too_big(part_, limit_);
    if (got_ > announced_ || (n == 0 && got_ < announced_))
      throw BadWorkbook(part_ + ": 无法读取: 实际数据比压缩包中记录的大小" + (got_ > announced_ ? "多" : "少"));
    done_ = n == 0;
    return static_cast<std::size_t>(n);
  }

  static BadWorkbook too_big(const std::string& part, std::uint64_t limit) {
    return BadWorkbook(part + ": 解压后超过 " + size_text(limit) + "的上限，无法读取");
  }

 private:
  ZipFile file_;
  std::string part_;
  std::uint64_t announced_, limit_;
  std::uint64_t got_ = 0;
  bool done_ = false;
};

}  // namespace

Package::Package(const std::filesystem::path& path) : bytes_(read_file(path)) {
  // libzip would take no bytes for an empty archive.
  if (bytes_.empty()) throw BadWorkbook("文件为空");
  zip_error_t error;
  zip_error_init(&error);
  if (zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &error)) {
    zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!zip_) zip_source_free(source);
  }
  const std::string message = zip_error_strerror(&error);
  zip_error_fini(&error);
  // The bytes are all in memory, so whatever went wrong is in them.
  if (!zip_) throw BadWorkbook(message);
}

Package::~Package() {
  if (zip_) zip_discard(zip_);
}

std::optional<std::uint64_t> Package::locate(std::string_view part) const {
  std::string name(part);
  zip_int64_t index = zip_name_locate(zip_, name.c_str(), 0);
  // Part names are case-insensitive; only some writers keep Excel's spelling.
  if (index < 0) index = zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
  if (index < 0) return std::nullopt;
  return static_cast<std::uint64_t>(index);
}

bool Package::contains(std::string_view part) const { return locate(part).has_value(); }

std::unique_ptr<char[]> Package::read_index(std::uint64_t index, std::string_view part, std::size_t& size) const {
  auto fail = [&](const std::string& why) { return BadWorkbook(std::string(part) + ": " + why); };

  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(zip_, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
    throw fail(std::string("无法读取: ") + zip_strerror(zip_));
  if (st.size > kMaxPartSize)
    throw fail("太大，无法读取（解压后 " + std::to_string(st.size) + " 字节，上限 " +
               std::to_string(kMaxPartSize) + " 字节）");
  ZipFile file(zip_fopen_index(zip_, index, 0));
  if (!file) throw fail(std::string("无法读取: ") + zip_strerror(zip_));

  size = static_cast<std::size_t>(st.size);
  auto text = std::make_unique_for_overwrite<char[]>(size + 1);
  std::size_t got = 0;
  // One byte more than announced: a longer entry is corrupt, and reaching the end makes libzip
  // check the CRC.
  while (got <= size) {
    zip_int64_t n = zip_fread(file.get(), text.get() + got, size + 1 - got);
    if (n < 0) throw fail(std::string("无法读取: ") + zip_file_strerror(file.get()));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got != size)
    throw fail("无法读取: 实际数据比压缩包中记录的大小" + std::string(got > size ? "多" : "少"));
  return text;
}

std::unique_ptr<XmlPart> Package::parse_if_present(std::string_view part) const {
  auto index = locate(part);
  if (!index) return nullptr;
  auto result = std::make_unique<XmlPart>();
  result->name = std::string(part);
  std::size_t size = 0;
  result->text = read_index(*index, part, size);
  auto parsed = result->doc.load_buffer_inplace(result->text.get(), size,
                                                pugi::parse_default | pugi::parse_ws_pcdata_single);
  if (!parsed)
    throw BadWorkbook(std::string(part) + ": XML 格式错误（第 " + std::to_string(parsed.offset) + " 字节）: " +
                      parsed.description());
  return result;
}

std::vector<std::string> Package::entry_names() const {
  std::vector<std::string> names;
  const zip_int64_t count = zip_get_num_entries(zip_, 0);
  for (zip_int64_t i = 0; i < count; ++i)
    if (const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), 0)) names.emplace_back(name);
  return names;
}

std::string Package::read(std::string_view part) const {
  auto index = locate(part);
  if (!index) throw BadWorkbook("缺少 " + std::string(part));
  std::size_t size = 0;
  auto text = read_index(*index, part, size);
  return std::string(text.get(), size);
}

std::unique_ptr<ByteSource> Package::open_if_present(std::string_view part, std::uint64_t limit) const {
  auto index = locate(part);
  if (!index) return nullptr;
  const std::string name(part);
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(zip_, *index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
    throw BadWorkbook(name + ": 无法读取: " + zip_strerror(zip_));
  // Refused before any byte is inflated when the archive says so already.
  if (st.size > limit) throw PartStream::too_big(name, limit);
  ZipFile file(zip_fopen_index(zip_, *index, 0));
  if (!file) throw BadWorkbook(name + ": 无法读取: " + zip_strerror(zip_));
  return std::make_unique<PartStream>(std::move(file), name, st.size, limit);
}

std::unique_ptr<XmlPart> Package::parse(std::string_view part) const {
  auto result = parse_if_present(part);
  if (!result) throw BadWorkbook("缺少 " + std::string(part));
  return result;
}

std::vector<Relationship> Package::relationships(std::string_view part) const {
  std::string rels_part = std::string(folder_of(part)) + "_rels/" +
                          std::string(part.substr(folder_of(part).size())) + ".rels";
  std::vector<Relationship> out;
  auto stream = open_if_present(rels_part, kMaxSmallPart);
  if (!stream) return out;
  XmlScanner xml(rels_part, *stream);
  for (auto token = xml.next(); token != XmlScanner::Token::Done; token = xml.next()) {
    if (token != XmlScanner::Token::Start || xml.depth() != 2 || xml.name() != "Relationship") continue;
    Relationship rel;
    rel.id = xml.attribute("Id").value_or("");
    rel.type = xml.attribute("Type").value_or("");
    rel.external = xml.attribute("TargetMode") == "External";
    const std::string_view target = xml.attribute("Target").value_or("");
    rel.target = rel.external ? std::string(target) : resolve_target(part, target);
    out.push_back(std::move(rel));
  }
  return out;
}

std::string Package::workbook_part() const {
  for (const Relationship& rel : relationships(""))
    if (has_type(rel, "officeDocument") && !rel.external && contains(rel.target)) return rel.target;
  return "xl/workbook.xml";
}

std::string resolve_target(std::string_view source_part, std::string_view target) {
  std::string path(target);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (!path.empty() && path.front() == '/')
    path.erase(0, 1);
  else
    path.insert(0, folder_of(source_part));

  std::vector<std::string_view> segments;
  std::string_view rest(path);
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  std::string out;
  for (std::string_view segment : segments) {
    if (!out.empty()) out += '/';
    out += segment;
  }
  return out;
}

bool has_type(const Relationship& rel, std::string_view kind) {
  std::string_view type(rel.type);
  return type.size() > kind.size() && type.ends_with(kind) &&
         type[type.size() - kind.size() - 1] == '/';
}

}  // namespace tovik::xlsx
