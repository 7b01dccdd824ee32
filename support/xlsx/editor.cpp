#include "support/xlsx/editor.hpp"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include <pugixml.hpp>

#include "support/base/atomic_file.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/cell_ref.hpp"
#include "support/xlsx/package.hpp"
#include "support/xlsx/xml_nodes.hpp"

namespace tovik::xlsx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxTitleUnits = 31;
constexpr std::size_t kMaxCellUnits = 32767;

// The UTF-16 length of well-formed UTF-8 without characters XML 1.0 cannot carry; none otherwise.
std::optional<std::size_t> utf16_length(std::string_view s, bool allow_line_breaks) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::uint32_t cp;
    std::size_t len;
    if (b < 0x80) cp = b, len = 1;
    else if ((b & 0xE0) == 0xC0) cp = b & 0x1Fu, len = 2;
    else if ((b & 0xF0) == 0xE0) cp = b & 0x0Fu, len = 3;
    else if ((b & 0xF8) == 0xF0) cp = b & 0x07u, len = 4;
    else return std::nullopt;
    if (i + len > s.size()) return std::nullopt;
    for (std::size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    const bool line_break = cp == '\t' || cp == '\n' || cp == '\r';
    if ((cp < 0x20 && !(allow_line_breaks && line_break)) || cp == 0xFFFE || cp == 0xFFFF) return std::nullopt;
    units += cp >= 0x10000 ? 2 : 1;
    i += len;
  }
  return units;
}

// The prefix of an element's qualified name ("x:" of "x:worksheet"), so that new elements are
// written in the namespace of the part whatever prefix its writer chose.
std::string prefix_of(pugi::xml_node node) {
  const std::string_view name = node.name();
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

std::optional<std::size_t> parse_row_number(const char* text) {
  std::size_t n = 0;
  if (!*text) return std::nullopt;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9' || n > kMaxRows) return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(*p - '0');
  }
  return n;
}

// ---------------------------------------------------------------------------------------------
// Sheet references inside formulas

bool ident_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// A title written bare in a formula must read as nothing else: not a number, a cell or an R1C1
// reference, nor a truth value. Anything else is quoted, which every reader accepts.
bool needs_quotes(std::string_view title) {
  if (title.empty() || (title[0] >= '0' && title[0] <= '9')) return true;
  for (char c : title)
    if (!ident_char(c) || static_cast<unsigned char>(c) >= 0x80) return true;
  if (parse_cell_ref(title) || iequals(title, "TRUE") || iequals(title, "FALSE")) return true;
  // R, C, R1, C1, R1C1 and the like
  std::size_t i = 0;
  if (i < title.size() && (title[i] == 'R' || title[i] == 'r')) {
    ++i;
    while (i < title.size() && title[i] >= '0' && title[i] <= '9') ++i;
  }
  if (i < title.size() && (title[i] == 'C' || title[i] == 'c')) {
    ++i;
    while (i < title.size() && title[i] >= '0' && title[i] <= '9') ++i;
  }
  return i == title.size();
}

