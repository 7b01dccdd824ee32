// Browser keywords: open a driver, navigate, act on elements, frames, alerts, saved values.
#pragma once

#include "core/base_keyword.hpp"

namespace tovik {

class WebKeyWord : public virtual BaseKeyWord {
 public:
  WebKeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures) : BaseKeyWord(std::move(exchanger), std::move(usefixtures)) {}
  static const KeywordClass& keyword_class();
  const KeywordClass& klass() const override { return keyword_class(); }

  Value key_debugger(const Args& a);
  Value key_shell(const Args& a);
  Value key_new_driver(const Args& a);
  Value key_goto(const Args& a);
  Value key_touch(const Args& a);
  Value key_click(const Args& a);
  Value key_input(const Args& a);
  Value key_chosen(const Args& a);
  Value key_sleep(const Args& a);
  Value key_show(const Args& a);
  Value key_move(const Args& a);
  Value key_frame_enter(const Args& a);
  Value key_frame_exit(const Args& a);
  Value key_frame_top(const Args& a);
  // The driver's open alert, or null when none is open.
  static std::shared_ptr<webdriver::Alert> _wait_alert(webdriver::Driver& driver);
  Value key_alert_ok(const Args& a);
  Value key_alert_cancel(const Args& a);
  Value key_save(const Args& a);
  Value key_save_text(const Args& a);
  Value key_save_attr(const Args& a);
  Value key_save_title(const Args& a);
  Value key_save_url(const Args& a);

 private:
  std::shared_ptr<webdriver::Alert> wait_for_alert();
};

// An XPath string literal holding text exactly, whatever quotes it contains.
std::string xpath_literal(const std::string& text);

}  // namespace tovik
