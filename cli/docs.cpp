#include "cli/docs.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <vector>

#include "keywords/class_by_type.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/base/value_json.hpp"

namespace tovik::cli {

namespace {

// ---- reading a documentation text ----------------------------------------------------------

struct KeywordDoc {
  const KeywordEntry* entry = nullptr;
  std::string summary;
  // What is left of the text once the naming line, the summary and the folded :param lines are
  // taken out; common indentation removed.
  std::vector<std::string> description;
  // Per declared parameter: the lines of its ":param" entry (meaning, then continuation lines).
  std::vector<std::vector<std::string>> param_docs;
};

struct ClassDoc {
  const KeywordClass* cls = nullptr;
  std::vector<KeywordDoc> keywords;
};

bool blank(std::string_view line) { return strip_space(line).empty(); }

std::size_t indent_of(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && (line[n] == ' ' || line[n] == '\t')) ++n;
  return n;
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

// Removes the indentation all non-empty lines share, so relative indentation (examples) stays.
void dedent(std::vector<std::string>& lines) {
  std::size_t common = std::string::npos;
  for (const auto& l : lines)
    if (!blank(l)) common = std::min(common, indent_of(l));
  if (common == std::string::npos || common == 0) return;
  for (auto& l : lines) l = blank(l) ? std::string() : l.substr(common);
}

void trim_blank_ends(std::vector<std::string>& lines) {
  while (!lines.empty() && blank(lines.back())) lines.pop_back();
  auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return !blank(l); });
  lines.erase(lines.begin(), first);
}

KeywordDoc read_doc(const KeywordEntry& entry) {
  KeywordDoc doc;
  doc.entry = &entry;
  doc.param_docs.resize(entry.params.size());
  if (!entry.doc) return doc;

  std::vector<std::string> lines = split_lines(strip_space(entry.doc));
  lines.erase(lines.begin());  // "关键字：name" names the keyword; the heading shows it already
  dedent(lines);
  std::size_t i = 0;
  while (i < lines.size() && blank(lines[i])) ++i;
  if (i < lines.size()) doc.summary = std::string(strip_space(lines[i++]));

  std::vector<bool> folded(entry.params.size(), false);
  while (i < lines.size()) {
    const std::string_view text = std::string_view(lines[i]).substr(indent_of(lines[i]));
    const std::size_t colon = text.starts_with(":param ") ? text.find(':', 7) : std::string_view::npos;
    if (colon != std::string_view::npos) {
      // ":param [type] name: meaning", then lines indented deeper that continue the meaning.
      std::string_view name = strip_space(text.substr(7, colon - 7));
      if (const auto sp = name.find_last_of(" \t"); sp != std::string_view::npos) name = name.substr(sp + 1);
      const auto param = std::find_if(entry.params.begin(), entry.params.end(),
                                      [&](const Param& p) { return p.name == name; });
      const auto k = static_cast<std::size_t>(param - entry.params.begin());
      if (param != entry.params.end() && !folded[k]) {
        const std::size_t own = indent_of(lines[i]);
        std::size_t end = i + 1;
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
          if (blank(lines[j])) continue;
          if (indent_of(lines[j]) <= own) break;
          end = j + 1;
        }
        std::vector<std::string> more(lines.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                      lines.begin() + static_cast<std::ptrdiff_t>(end));
        dedent(more);
        auto& target = doc.param_docs[k];
        target.emplace_back(strip_space(text.substr(colon + 1)));
        target.insert(target.end(), more.begin(), more.end());
        folded[k] = true;
        i = end;
        continue;
      }
      // A :param line for no declared parameter stays in the description.
    }
    doc.description.push_back(lines[i++]);
  }
  trim_blank_ends(doc.description);
  dedent(doc.description);
  return doc;
}

// The class and its bases, each once, bases before the classes deriving from them.
void class_order(const KeywordClass& cls, std::vector<const KeywordClass*>& out) {
  if (std::find(out.begin(), out.end(), &cls) != out.end()) return;
  for (const KeywordClass* base : cls.bases()) class_order(*base, out);
  out.push_back(&cls);
}