std::string quote_title(std::string_view names) {
  std::string out = "'";
  for (char c : names) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// How a reference's sheet part is written: bare when that reads unambiguously, else quoted (one
// pair of quotes covers both ends of Sheet1:Sheet3).
std::string reference_prefix(std::string_view names) {
  const std::size_t colon = names.find(':');
  const bool quote = colon == std::string_view::npos
                         ? needs_quotes(names)
                         : needs_quotes(names.substr(0, colon)) || needs_quotes(names.substr(colon + 1));
  return quote ? quote_title(names) : std::string(names);
}

// The sheet names of one reference's prefix ("Sheet1" or "Sheet1:Sheet3"), with the matching ones
// replaced; nothing when none matched. A prefix naming another workbook ("[1]Sheet1") stays.
std::optional<std::string> renamed_prefix(std::string_view names, std::string_view from, std::string_view to) {
  if (names.find('[') != std::string_view::npos) return std::nullopt;
  const std::size_t colon = names.find(':');
  std::string_view first = names.substr(0, colon);
  std::string_view second = colon == std::string_view::npos ? std::string_view() : names.substr(colon + 1);
  const bool a = iequals(first, from), b = colon != std::string_view::npos && iequals(second, from);
  if (!a && !b) return std::nullopt;
  std::string out(a ? to : first);
  if (colon != std::string_view::npos) out += ":" + std::string(b ? to : second);
  return out;
}

// The formula with every reference to sheet `from` (bare, quoted, or one end of a 3-D range)
// naming `to`; text literals, other workbooks and structured references stay as they are.
std::string rename_in_formula(std::string_view f, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(f.size());
  std::size_t i = 0;
  bool after_bracket = false;  // "[1]Sheet1!A1" names a sheet of another workbook
  while (i < f.size()) {
    const char c = f[i];
    if (c == '"') {
      std::size_t j = i + 1;
      while (j < f.size()) {
        if (f[j] == '"' && j + 1 < f.size() && f[j + 1] == '"') j += 2;
        else if (f[j] == '"') break;
        else ++j;
      }
      j = std::min(j + 1, f.size());
      out.append(f.substr(i, j - i));
      i = j;
      after_bracket = false;
    } else if (c == '[') {
      std::size_t j = i, depth = 0;
      for (; j < f.size(); ++j) {
        if (f[j] == '[') ++depth;
        else if (f[j] == ']' && --depth == 0) break;
      }
      j = std::min(j + 1, f.size());
      out.append(f.substr(i, j - i));
      i = j;
      after_bracket = true;
    } else if (c == '\'') {
      std::string names;
      std::size_t j = i + 1;
      while (j < f.size()) {
        if (f[j] == '\'' && j + 1 < f.size() && f[j + 1] == '\'') {
          names += '\'';
          j += 2;
        } else if (f[j] == '\'') {
          break;
        } else {
          names += f[j++];
        }
      }
      const std::size_t end = std::min(j + 1, f.size());
      std::optional<std::string> renamed;
      if (end < f.size() && f[end] == '!') renamed = renamed_prefix(names, from, to);
      if (renamed) {
        out += quote_title(*renamed);
      } else {
        out.append(f.substr(i, end - i));
      }
      i = end;
      after_bracket = false;
    } else if (ident_char(c) && !(c >= '0' && c <= '9') && (i == 0 || !ident_char(f[i - 1]))) {
      std::size_t j = i;
      while (j < f.size() && ident_char(f[j])) ++j;
      // Sheet1:Sheet3!A1
      std::size_t k = j;
      if (k < f.size() && f[k] == ':') {
        std::size_t m = k + 1;
        while (m < f.size() && ident_char(f[m])) ++m;
        if (m > k + 1 && m < f.size() && f[m] == '!') k = m;
      }
      std::optional<std::string> renamed;
      if (k < f.size() && f[k] == '!' && !after_bracket) renamed = renamed_prefix(f.substr(i, k - i), from, to);
      if (renamed) {
        out += reference_prefix(*renamed);
      } else {
        out.append(f.substr(i, k - i));
      }
      i = k;
      after_bracket = false;
    } else {
      out += c;
      ++i;
      if (c != ']') after_bracket = false;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Where a new element goes among a worksheet's children (the schema fixes their order).

constexpr std::string_view kWorksheetOrder[] = {
    "sheetPr",         "dimension",       "sheetViews",    "sheetFormatPr",   "cols",
    "sheetData",       "sheetCalcPr",     "sheetProtection", "protectedRanges", "scenarios",
    "autoFilter",      "sortState",       "dataConsolidate", "customSheetViews", "mergeCells",
    "phoneticPr",      "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions",
    "pageMargins",     "pageSetup",       "headerFooter",  "rowBreaks",       "colBreaks",
    "customProperties", "cellWatches",    "ignoredErrors", "smartTags",       "drawing",
    "legacyDrawing",   "legacyDrawingHF", "drawingHF",     "picture",         "oleObjects",
    "controls",        "webPublishItems", "tableParts",    "extLst"};

std::optional<std::size_t> order_of(std::string_view local) {
  for (std::size_t i = 0; i < std::size(kWorksheetOrder); ++i)
    if (kWorksheetOrder[i] == local) return i;
  return std::nullopt;
}

// The child of that name, created at its place in the schema's order when missing.
pugi::xml_node child_in_order(pugi::xml_node parent, std::string_view local) {
  if (pugi::xml_node found = child(parent, local)) return found;
  const std::size_t mine = *order_of(local);
  const std::string name = prefix_of(parent) + std::string(local);
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    // elements the schema does not list here (mc:AlternateContent) stay where they are
    if (auto order = order_of(local_name(c.name())); order && *order > mine)
      return parent.insert_child_before(name.c_str(), c);
  }
  return parent.append_child(name.c_str());
}

// ---------------------------------------------------------------------------------------------
// Writing

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};

// The package as zip bytes, entries in the given order.
std::string zip_bytes(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!source) throw OSError(std::string("无法生成 zip 数据: ") + zip_error_strerror(&error));
  zip_t* raw = zip_open_from_source(source, ZIP_TRUNCATE, &error);
  if (!raw) {
    zip_source_free(source);
    std::string message = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw OSError("无法生成 zip 数据: " + message);
  }
  zip_error_fini(&error);
  // the archive owns the source; one more reference keeps the written bytes after zip_close
  zip_source_keep(source);
  std::unique_ptr<zip_source_t, void (*)(zip_source_t*)> keep(source, zip_source_free);
  std::unique_ptr<zip_t, ZipCloser> archive(raw);
  for (const auto& [name, bytes] : entries) {
    zip_int64_t index;
    if (name.ends_with('/')) {
      index = zip_dir_add(raw, name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* data = zip_source_buffer(raw, bytes.data(), bytes.size(), 0);
      index = data ? zip_file_add(raw, name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
      if (data && index < 0) zip_source_free(data);
    }
    if (index < 0) throw OSError("无法生成 zip 数据（" + name + "）: " + zip_strerror(raw));
  }
  if (zip_close(raw) != 0) throw OSError(std::string("无法生成 zip 数据: ") + zip_strerror(raw));
  archive.release();

  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_source_stat(source, &st) != 0 || zip_source_open(source) != 0)
    throw OSError(std::string("无法生成 zip 数据: ") + zip_error_strerror(zip_source_error(source)));
  std::string out(static_cast<std::size_t>(st.size), '\0');
  const zip_int64_t got = zip_source_read(source, out.data(), out.size());
  zip_source_close(source);
  if (got < 0 || static_cast<std::size_t>(got) != out.size()) throw OSError("无法生成 zip 数据: 读取失败");
  return out;
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override { out.append(static_cast<const char*>(data), size); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string sheet_title_problem(std::string_view title) {
  if (title.empty()) return "不能为空";
  const auto units = utf16_length(title, false);
  if (!units) return "含有控制字符或不是有效的 UTF-8 文本";
  if (*units > kMaxTitleUnits) return "超过 31 个字符";
  if (auto bad = title.find_first_of(":\\/?*[]"); bad != std::string_view::npos)
    return "不能含有字符 " + std::string(1, title[bad]) + "（: \\ / ? * [ ] 都不允许）";
  if (title.front() == '\'' || title.back() == '\'') return "不能以 ' 开头或结尾";
  return {};
}

struct WorkbookEditor::EditedPart {
  pugi::xml_document doc;
  bool dirty = false;
};

namespace {

// Runs an edit, turning the reader's failures into a ValueError that names the file.
template <class F>
auto naming(const fs::path& path, F f) {
  try {
    return f();
  } catch (const BadWorkbook& e) {
    throw ValueError("文件 " + path.string() + " 不是有效的 xlsx 工作簿: " + e.what());
  }
}

}  // namespace

WorkbookEditor::WorkbookEditor(const fs::path& path) : path_(path) {
  naming(path_, [&] {
    package_ = std::make_unique<Package>(path_);
    entries_ = package_->entry_names();
    workbook_part_ = package_->workbook_part();
    pugi::xml_node root = part(workbook_part_).doc.document_element();
    if (!is(root, "workbook"))
      throw BadWorkbook(workbook_part_ + ": 根元素应为 <workbook>，实际为 <" + std::string(root.name()) + ">");
    if (!child(root, "sheets")) throw BadWorkbook(workbook_part_ + ": 没有列出工作表");
    return 0;
  });
}

WorkbookEditor::~WorkbookEditor() = default;

WorkbookEditor::EditedPart& WorkbookEditor::part(const std::string& name) const {
  // part names compare without case (Package::parse finds them so too)
  auto stored = std::find(entries_.begin(), entries_.end(), name);
  if (stored == entries_.end())
    stored = std::find_if(entries_.begin(), entries_.end(), [&](const std::string& e) { return iequals(e, name); });
  if (stored == entries_.end()) throw BadWorkbook("缺少 " + name);
  if (auto found = parts_.find(*stored); found != parts_.end()) return *found->second;
  auto parsed = std::make_unique<EditedPart>();
  const std::string bytes = package_->read(*stored);
  // everything the part holds (declaration, comments, white space) goes back out
  auto result = parsed->doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_full, pugi::encoding_auto);
  if (!result)
    throw BadWorkbook(*stored + ": XML 格式错误（第 " + std::to_string(result.offset) + " 字节）: " +
                      result.description());
  return *parts_.emplace(*stored, std::move(parsed)).first->second;
}

std::vector<std::string> WorkbookEditor::sheet_titles() const {
  std::vector<std::string> titles;
  pugi::xml_node sheets = child(part(workbook_part_).doc.document_element(), "sheets");
  for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling())
    if (is(s, "sheet")) titles.emplace_back(attribute(s, "name").value());
  return titles;
}

std::string WorkbookEditor::sheet_part(std::string_view title) const {
  pugi::xml_node sheets = child(part(workbook_part_).doc.document_element(), "sheets");
  for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling()) {
    if (!is(s, "sheet") || title != attribute(s, "name").value()) continue;
    const std::string id = prefixed_attribute(s, "id").value();
    for (const Relationship& rel : package_->relationships(workbook_part_))
      if (rel.id == id && !rel.external) return rel.target;
    throw BadWorkbook("工作表 '" + std::string(title) + "': 找不到 " + workbook_part_ + " 的关系 '" + id + "'");
  }
  throw ValueError("文件 " + path_.string() + " 中没有工作表 " + repr_text(title));
}

void WorkbookEditor::append_rows(std::string_view sheet, const std::vector<std::vector<std::string>>& rows) {
  naming(path_, [&] {
    const std::string name = sheet_part(sheet);
    EditedPart& edited = part(name);
    pugi::xml_node root = edited.doc.document_element();
    if (!is(root, "worksheet")) throw ValueError("文件 " + path_.string() + " 的 " + repr_text(sheet) + " 不是工作表");
    pugi::xml_node data = child(root, "sheetData");
    if (!data) throw BadWorkbook(name + ": 没有 <sheetData>");

    std::size_t last = 0;
    for (pugi::xml_node r = data.first_child(); r; r = r.next_sibling()) {
      if (!is(r, "row")) continue;
      // a row without r follows the one before it
      pugi::xml_attribute ra = attribute(r, "r");
      auto n = ra ? parse_row_number(ra.value()) : std::optional<std::size_t>(last + 1);
      if (!n || *n == 0 || *n > kMaxRows) throw BadWorkbook(name + ": 行号 '" + std::string(ra.value()) + "' 不正确");
      last = std::max(last, *n);
    }
    std::size_t widest = 0;
    for (const auto& row : rows) {
      widest = std::max(widest, row.size());
      for (const auto& text : row) {
        auto units = utf16_length(text, true);
        if (!units) throw ValueError("无法写入文件 " + path_.string() + ": 文本含有控制字符或不是有效的 UTF-8: " + repr_text(text));
        if (*units > kMaxCellUnits) throw ValueError("无法写入文件 " + path_.string() + ": 单元格文本超过 32767 个字符");
      }
    }
    if (widest > kMaxColumns) throw ValueError("无法写入文件 " + path_.string() + ": 一行超过 16384 列");
    if (rows.size() > kMaxRows - last)
      throw ValueError("无法写入文件 " + path_.string() + ": 工作表 " + repr_text(sheet) + " 超过 1048576 行");

    const std::string prefix = prefix_of(root);
    for (const auto& row : rows) {
      ++last;
      pugi::xml_node r = data.append_child((prefix + "row").c_str());
      r.append_attribute("r") = std::to_string(last).c_str();
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (row[c].empty()) continue;
        pugi::xml_node cell = r.append_child((prefix + "c").c_str());
        cell.append_attribute("r") = cell_name(last, c).c_str();
        cell.append_attribute("t") = "inlineStr";
        pugi::xml_node t = cell.append_child((prefix + "is").c_str()).append_child((prefix + "t").c_str());
        if (row[c].find_first_of(" \t\n\r") != std::string::npos) t.append_attribute("xml:space") = "preserve";
        t.text().set(row[c].c_str());
      }
    }

    // The dimension is a hint that readers trust; grow it over the new rows, or drop one that
    // cannot be read rather than leave it wrong.
    if (pugi::xml_node dim = child(root, "dimension"); dim && !rows.empty()) {
      const std::string ref = attribute(dim, "ref").value();
      const std::size_t colon = ref.find(':');
      auto first = parse_cell_ref(ref.substr(0, colon));
      auto second = colon == std::string::npos ? first : parse_cell_ref(ref.substr(colon + 1));
      if (first && second) {
        CellRef top{std::min(first->row, second->row), std::min(first->column, second->column)};
        CellRef bottom{std::max({first->row, second->row, last}),
                       std::max({first->column, second->column, widest > 0 ? widest - 1 : 0})};
        attribute(dim, "ref").set_value(
            (cell_name(top.row, top.column) + ":" + cell_name(bottom.row, bottom.column)).c_str());
      } else {
        root.remove_child(dim);
      }
    }
    edited.dirty = true;
    return 0;
  });
}

