#include "support/xlsx/workbook.hpp"

#include <string_view>
#include <unordered_map>

#include "support/base/errors.hpp"
#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/package.hpp"
#include "support/xlsx/shared_strings.hpp"
#include "support/xlsx/sheet_reader.hpp"
#include "support/xlsx/xml_nodes.hpp"

namespace tovik::xlsx {
namespace {

struct SheetEntry {
  std::string name;
  std::string relationship_id;
};

std::vector<SheetEntry> sheet_entries(const XmlPart& workbook) {
  pugi::xml_node root = workbook.root();
  if (!is(root, "workbook"))
    throw BadWorkbook(workbook.name + ": 根元素应为 <workbook>，实际为 <" + std::string(root.name()) + ">");
  pugi::xml_node sheets = child(root, "sheets");
  if (!sheets) throw BadWorkbook(workbook.name + ": 没有列出工作表");
  std::vector<SheetEntry> entries;
  for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling())
    if (is(s, "sheet"))
      entries.push_back({attribute(s, "name").value(), prefixed_attribute(s, "id").value()});
  return entries;
}

std::string folder_of(const std::string& part) {
  std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::vector<std::string> shared_strings_of(const Package& package, const std::string& workbook_part,
                                           const std::vector<Relationship>& rels) {
  std::string part = folder_of(workbook_part) + "sharedStrings.xml";
  for (const Relationship& rel : rels)
    if (has_type(rel, "sharedStrings") && !rel.external) part = rel.target;
  // Absent when the workbook holds no text; a cell that asks for one then fails on its own.
  auto sst = package.parse_if_present(part);
  return sst ? read_shared_strings(sst->root()) : std::vector<std::string>();
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
    auto entries = sheet_entries(*package.parse(workbook_part));
    const auto rels = package.relationships(workbook_part);
    std::unordered_map<std::string_view, const Relationship*> by_id;
    for (const Relationship& rel : rels) by_id.emplace(rel.id, &rel);
    const auto shared_strings = shared_strings_of(package, workbook_part, rels);

    Workbook workbook;
    workbook.sheets.reserve(entries.size());
    std::size_t cell_budget = kMaxCells;
    for (SheetEntry& entry : entries) {
      const std::string sheet = "工作表 '" + entry.name + "'";
      if (entry.relationship_id.empty())
        throw BadWorkbook(sheet + " 在 " + workbook_part + " 中没有关系 id");
      auto found = by_id.find(entry.relationship_id);
      if (found == by_id.end() || found->second->external)
        throw BadWorkbook(sheet + ": 找不到 " + workbook_part + " 的关系 '" + entry.relationship_id + "'");
      const std::string& target = found->second->target;
      try {
        auto part = package.parse_if_present(target);
        if (!part) throw BadWorkbook("缺少部件 " + target);
        workbook.sheets.push_back(
            {std::move(entry.name), read_rows(part->root(), shared_strings, cell_budget)});
      } catch (const BadWorkbook& e) {
        throw BadWorkbook(sheet + ": " + e.what());
      }
    }
    return workbook;
  });
}

std::vector<std::string> sheet_names(const std::filesystem::path& path) {
  return naming_the_file(path, [&] {
    Package package(path);
    std::vector<std::string> names;
    for (SheetEntry& entry : sheet_entries(*package.parse(package.workbook_part())))
      names.push_back(std::move(entry.name));
    return names;
  });
}

}  // namespace tovik::xlsx
