#include "keywords/api_keyword.hpp"

namespace tovik {

const KeywordClass& ApiKeyWord::keyword_class() {
  static const KeywordClass cls("ApiKeyWord", {&BaseKeyWord::keyword_class()}, {});
  return cls;
}

}  // namespace tovik
