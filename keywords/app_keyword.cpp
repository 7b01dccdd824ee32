#include "keywords/app_keyword.hpp"

namespace tovik {

const KeywordClass& AppKeyWord::keyword_class() {
  static const KeywordClass cls("AppKeyWord", {&BaseKeyWord::keyword_class()}, {});
  return cls;
}

}  // namespace tovik
