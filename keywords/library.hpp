// The keyword library: every keyword class of tovik, built at one moment.
//
// Configuration defaults of keyword parameters (driver_type and selenium_grid of new_driver,
// force_click of click) are read once, when the keyword library is loaded: the first call of
// load_keyword_library(), of any keyword class's keyword list (WebKeyWord, AppKeyWord,
// ApiKeyWord, KeyWord), or of get_class_by_type. They are kept for the life of the process;
// settings reloaded later do not change them. wait_max and wait_poll are read at each new_driver
// and set_driver.
#pragma once

#include <string>

namespace tovik {

// Builds every keyword class (BaseKeyWord, WebKeyWord, AppKeyWord, ApiKeyWord, KeyWord); later
// calls change nothing. A setting that cannot be read fails the call with the settings'
// ValueError, and the next call reads again.
void load_keyword_library();

// The configuration defaults above, as the library read them (reading them on the first call).
struct KeywordDefaults {
  std::string driver_type;
  std::string selenium_grid;
  bool force_click = false;
};
const KeywordDefaults& keyword_defaults();

}  // namespace tovik