void WorkbookEditor::rename_sheet(std::string_view from, std::string_view to) {
  naming(path_, [&] {
    EditedPart& workbook = part(workbook_part_);
    pugi::xml_node root = workbook.doc.document_element();
    pugi::xml_node target;
    for (pugi::xml_node s = child(root, "sheets").first_child(); s; s = s.next_sibling())
      if (is(s, "sheet") && from == attribute(s, "name").value()) target = s;
    if (!target) throw ValueError("文件 " + path_.string() + " 中没有工作表 " + repr_text(from));
    if (std::string problem = sheet_title_problem(to); !problem.empty())
      throw ValueError("工作表标题 " + repr_text(to) + " 无效: " + problem);
    for (pugi::xml_node s = child(root, "sheets").first_child(); s; s = s.next_sibling())
      if (is(s, "sheet") && s != target && iequals(attribute(s, "name").value(), to))
        throw ValueError("工作表标题 " + repr_text(to) + " 与文件 " + path_.string() + " 中的工作表 " +
                         repr_text(attribute(s, "name").value()) + " 重复（标题不分大小写）");
    if (from == to) return 0;

    // Every part that can name a sheet, parsed before anything changes, so that a broken one
    // fails the rename as a whole.
    std::vector<std::string> names{workbook_part_};
    for (const Relationship& rel : package_->relationships(workbook_part_)) {
      if (rel.external) continue;
      if (has_type(rel, "worksheet") || has_type(rel, "chartsheet") || has_type(rel, "dialogsheet") ||
          has_type(rel, "macrosheet")) {
        names.push_back(rel.target);
        for (const Relationship& drawing : package_->relationships(rel.target))
          if (has_type(drawing, "drawing") && !drawing.external)
            for (const Relationship& chart : package_->relationships(drawing.target))
              if (has_type(chart, "chart") && !chart.external) names.push_back(chart.target);
      } else if (has_type(rel, "pivotCacheDefinition")) {
        names.push_back(rel.target);
      }
    }
    std::string app_part;
    for (const Relationship& rel : package_->relationships(""))
      if (has_type(rel, "extended-properties") && !rel.external) app_part = rel.target;
    if (app_part.empty() || std::none_of(entries_.begin(), entries_.end(), [&](const auto& e) { return iequals(e, app_part); }))
      app_part.clear();
    std::vector<EditedPart*> parts;
    for (const std::string& name : names)
      if (std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) { return iequals(e, name); }))
        parts.push_back(&part(name));
    EditedPart* app = app_part.empty() ? nullptr : &part(app_part);

    attribute(target, "name").set_value(std::string(to).c_str());
    workbook.dirty = true;
    for (EditedPart* p : parts) {
      auto rewrite_text = [&](pugi::xml_node node) {
        const std::string before = text_of(node);
        const std::string after = rename_in_formula(before, from, to);
        if (after == before) return;
        while (node.first_child()) node.remove_child(node.first_child());
        node.text().set(after.c_str());
        p->dirty = true;
      };
      auto rewrite_attribute = [&](pugi::xml_attribute a, bool whole_title) {
        const std::string before = a.value();
        const std::string after = whole_title ? (iequals(before, from) ? std::string(to) : before)
                                              : rename_in_formula(before, from, to);
        if (after == before) return;
        a.set_value(after.c_str());
        p->dirty = true;
      };
      struct Walker : pugi::xml_tree_walker {
        std::function<void(pugi::xml_node)> visit;
        bool for_each(pugi::xml_node& node) override {
          if (node.type() == pugi::node_element) visit(node);
          return true;
        }
      } walker;
      walker.visit = [&](pugi::xml_node node) {
        const std::string_view local = local_name(node.name());
        if (local == "f" || local == "formula" || local == "formula1" || local == "formula2" || local == "definedName")
          rewrite_text(node);
        else if (local == "hyperlink")
          rewrite_attribute(attribute(node, "location"), false);
        else if (local == "worksheetSource")
          rewrite_attribute(attribute(node, "sheet"), true);
      };
      p->doc.traverse(walker);
    }

    // The titles of the document properties: each sheet's title, and names defined on a sheet
    // as "Sheet!Name".
    if (app) {
      pugi::xml_node titles = child(app->doc.document_element(), "TitlesOfParts");
      pugi::xml_node vector = child(titles, "vector");
      for (pugi::xml_node item = vector.first_child(); item; item = item.next_sibling()) {
        if (!is(item, "lpstr")) continue;
        const std::string text = text_of(item);
        std::string after = text;
        if (text == from) {
          after = to;
        } else if (text.find('!') != std::string::npos) {
          after = rename_in_formula(text, from, to);
        }
        if (after == text) continue;
        while (item.first_child()) item.remove_child(item.first_child());
        item.text().set(after.c_str());
        app->dirty = true;
      }
    }
    return 0;
  });
}

