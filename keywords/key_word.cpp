#include "keywords/key_word.hpp"

namespace tovik {

const KeywordClass& KeyWord::keyword_class() {
  static const KeywordClass cls("KeyWord",
                                {&WebKeyWord::keyword_class(), &AppKeyWord::keyword_class(), &ApiKeyWord::keyword_class()},
                                {});
  return cls;
}

}  // namespace tovik
