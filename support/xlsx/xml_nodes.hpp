// Finding things in the XML parts by local name. Writers differ in namespace prefixes ("x:row",
// "r:id"), so the reader never depends on them.
#pragma once

#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace tovik::xlsx {

// "x:row" -> "row".
std::string_view local_name(const char* qualified);

inline bool is(pugi::xml_node node, std::string_view name) {
  return node.type() == pugi::node_element && local_name(node.name()) == name;
}

// The first child element with that local name; an empty node when there is none.
pugi::xml_node child(pugi::xml_node node, std::string_view name);

// The attribute with that local name whatever its prefix; empty when absent.
pugi::xml_attribute attribute(pugi::xml_node node, std::string_view name);

// The attribute with that local name carrying a prefix, e.g. r:id (a bare "id" does not count).
pugi::xml_attribute prefixed_attribute(pugi::xml_node node, std::string_view name);

// All character data directly inside the element, CDATA included.
std::string text_of(pugi::xml_node node);

}  // namespace tovik::xlsx
