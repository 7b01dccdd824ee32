// Where the packaged data ("file": pytest.ini.txt, template.xlsx) lies: next to the program, in
// the build tree and in an installed tree alike.
#pragma once

#include <filesystem>

namespace tovik::cli {

// TOVIK_DATA_DIR when set, else <program dir>/../share/tovik/file. OSError when neither holds
// pytest.ini.txt.
std::filesystem::path data_dir();

}  // namespace tovik::cli
