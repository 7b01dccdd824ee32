// KeyWord: browser, app and API keywords in one class.
#pragma once

#include "keywords/api_keyword.hpp"
#include "keywords/app_keyword.hpp"
#include "keywords/web_keyword.hpp"

namespace tovik {

class KeyWord : public WebKeyWord, public AppKeyWord, public ApiKeyWord {
 public:
  // The one BaseKeyWord under all three is built here, as the most derived class must.
  KeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures)
      : BaseKeyWord(exchanger, usefixtures), WebKeyWord(exchanger, usefixtures), AppKeyWord(exchanger, usefixtures),
        ApiKeyWord(exchanger, usefixtures) {}
  static const KeywordClass& keyword_class();
  const KeywordClass& klass() const override { return keyword_class(); }
};

}  // namespace tovik
