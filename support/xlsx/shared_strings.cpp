#include "support/xlsx/shared_strings.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/xml_nodes.hpp"

namespace tovik::xlsx {

std::string string_item_text(pugi::xml_node item) {
  std::string text;
  for (pugi::xml_node node = item.first_child(); node; node = node.next_sibling()) {
    if (is(node, "t")) {
      text += text_of(node);
    } else if (is(node, "r")) {
      if (pugi::xml_node t = child(node, "t")) text += text_of(t);
    }
  }
  return decode_escapes(text);
}

std::vector<std::string> read_shared_strings(pugi::xml_node sst) {
  std::vector<std::string> strings;
  // uniqueCount is only a hint; a file may lie, so cap what is reserved up front.
  const char* count = attribute(sst, "uniqueCount").value();
  std::size_t hint = 0;
  std::from_chars(count, count + std::strlen(count), hint);
  strings.reserve(std::min<std::size_t>(hint, 1 << 20));
  for (pugi::xml_node si = sst.first_child(); si; si = si.next_sibling())
    if (is(si, "si")) strings.push_back(string_item_text(si));
  return strings;
}

}  // namespace tovik::xlsx
