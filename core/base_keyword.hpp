// The base of every keyword class: dispatch by "_key_" + name, keyword lists, documentation,
// saving variables, and the two keywords every class has (set_driver, assert).
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/keyword.hpp"
#include "outside/webdriver/driver.hpp"
#include "outside/webdriver/wait.hpp"
#include "support/base/value.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik {

class BaseKeyWord;

// What dispatch hands out: a keyword bound to its object. Called with positional arguments.
class KeywordCall {
 public:
  KeywordCall(BaseKeyWord* self, const KeywordEntry* entry, bool logged) : self_(self), entry_(entry), logged_(logged) {}
  // The dispatch form (logged) takes positional arguments only: named ones are a TypeError.
  Value operator()(const List& args = {}, const Dict& kwargs = {}) const;
  const KeywordEntry& entry() const { return *entry_; }

 private:
  BaseKeyWord* self_;
  const KeywordEntry* entry_;
  bool logged_;
};

class BaseKeyWord {
 public:
  static constexpr std::string_view _key_prefix = "_key_";

  // usefixtures must be a mapping (fixture name -> value); anything else is a TypeError.
  BaseKeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures);
  virtual ~BaseKeyWord() = default;
  BaseKeyWord(const BaseKeyWord&) = delete;
  BaseKeyWord& operator=(const BaseKeyWord&) = delete;

  static const KeywordClass& keyword_class();
  // The keyword class of this object's most derived class.
  virtual const KeywordClass& klass() const { return keyword_class(); }

  // "key_x" gives the keyword method itself; a name holding "_key_" goes through dispatch.
  // AttributeError otherwise, with the messages users see for unknown keywords.
  KeywordCall member(std::string_view name);
  // Whether member(name) would succeed, without raising.
  bool has_member(std::string_view name) const;

  const std::vector<std::string>& all_keyword() const { return klass().all_keyword(); }
  void print_key_doc(std::ostream& out) const;
  void print_key_doc() const;

  // Stores a value in the variable store (not written to disk here).
  void set_vars(const std::string& var_name, Value value);

  // Waits until the locator finds its element (below _activate_ele for values starting "./"),
  // marks it with touch_css in browsers and returns it. Report step "寻找元素". In a browser the
  // element's tag and rect (for the log line), the mark and the answers can_interactive needs
  // come in one script round trip.
  std::shared_ptr<webdriver::Element> find_element(const std::string& locator);
  // Whether the element can take input: in a browser displayed, enabled and not read-only (one
  // script round trip; the first call after find_element uses what the lookup learnt), in an app
  // enabled. Report step "判断元素是否可以交互".
  bool can_interactive(const std::shared_ptr<webdriver::Element>& ele);

  // How long a failure's evidence may take to gather from a driver.
  static constexpr double kEvidenceSeconds = 2;
  // Attaches to the innermost open report step what a tester needs to judge a failure without
  // running the case again: with a driver open, a screenshot, the page's (or app's) source and
  // the browser's console log. Classes add their own (the API class: the last request as a curl
  // command). Never throws: what cannot be had is left out with a warning in the case's log, and
  // the failure stays the case's own.
  virtual void attach_failure_evidence();

  Value key_set_driver(const Args& a);
  Value key_assert(const Args& a);

  std::shared_ptr<Exchange> exchanger;
  Dict usefixtures;
  std::shared_ptr<webdriver::Driver> driver;
  std::optional<webdriver::WebDriverWait> wait;
  std::shared_ptr<webdriver::Element> _activate_ele;

 protected:
  // What the last browser lookup learnt of its element's interactivity, for the first
  // can_interactive that follows it.
  struct LookupAnswer {
    std::shared_ptr<webdriver::Element> element;
    bool interactive = false;
  };
  std::optional<LookupAnswer> _lookup_answer;

  // The driver and its wait, or a ValueError telling the user to open a device first.
  webdriver::Driver& need_driver();
  webdriver::WebDriverWait& need_wait();
};

}  // namespace tovik
