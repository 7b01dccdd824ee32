// Mobile-app keywords.
#pragma once

#include "core/base_keyword.hpp"

namespace tovik {

class AppKeyWord : public virtual BaseKeyWord {
 public:
  AppKeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures) : BaseKeyWord(std::move(exchanger), std::move(usefixtures)) {}
  static const KeywordClass& keyword_class();
  const KeywordClass& klass() const override { return keyword_class(); }
};

}  // namespace tovik
