// 打印关键字文档: the keyword documentation of a keyword kind, as print_key_doc prints it, and as
// one Markdown, HTML or JSON page for readers and editors.
#pragma once

#include <string>
#include <string_view>

#include "core/keyword.hpp"
#include "support/base/value.hpp"

namespace tovik::cli {

// Prints the documentation of the class that get_class_by_type(kw_type) selects, exactly as its
// print_key_doc does; no keyword object is created. An unknown kind selects KeyWord.
void docs(const Value& kw_type = Value("all"));

enum class DocsFormat { Text, Markdown, Html, Json };

// "text", "markdown", "html" or "json" (ASCII case ignored); ValueError naming them otherwise.
DocsFormat docs_format(std::string_view name);

// The documentation of the selected class as one page. Text is byte for byte what docs() prints.
// The others group the keywords by the class that defines them (bases first, each group in the
// order of all_keyword) under a table of contents, and give each keyword its summary (the first
// non-empty line after the one naming the keyword), its parameters (name, kind, default or 必填,
// the meaning from its ":param" line), its report-step title and the rest of its text.
//
// HTML: one self-contained UTF-8 page (inline CSS, nothing from the network), an anchor
// id="kw-<name>" per keyword and id="cls-<name>" per class, every text escaped.
//
// JSON (field names are stable; editors read them):
//   {"format": "tovik-keyword-docs", "version": 1, "kw_type": <the kind as given>,
//    "class": <the selected class>,
//    "classes": [{"name": <defining class>,
//                 "keywords": [{"name", "summary", "description" (the text without its first
//                               line, the summary and the :param lines; "" when nothing is left),
//                               "step" (report-step title, "" for none),
//                               "doc" (the whole text as the text form prints it; null when the
//                                      keyword has none),
//                               "params": [{"name", "kind" (any, text, integer, number,
//                                           text_or_number, bool, mapping, optional_text),
//                                           "kind_text" (the kind in words), "required",
//                                           "default" (none, booleans, numbers and texts as
//                                                      JSON values, other values as their
//                                                      printable form; null when required),
//                                           "default_repr" (printable form; null when required),
//                                           "doc" (the meaning from its :param line, "" when
//                                                  the text has none)}]}]}]}
std::string docs_page(const Value& kw_type, DocsFormat format);
// The same for a given keyword class; kw_type is only shown.
std::string docs_page(const KeywordClass& cls, const std::string& kw_type, DocsFormat format);

}  // namespace tovik::cli
