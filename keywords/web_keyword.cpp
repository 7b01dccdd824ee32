#include "keywords/web_keyword.hpp"

namespace tovik {

const KeywordClass& WebKeyWord::keyword_class() {
  static const KeywordClass cls("WebKeyWord", {&BaseKeyWord::keyword_class()}, {});
  return cls;
}

}  // namespace tovik
