#include "keywords/library.hpp"

#include "keywords/key_word.hpp"
#include "outside/settings/settings.hpp"

namespace tovik {

const KeywordDefaults& keyword_defaults() {
  static const KeywordDefaults defaults = [] {
    const auto& ui = settings::tovik_ui();
    KeywordDefaults d;
    d.driver_type = ui.text("driver_type");
    d.selenium_grid = ui.text("selenium_grid");
    d.force_click = ui.boolean("force_click");
    return d;
  }();
  return defaults;
}

void load_keyword_library() {
  keyword_defaults();
  BaseKeyWord::keyword_class();
  WebKeyWord::keyword_class();
  AppKeyWord::keyword_class();
  ApiKeyWord::keyword_class();
  KeyWord::keyword_class();
}

}  // namespace tovik
