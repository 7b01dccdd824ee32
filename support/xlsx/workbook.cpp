#include "support/xlsx/workbook.hpp"

#include <string_view>
#include <unordered_map>

#include "support/base/errors.hpp"
#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/package.hpp"
#include "support/xlsx/shared_strings.hpp"
#include "support/xlsx/sheet_reader.hpp"
#include "support/xlsx/styles.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {
namespace {

struct SheetEntry {
  std::string name;
  std::string relationship_id;
};

struct WorkbookPart {
  std::vector<SheetEntry> sheets;
  bool date1904 = false;  // dates count from 1904-01-01 (files from old Mac spreadsheets)
};

WorkbookPart read_workbook_part(const Package& package, const std::string& part) {
  auto stream = package.open_if_present(part, kMaxSmallPart);
  if (!stream) throw BadWorkbook("缺少 " + part);
  XmlScanner xml(part, *stream);
  WorkbookPart out;
  bool sheets_seen = false, in_sheets = false;
  for (auto token = xml.next(); token != XmlScanner::Token::Done; token = xml.next()) {
    if (token == XmlScanner::Token::End && xml.depth() == 1) in_sheets = false;
    if (token != XmlScanner::Token::Start) continue;
    const std::string_view name = xml.name();
    if (xml.depth() == 1 && name != "workbook")
      throw BadWorkbook(part + ": 根元素应为 <workbook>，实际为 <" + xml.qualified_name() + ">");
    if (xml.depth() == 2 && name == "sheets" && !sheets_seen) {
      sheets_seen = in_sheets = true;
    } else if (xml.depth() == 2 && name == "workbookPr") {
      const std::string_view flag = trim_space(xml.attribute("date1904").value_or(""));
      out.date1904 = flag == "1" || flag == "true";
    } else if (xml.depth() == 3 && in_sheets && name == "sheet") {
      out.sheets.push_back({std::string(xml.attribute("name").value_or("")),
                            std::string(xml.prefixed_attribute("id").value_or(""))});
    }
  }
  if (!sheets_seen) throw BadWorkbook(part + ": 没有列出工作表");
  return out;
}

std::string folder_of(const std::string& part) {
  std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// The part a relationship of that kind names, else where writers usually put it.
std::string related_part(const std::string& workbook_part, const std::vector<Relationship>& rels,
                         std::string_view kind, const std::string& usual_name) {
  for (const Relationship& rel : rels)
    if (has_type(rel, kind) && !rel.external) return rel.target;
  return folder_of(workbook_part) + usual_name;
}

SharedStrings shared_strings_of(const Package& package, const std::string& workbook_part,
                                const std::vector<Relationship>& rels) {
  const std::string part = related_part(workbook_part, rels, "sharedStrings", "sharedStrings.xml");
  // Absent when the workbook holds no text; a cell that asks for one then fails on its own.
  auto stream = package.open_if_present(part, kMaxSharedStringsPart);
  if (!stream) return {};
  XmlScanner xml(part, *stream);
  return read_shared_strings(xml);
}

std::vector<NumberKind> cell_styles_of(const Package& package, const std::string& workbook_part,
                                       const std::vector<Relationship>& rels) {
  const std::string part = related_part(workbook_part, rels, "styles", "styles.xml");
  // Absent in workbooks of plain values: every number is then a number.
  auto stream = package.open_if_present(part, kMaxSmallPart);
  if (!stream) return {};
  XmlScanner xml(part, *stream);
  return read_cell_styles(xml);
}

template <class F>
auto naming_the_file(const std::filesystem::path& path, F read) {
  try {
    return read();
  } catch (const BadWorkbook& e) {
    throw ValueError("文件 " + path.string() + " 不是有效的 xlsx 工作簿: " + e.what());
  }
}

}  // namespace

const Value& Row::at(std::size_t column) const {
  static const Value none;
  return column < cells.size() ? cells[column] : none;
}

Workbook read_workbook(const std::filesystem::path& path) {
  return naming_the_file(path, [&] {
    Package package(path);
    const std::string workbook_part = package.workbook_part();
    WorkbookPart book = read_workbook_part(package, workbook_part);
    const auto rels = package.relationships(workbook_part);
    std::unordered_map<std::string_view, const Relationship*> by_id;
    for (const Relationship& rel : rels) by_id.emplace(rel.id, &rel);
    const SharedStrings shared_strings = shared_strings_of(package, workbook_part, rels);
    const std::vector<NumberKind> styles = cell_styles_of(package, workbook_part, rels);
    const SheetContext context{shared_strings, styles, book.date1904};

    Workbook workbook;
    workbook.sheets.reserve(book.sheets.size());
    ReadBudget budget;
    for (SheetEntry& entry : book.sheets) {
      const std::string sheet = "工作表 '" + entry.name + "'";
      if (entry.relationship_id.empty())
        throw BadWorkbook(sheet + " 在 " + workbook_part + " 中没有关系 id");
      auto found = by_id.find(entry.relationship_id);
      if (found == by_id.end() || found->second->external)
        throw BadWorkbook(sheet + ": 找不到 " + workbook_part + " 的关系 '" + entry.relationship_id + "'");
      const std::string& target = found->second->target;
      std::vector<Row> rows;
      try {
        auto stream = package.open_if_present(target, kMaxSheetPart);
        if (!stream) throw BadWorkbook("缺少部件 " + target);
        XmlScanner xml(target, *stream);
        rows = read_rows(xml, context, budget);
      } catch (const BadWorkbook& e) {
        throw BadWorkbook(sheet + ": " + e.what());
      } catch (const FormulaWithoutValue& e) {
        // The file is sound; what it lacks is the value, and the way to store it.
        throw ValueError("文件 " + path.string() + ", 工作表 " + entry.name + ", 单元格 " + e.cell() +
                         ": 公式没有保存计算结果，请在电子表格程序中打开并保存该工作簿，以存下公式的值");
      }
      workbook.sheets.push_back({std::move(entry.name), std::move(rows)});
    }
    return workbook;
  });
}

std::vector<std::string> sheet_names(const std::filesystem::path& path) {
  return naming_the_file(path, [&] {
    Package package(path);
    std::vector<std::string> names;
    for (SheetEntry& entry : read_workbook_part(package, package.workbook_part()).sheets)
      names.push_back(std::move(entry.name));
    return names;
  });
}

}  // namespace tovik::xlsx