void WorkbookEditor::add_list_validation(std::string_view sheet, const ListValidation& v) {
  naming(path_, [&] {
    const std::string& style = v.error_style;
    if (!style.empty() && style != "stop" && style != "warning" && style != "information")
      throw ValueError("数据验证的出错样式应为 stop、warning 或 information，实际为 " + repr_text(style));
    if (v.formula1.empty() || v.sqref.empty()) throw ValueError("数据验证需要列表来源和应用范围");
    for (const std::string* text : {&v.formula1, &v.sqref, &v.error, &v.error_title, &v.prompt, &v.prompt_title})
      if (!utf16_length(*text, true)) throw ValueError("数据验证的文本含有控制字符或不是有效的 UTF-8: " + repr_text(*text));

    const std::string name = sheet_part(sheet);
    EditedPart& edited = part(name);
    pugi::xml_node root = edited.doc.document_element();
    if (!is(root, "worksheet")) throw ValueError("文件 " + path_.string() + " 的 " + repr_text(sheet) + " 不是工作表");

    pugi::xml_node list = child_in_order(root, "dataValidations");
    const std::string prefix = prefix_of(root);
    pugi::xml_node dv = list.append_child((prefix + "dataValidation").c_str());
    dv.append_attribute("type") = "list";
    if (!style.empty()) dv.append_attribute("errorStyle") = style.c_str();
    if (v.allow_blank) dv.append_attribute("allowBlank") = "1";
    // without these two the spreadsheet shows neither the prompt nor the error
    dv.append_attribute("showInputMessage") = "1";
    dv.append_attribute("showErrorMessage") = "1";
    auto text_attribute = [&](const char* attr, const std::string& value) {
      if (!value.empty()) dv.append_attribute(attr) = value.c_str();
    };
    text_attribute("errorTitle", v.error_title);
    text_attribute("error", v.error);
    text_attribute("promptTitle", v.prompt_title);
    text_attribute("prompt", v.prompt);
    dv.append_attribute("sqref") = v.sqref.c_str();
    dv.append_child((prefix + "formula1").c_str()).text().set(v.formula1.c_str());

    std::size_t count = 0;
    for (pugi::xml_node c = list.first_child(); c; c = c.next_sibling()) count += is(c, "dataValidation");
    if (pugi::xml_attribute a = attribute(list, "count")) a.set_value(std::to_string(count).c_str());
    else list.append_attribute("count") = std::to_string(count).c_str();
    edited.dirty = true;
    return 0;
  });
}

void WorkbookEditor::save(const fs::path& path) const {
  const std::string bytes = naming(path_, [&] {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.reserve(entries_.size());
    for (const std::string& name : entries_) {
      auto edited = parts_.find(name);
      if (edited != parts_.end() && edited->second->dirty) {
        StringWriter writer;
        edited->second->doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        entries.emplace_back(name, std::move(writer.out));
      } else {
        entries.emplace_back(name, name.ends_with('/') ? std::string() : package_->read(name));
      }
    }
    return zip_bytes(entries);
  });

  if (const int error = replace_file(path, bytes, true))
    throw OSError("无法保存工作簿 " + path.string() + ": " + std::strerror(error));
}

}  // namespace tovik::xlsx
