#include "support/xlsx/xml_nodes.hpp"

#include <cstring>

namespace tovik::xlsx {

std::string_view local_name(const char* qualified) {
  const char* colon = std::strrchr(qualified, ':');
  return colon ? std::string_view(colon + 1) : std::string_view(qualified);
}

pugi::xml_node child(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (is(c, name)) return c;
  return {};
}

pugi::xml_attribute attribute(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (local_name(a.name()) == name) return a;
  return {};
}

pugi::xml_attribute prefixed_attribute(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (std::strchr(a.name(), ':') && local_name(a.name()) == name) return a;
  return {};
}

std::string text_of(pugi::xml_node node) {
  pugi::xml_node c = node.first_child();
  // Nearly always a single run of text: hand it back without building up a string.
  if (c && !c.next_sibling() && (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata))
    return c.value();
  std::string out;
  for (; c; c = c.next_sibling())
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) out += c.value();
  return out;
}

}  // namespace tovik::xlsx
