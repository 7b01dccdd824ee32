// Reads one section of an INI file the way pytest.ini is written by hand.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovik::settings {

// Key/value pairs of one section, in file order.
using IniEntries = std::vector<std::pair<std::string, std::string>>;

// Entries of [section] in the file at path; an empty list when the section is absent.
// Values are trimmed, inline comments (" ;", " #") removed, indented continuation lines joined
// with "\n"; lines may be of any length. A malformed file, a NUL character or a key repeated in
// the section is a ValueError naming the file and line; an unreadable file is an OSError.
IniEntries read_ini_section(const std::string& path, std::string_view section);

}  // namespace tovik::settings
