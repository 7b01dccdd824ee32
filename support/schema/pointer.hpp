// JSON pointers as the schema messages show them, shared by inference and validation.
#pragma once

#include <string>
#include <string_view>

namespace tovik::schema {

// One reference token of a JSON pointer: "~" and "/" escaped as "~0" and "~1".
inline std::string pointer_token(std::string_view raw) {
  std::string out;
  for (char c : raw) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return out;
}

// "/" stands for the whole document, whose pointer is empty.
inline std::string shown_path(const std::string& pointer) { return pointer.empty() ? "/" : pointer; }

}  // namespace tovik::schema