// The keywords of cls grouped by the class whose entry find() reaches, in all_keyword order.
std::vector<ClassDoc> read_class(const KeywordClass& cls) {
  std::vector<const KeywordClass*> order;
  class_order(cls, order);
  std::vector<ClassDoc> groups;
  std::map<const KeywordEntry*, std::size_t> group_of;
  for (const KeywordClass* c : order) {
    groups.push_back({c, {}});
    for (const auto& entry : c->own_keywords()) group_of[&entry] = groups.size() - 1;
  }
  for (const auto& name : cls.all_keyword()) {
    const KeywordEntry* entry = cls.find(name);
    groups[group_of.at(entry)].keywords.push_back(read_doc(*entry));
  }
  std::erase_if(groups, [](const ClassDoc& g) { return g.keywords.empty(); });
  return groups;
}

std::size_t keyword_count(const std::vector<ClassDoc>& groups) {
  std::size_t n = 0;
  for (const auto& g : groups) n += g.keywords.size();
  return n;
}

const char* kind_id(ParamKind kind) {
  switch (kind) {
    case ParamKind::Any: return "any";
    case ParamKind::Text: return "text";
    case ParamKind::Integer: return "integer";
    case ParamKind::Number: return "number";
    case ParamKind::TextOrNumber: return "text_or_number";
    case ParamKind::Bool: return "bool";
    case ParamKind::Mapping: return "mapping";
    case ParamKind::OptionalText: return "optional_text";
  }
  return "any";
}

bool is_required(const Param& p) { return !p.default_value && !p.default_fn; }

Value default_of(const Param& p) { return p.default_value ? *p.default_value : p.default_fn(); }

std::string join(const std::vector<std::string>& lines, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += sep;
    out += lines[i];
  }
  return out;
}

std::string headline(const KeywordClass& cls, const std::string& kw_type, std::size_t count) {
  return "关键字类型 " + kw_type + " → " + cls.name() + "，共 " + std::to_string(count) + " 个关键字，按定义它们的类分组";
}

// ---- Markdown --------------------------------------------------------------------------------

