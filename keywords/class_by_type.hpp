// Choosing a keyword class by kind name.
#pragma once

#include <memory>
#include <string>

#include "core/base_keyword.hpp"

namespace tovik {

// A keyword class as a value: its name, its keywords, and how to make an object of it.
struct KeywordClassRef {
  std::string name;
  const KeywordClass& (*keywords)();
  std::unique_ptr<BaseKeyWord> (*create)(std::shared_ptr<Exchange> exchanger, Value usefixtures);

  const std::vector<std::string>& all_keyword() const { return keywords().all_keyword(); }
  void print_key_doc() const;
};

// 动态选择kw类: "api", "web", "app" in any case select those classes; anything else KeyWord.
// A kw_type that is not a text is a TypeError naming kw_type. Loads the keyword library first
// (library.hpp).
const KeywordClassRef& get_class_by_type(const Value& kw_type = Value("all"));

}  // namespace tovik
