// The workbook's shared string table and the string items it is made of.
#pragma once

#include <string>
#include <vector>

#include <pugixml.hpp>

namespace tovik::xlsx {

// The text of a string item (<si> in the table, <is> in an inline string cell): its <t>, or its
// rich-text runs joined; phonetic guides are not part of the text. Escapes are decoded.
std::string string_item_text(pugi::xml_node item);

// Every <si> of a sharedStrings part's root, in index order.
std::vector<std::string> read_shared_strings(pugi::xml_node sst);

}  // namespace tovik::xlsx
