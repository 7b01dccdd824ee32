#include "keywords/class_by_type.hpp"

#include <iostream>

#include "keywords/key_word.hpp"
#include "keywords/library.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik {

namespace {

template <class Cls>
std::unique_ptr<BaseKeyWord> make(std::shared_ptr<Exchange> exchanger, Value usefixtures) {
  return std::make_unique<Cls>(std::move(exchanger), std::move(usefixtures));
}

const KeywordClassRef kWeb{"WebKeyWord", &WebKeyWord::keyword_class, &make<WebKeyWord>};
const KeywordClassRef kApp{"AppKeyWord", &AppKeyWord::keyword_class, &make<AppKeyWord>};
const KeywordClassRef kApi{"ApiKeyWord", &ApiKeyWord::keyword_class, &make<ApiKeyWord>};
const KeywordClassRef kAll{"KeyWord", &KeyWord::keyword_class, &make<KeyWord>};

}  // namespace

void KeywordClassRef::print_key_doc() const { keywords().print_key_doc(std::cout); }

const KeywordClassRef& get_class_by_type(const Value& kw_type) {
  load_keyword_library();
  if (!kw_type.is_str())
    throw TypeError("get_class_by_type 的参数 kw_type 应为文本，实际为 " + kw_type.type_name() + ": " + repr(kw_type));
  const std::string lower = ascii_lower(kw_type.as_str());
  if (lower == "api") return kApi;
  if (lower == "web") return kWeb;
  if (lower == "app") return kApp;
  return kAll;
}

}  // namespace tovik