// Backslash before every character that could start Markdown syntax inside a line.
std::string md_text(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (std::string_view("\\`*_[]<>|&~#").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  if (!out.empty() && (out[0] == '-' || out[0] == '+' || out[0] == '=')) out.insert(0, "\\");
  return out;
}

std::size_t longest_backtick_run(std::string_view s) {
  std::size_t longest = 0, run = 0;
  for (char c : s) {
    run = c == '`' ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

// An inline code span that holds s whatever backticks it has; in tables '|' still needs its escape.
std::string md_code(std::string_view s, bool in_table) {
  std::string body(s);
  std::replace(body.begin(), body.end(), '\n', ' ');
  if (in_table) {
    std::string escaped;
    for (char c : body) escaped += c == '|' ? std::string("\\|") : std::string(1, c);
    body = std::move(escaped);
  }
  const std::string fence(longest_backtick_run(body) + 1, '`');
  const bool pad = !body.empty() && (body.front() == '`' || body.back() == '`' || body.front() == ' ');
  return fence + (pad ? " " : "") + body + (pad ? " " : "") + fence;
}

std::string markdown(const KeywordClass& cls, const std::string& kw_type, const std::vector<ClassDoc>& groups) {
  std::ostringstream out;
  out << "# tovik 关键字文档\n\n" << md_text(headline(cls, kw_type, keyword_count(groups))) << "。\n\n## 目录\n\n";
  for (const auto& g : groups) {
    out << "- [" << md_text(g.cls->name()) << "](#cls-" << g.cls->name() << ")（" << g.keywords.size() << "）\n";
    for (const auto& k : g.keywords)
      out << "  - [" << md_code(k.entry->name, false) << "](#kw-" << k.entry->name << ") " << md_text(k.summary) << "\n";
  }
  out << "\n";
  // Every block ends with a blank line. Explicit anchors, since renderers derive heading ids
  // differently.
  for (const auto& g : groups) {
    out << "<a id=\"cls-" << g.cls->name() << "\"></a>\n\n## " << md_text(g.cls->name()) << "\n\n";
    for (const auto& k : g.keywords) {
      const KeywordEntry& e = *k.entry;
      out << "<a id=\"kw-" << e.name << "\"></a>\n\n### " << md_text(e.name) << "\n\n";
      out << (e.doc ? md_text(k.summary) : std::string("（此关键字没有文档）")) << "\n\n";
      if (e.params.empty()) {
        out << "参数：无\n\n";
      } else {
        out << "| 参数 | 类型 | 默认值 | 说明 |\n| --- | --- | --- | --- |\n";
        for (std::size_t i = 0; i < e.params.size(); ++i) {
          const Param& p = e.params[i];
          std::vector<std::string> meaning;
          for (const auto& l : k.param_docs[i]) meaning.push_back(md_text(l));
          out << "| " << md_code(p.name, true) << " | " << param_kind_text(p.kind) << " | "
              << (is_required(p) ? std::string("必填") : md_code(repr(default_of(p)), true)) << " | "
              << join(meaning, "<br>") << " |\n";
        }
        out << "\n";
      }
      if (!e.step.empty()) out << "报告步骤：" << md_text(e.step) << "\n\n";
      if (!k.description.empty()) {
        const std::string text = join(k.description, "\n");
        const std::string fence(std::max<std::size_t>(3, longest_backtick_run(text) + 1), '`');
        out << fence << "text\n" << text << "\n" << fence << "\n\n";
      }
    }
  }
  std::string page = out.str();
  while (page.ends_with("\n\n")) page.pop_back();
  return page;
}

// ---- HTML ------------------------------------------------------------------------------------

// System fonts only: the page must render offline.
constexpr const char* kCss = R"(
:root{--fg:#1f2328;--muted:#59636e;--line:#d1d9e0;--accent:#0969da;--soft:#f6f8fa}
*{box-sizing:border-box}
body{margin:0;display:flex;align-items:flex-start;color:var(--fg);background:#fff;
font:15px/1.6 system-ui,-apple-system,"Segoe UI","Noto Sans CJK SC","Noto Sans SC","WenQuanYi Micro Hei","Microsoft YaHei","PingFang SC",sans-serif}
code,pre,.mono{font-family:ui-monospace,"DejaVu Sans Mono","Noto Sans Mono CJK SC","WenQuanYi Micro Hei Mono",monospace}
a{color:var(--accent);text-decoration:none}
a:hover{text-decoration:underline}
nav.toc{position:sticky;top:0;flex:0 0 270px;height:100vh;overflow-y:auto;padding:18px 14px;background:var(--soft);border-right:1px solid var(--line);font-size:14px}
nav.toc h2{font-size:15px;margin:0 0 6px}
nav.toc ul,nav.toc ol{list-style:none;margin:0;padding:0}
nav.toc li.cls{margin:12px 0 0}
nav.toc li.cls>a{font-weight:600}
nav.toc .n{color:var(--muted);font-size:12px;margin-left:6px}
nav.toc ol{padding-left:12px;margin-top:2px}
nav.toc ol a{font-family:ui-monospace,"DejaVu Sans Mono",monospace;font-size:13px}
main{flex:1;min-width:0;max-width:980px;padding:26px 40px 80px}
h1{font-size:26px;margin:0 0 4px}
.meta{color:var(--muted);margin:0 0 10px}
section.cls>h2{font-size:21px;border-bottom:2px solid var(--line);padding-bottom:4px;margin:34px 0 10px}
article.kw{border:1px solid var(--line);border-radius:6px;padding:12px 16px;margin:14px 0}
article.kw:target{border-color:var(--accent);box-shadow:0 0 0 2px #b6d5fb}
article.kw h3{margin:0;font-size:17px}
article.kw h3 a{color:inherit}
.summary{margin:2px 0 10px}
table.params{border-collapse:collapse;table-layout:fixed;width:100%;font-size:14px;margin:4px 0 8px}
table.params th:nth-child(1){width:22%}
table.params th:nth-child(2){width:12%}
table.params th:nth-child(3){width:16%}
table.params td{overflow-wrap:anywhere}
table.params th,table.params td{border:1px solid var(--line);padding:4px 8px;text-align:left;vertical-align:top}
table.params th{background:var(--soft);font-weight:600;white-space:nowrap}
td.pdoc{white-space:pre-wrap}
td.req{color:#bc4c00;white-space:nowrap}
code{font-size:.92em;background:#eff1f3;padding:1px 5px;border-radius:4px}
.none,.step{color:var(--muted);font-size:14px;margin:4px 0}
pre.desc{margin:8px 0 0;padding:8px 12px;background:var(--soft);border:1px solid var(--line);border-radius:6px;white-space:pre-wrap;font-size:13px;line-height:1.5}
@media (max-width:800px){body{display:block}nav.toc{position:static;height:auto;border-right:0}main{padding:18px}}
@media print{nav.toc{display:none}}
)";

std::string html_page(const KeywordClass& cls, const std::string& kw_type, const std::vector<ClassDoc>& groups) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      << "<title>tovik 关键字文档 · " << markup_escape(kw_type) << "</title>\n<style>" << kCss << "</style>\n</head>\n<body>\n";

  out << "<nav class=\"toc\">\n<h2>目录</h2>\n<ul>\n";
  for (const auto& g : groups) {
    const std::string id = markup_escape(g.cls->name());
    out << "<li class=\"cls\"><a href=\"#cls-" << id << "\">" << id << "</a><span class=\"n\">" << g.keywords.size()
        << "</span>\n<ol>\n";
    for (const auto& k : g.keywords) {
      const std::string name = markup_escape(k.entry->name);
      out << "<li><a href=\"#kw-" << name << "\" title=\"" << markup_escape(k.summary) << "\">" << name << "</a></li>\n";
    }
    out << "</ol></li>\n";
  }
  out << "</ul>\n</nav>\n<main>\n<h1>tovik 关键字文档</h1>\n<p class=\"meta\">"
      << markup_escape(headline(cls, kw_type, keyword_count(groups))) << "</p>\n";

  for (const auto& g : groups) {
    const std::string cname = markup_escape(g.cls->name());
    out << "<section class=\"cls\" id=\"cls-" << cname << "\">\n<h2>" << cname << "</h2>\n";
    for (const auto& k : g.keywords) {
      const KeywordEntry& e = *k.entry;
      const std::string name = markup_escape(e.name);
      out << "<article class=\"kw\" id=\"kw-" << name << "\">\n<h3><a class=\"mono\" href=\"#kw-" << name << "\">" << name
          << "</a></h3>\n";
      if (e.doc)
        out << "<p class=\"summary\">" << markup_escape(k.summary) << "</p>\n";
      else
        out << "<p class=\"none\">此关键字没有文档</p>\n";
      if (e.params.empty()) {
        out << "<p class=\"none\">参数：无</p>\n";
      } else {
        out << "<table class=\"params\">\n<thead><tr><th>参数</th><th>类型</th><th>默认值</th><th>说明</th></tr></thead>\n"
            << "<tbody>\n";
        for (std::size_t i = 0; i < e.params.size(); ++i) {
          const Param& p = e.params[i];
          out << "<tr><td><code>" << markup_escape(p.name) << "</code></td><td>" << param_kind_text(p.kind) << "</td>";
          if (is_required(p))
            out << "<td class=\"req\">必填</td>";
          else
            out << "<td><code>" << markup_escape(repr(default_of(p))) << "</code></td>";
          out << "<td class=\"pdoc\">" << markup_escape(join(k.param_docs[i], "\n")) << "</td></tr>\n";
        }
        out << "</tbody>\n</table>\n";
      }
      if (!e.step.empty()) out << "<p class=\"step\">报告步骤：" << markup_escape(e.step) << "</p>\n";
      if (!k.description.empty()) out << "<pre class=\"desc\">" << markup_escape(join(k.description, "\n")) << "</pre>\n";
      out << "</article>\n";
    }
    out << "</section>\n";
  }
  out << "</main>\n</body>\n</html>\n";
  return out.str();
}

// ---- JSON ------------------------------------------------------------------------------------

// Plain values as themselves; anything JSON cannot hold faithfully as its printable form.
Json default_json(const Value& v) {
  if (v.is_none() || v.is_bool() || v.is_int() || v.is_str()) return to_json(v);
  if (v.is_float() && std::isfinite(v.as_float())) return to_json(v);
  return repr(v);
}

std::string json_page(const KeywordClass& cls, const std::string& kw_type, const std::vector<ClassDoc>& groups) {
  Json classes = Json::array();
  for (const auto& g : groups) {
    Json keywords = Json::array();
    for (const auto& k : g.keywords) {
      const KeywordEntry& e = *k.entry;
      Json params = Json::array();
      for (std::size_t i = 0; i < e.params.size(); ++i) {
        const Param& p = e.params[i];
        const bool required = is_required(p);
        Json jp;
        jp["name"] = p.name;
        jp["kind"] = kind_id(p.kind);
        jp["kind_text"] = param_kind_text(p.kind);
        jp["required"] = required;
        jp["default"] = required ? Json(nullptr) : default_json(default_of(p));
        jp["default_repr"] = required ? Json(nullptr) : Json(repr(default_of(p)));
        jp["doc"] = join(k.param_docs[i], "\n");
        params.push_back(std::move(jp));
      }
      Json jk;
      jk["name"] = e.name;
      jk["summary"] = k.summary;
      jk["description"] = join(k.description, "\n");
      jk["step"] = e.step;
      jk["doc"] = e.doc ? Json(std::string(strip_space(e.doc))) : Json(nullptr);
      jk["params"] = std::move(params);
      keywords.push_back(std::move(jk));
    }
    Json jc;
    jc["name"] = g.cls->name();
    jc["keywords"] = std::move(keywords);
    classes.push_back(std::move(jc));
  }
  Json page;
  page["format"] = "tovik-keyword-docs";
  page["version"] = 1;
  page["kw_type"] = kw_type;
  page["class"] = cls.name();
  page["classes"] = std::move(classes);
  // A broken byte in a text must not cost the whole page.
  return page.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

void docs(const Value& kw_type) { get_class_by_type(kw_type).print_key_doc(); }

DocsFormat docs_format(std::string_view name) {
  const std::string lower = ascii_lower(name);
  if (lower == "text") return DocsFormat::Text;
  if (lower == "markdown") return DocsFormat::Markdown;
  if (lower == "html") return DocsFormat::Html;
  if (lower == "json") return DocsFormat::Json;
  throw ValueError("未知的文档格式：" + repr_text(name) + "，可选：text、markdown、html、json");
}

std::string docs_page(const Value& kw_type, DocsFormat format) {
  const KeywordClassRef& ref = get_class_by_type(kw_type);
  return docs_page(ref.keywords(), kw_type.as_str(), format);
}

std::string docs_page(const KeywordClass& cls, const std::string& kw_type, DocsFormat format) {
  if (format == DocsFormat::Text) {
    std::ostringstream out;
    cls.print_key_doc(out);
    return out.str();
  }
  const std::vector<ClassDoc> groups = read_class(cls);
  switch (format) {
    case DocsFormat::Markdown: return markdown(cls, kw_type, groups) + "\n";
    case DocsFormat::Html: return html_page(cls, kw_type, groups);
    default: return json_page(cls, kw_type, groups);
  }
}

}  // namespace tovik::cli
