#include "cli/docs.hpp"

#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "keywords/class_by_type.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::cli {

namespace {

using nlohmann::json;
using ::testing::AllOf;
using ::testing::HasSubstr;

template <class F>
std::string printed(F&& f) {
  std::stringstream buf;
  auto* old = std::cout.rdbuf(buf.rdbuf());
  f();
  std::cout.rdbuf(old);
  return buf.str();
}

std::size_t count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
  return n;
}

// Every element closed in order, attributes quoted, and no bare '<' or '&' in texts or attribute
// values. Returns what is wrong, or "".
std::string html_problem(const std::string& page) {
  static const std::set<std::string> kVoid{"meta", "br", "hr", "img", "link"};
  static const std::regex kTag(R"(^(/?)([a-z][a-z0-9]*)((?: [a-z-]+="[^"<>]*")*)$)");
  static const std::regex kEntity(R"(^&(amp|lt|gt|quot|#39);)");
  if (!page.starts_with("<!DOCTYPE html>\n")) return "no doctype";
  auto bad_amp = [&](const std::string& s) {
    for (auto at = s.find('&'); at != std::string::npos; at = s.find('&', at + 1))
      if (!std::regex_search(s.substr(at, 8), kEntity)) return true;
    return false;
  };
  std::vector<std::string> open;
  std::string text;
  for (std::size_t i = page.find('\n'); i < page.size();) {
    if (page[i] != '<') {
      text += page[i++];
      continue;
    }
    const std::size_t end = page.find('>', i);
    if (end == std::string::npos) return "tag without end";
    const std::string tag = page.substr(i + 1, end - i - 1);
    std::smatch m;
    if (!std::regex_match(tag, m, kTag)) return "bad tag <" + tag + ">";
    if (bad_amp(m[3])) return "bare & in <" + tag + ">";
    const std::string name = m[2];
    i = end + 1;
    if (m[1] == "/") {
      if (open.empty() || open.back() != name) return "</" + name + "> closes " + (open.empty() ? "nothing" : open.back());
      open.pop_back();
    } else if (!kVoid.count(name)) {
      open.push_back(name);
      if (name == "style") i = page.find("</style>", i);  // selectors hold '>'
    }
  }
  if (!open.empty()) return "<" + open.back() + "> not closed";
  if (bad_amp(text)) return "bare & in text";
  return "";
}

std::set<std::string> matches(const std::string& s, const std::string& pattern) {
  std::set<std::string> out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it) out.insert((*it)[1]);
  return out;
}

const json& keyword_of(const json& page, const std::string& name) {
  for (const auto& c : page["classes"])
    for (const auto& k : c["keywords"])
      if (k["name"] == name) return k;
  throw std::runtime_error("no keyword " + name);
}

// A small class tree whose texts hold everything a page must escape or fold.
struct Fixture {
  static KeywordEntry entry(std::string name, const char* doc, std::string step, std::vector<Param> params) {
    KeywordEntry e;
    e.name = std::move(name);
    e.doc = doc;
    e.step = std::move(step);
    e.params = std::move(params);
    return e;
  }
  KeywordClass base{"Base", {}, [] {
                      std::vector<KeywordEntry> v;
                      v.push_back(entry("zeta", "\n    关键字：zeta\n    基类的\n    ", "", {}));
                      v.push_back(entry("shared", "\n    关键字：shared\n    被覆盖\n    ", "", {}));
                      return v;
                    }()};
  KeywordClass derived{"Derived", {&base}, [] {
                         std::vector<KeywordEntry> v;
                         v.push_back(entry("alpha",
                                           R"(
        关键字：alpha
        比较 a<b && c>d

        说明 <script>x</script> `tick`
        ```
        :param other: 没有这个参数
        :param left: 左边 <值>
           续行 & 更多

           例子：a|b
        :param right: 右边
        )",
                                           "步骤<&>",
                                           {required("right", ParamKind::Integer),
                                            optional("left", ParamKind::Text, Value("x<y&'z")),
                                            optional("opts", ParamKind::Any, Value::tuple({Value(1)}))}));
                         v.push_back(entry("nodoc", nullptr, "", {optional("n", ParamKind::Any, Value())}));
                         v.push_back(entry("shared", "\n    关键字：shared\n    覆盖了\n    ", "", {}));
                         return v;
                       }()};
};

}  // namespace

TEST(DocsTest, TextIsWhatPrintKeyDocPrintsForEveryKind) {
  const std::string all = printed([] { docs(); });
  for (const char* kind : {"all", "web", "api", "app", "Web", "nonsense", "", " api"}) {
    SCOPED_TRACE(kind);
    const KeywordClassRef& ref = get_class_by_type(Value(kind));
    const std::string expected = printed([&] { ref.print_key_doc(); });
    EXPECT_EQ(printed([&] { docs(Value(kind)); }), expected);
    EXPECT_EQ(docs_page(Value(kind), DocsFormat::Text), expected);
    // one block per keyword, so an empty or truncated listing cannot pass
    EXPECT_TRUE(expected.starts_with("关键字及其参数\n====================\n"));
    EXPECT_EQ(count(expected, "\n--------------------\n"), ref.all_keyword().size());
  }
  // unknown kinds are the union class, not an error
  EXPECT_EQ(printed([] { docs(Value("nonsense")); }), all);
  EXPECT_NE(printed([] { docs(Value("web")); }), all);
  EXPECT_NE(all.find("关键字 assert\n        进行断言\n"), std::string::npos);
  EXPECT_THROW(docs(Value(1)), TypeError);
  EXPECT_THROW(docs_page(Value(), DocsFormat::Json), TypeError);
}

TEST(DocsTest, FormatNames) {
  EXPECT_EQ(docs_format("Markdown"), DocsFormat::Markdown);
  EXPECT_EQ(docs_format("HTML"), DocsFormat::Html);
  for (const char* bad : {"xml", "md "}) {
    try {
      docs_format(bad);
      ADD_FAILURE() << bad;
    } catch (const ValueError& e) {
      EXPECT_THAT(e.what(), AllOf(HasSubstr("text、markdown、html、json"), HasSubstr(repr_text(bad))));
    }
  }
}

TEST(DocsTest, JsonListsEveryKeywordOnceUnderItsDefiningClass) {
  const std::map<std::string, std::vector<std::string>> classes{
      {"all", {"BaseKeyWord", "WebKeyWord", "AppKeyWord", "ApiKeyWord"}},
      {"web", {"BaseKeyWord", "WebKeyWord"}},
      {"app", {"BaseKeyWord", "AppKeyWord"}},
      {"api", {"BaseKeyWord", "ApiKeyWord"}}};
  const std::map<std::string, std::string> home{{"assert", "BaseKeyWord"}, {"click", "WebKeyWord"},
                                                {"swipe", "AppKeyWord"}, {"send_http", "ApiKeyWord"}};
  for (const auto& [kind, names] : classes) {
    SCOPED_TRACE(kind);
    const KeywordClass& cls = get_class_by_type(Value(kind)).keywords();
    const json page = json::parse(docs_page(Value(kind), DocsFormat::Json));
    EXPECT_EQ(page["format"], "tovik-keyword-docs");
    EXPECT_EQ(page["version"], 1);
    EXPECT_EQ(page["kw_type"], kind);
    EXPECT_EQ(page["class"], cls.name());
    std::vector<std::string> got_classes, listed;
    for (const auto& c : page["classes"]) {
      got_classes.push_back(c["name"]);
      std::vector<std::string> in_class;
      for (const auto& k : c["keywords"]) {
        in_class.push_back(k["name"]);
        if (home.count(k["name"])) { EXPECT_EQ(home.at(k["name"]), c["name"]); }
      }
      EXPECT_TRUE(std::is_sorted(in_class.begin(), in_class.end())) << c["name"];
      listed.insert(listed.end(), in_class.begin(), in_class.end());
    }
    EXPECT_EQ(got_classes, names);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, cls.all_keyword());

    for (const auto& name : cls.all_keyword()) {
      SCOPED_TRACE(name);
      const KeywordEntry& entry = *cls.find(name);
      const json& k = keyword_of(page, name);
      EXPECT_EQ(k["doc"], std::string(strip_space(entry.doc)));
      EXPECT_EQ(k["step"], entry.step);
      EXPECT_FALSE(k["summary"].get<std::string>().empty());
      EXPECT_EQ(k["description"].get<std::string>().find(":param"), std::string::npos);
      ASSERT_EQ(k["params"].size(), entry.params.size());
      for (std::size_t i = 0; i < entry.params.size(); ++i) {
        const Param& p = entry.params[i];
        const json& jp = k["params"][i];
        EXPECT_EQ(jp["name"], p.name);
        EXPECT_EQ(jp["kind_text"], param_kind_text(p.kind));
        EXPECT_EQ(jp["required"], !p.default_value.has_value());
        if (p.default_value) {
          EXPECT_EQ(jp["default_repr"], repr(*p.default_value));
        } else {
          EXPECT_TRUE(jp["default"].is_null() && jp["default_repr"].is_null());
        }
      }
    }
  }
}

TEST(DocsTest, JsonFoldsParamLinesAndKeepsTheRest) {
  const json page = json::parse(docs_page(Value("all"), DocsFormat::Json));
  const json& client = keyword_of(page, "new_client");
  EXPECT_EQ(client["summary"], "启动接口客户端");
  EXPECT_EQ(client["step"], "启动接口客户端");
  EXPECT_EQ(client["description"], "");
  EXPECT_EQ(client["params"][0], json::parse(R"({"name": "timeout", "kind": "number", "kind_text": "数字",
      "required": false, "default": 5.0, "default_repr": "5.0", "doc": "请求默认超时时间"})"));
  EXPECT_TRUE(client["params"][0]["default"].is_number_float());
  // a default of None is a default, not a required parameter
  EXPECT_EQ(keyword_of(page, "alert_ok")["params"][0]["default"], nullptr);
  EXPECT_EQ(keyword_of(page, "alert_ok")["params"][0]["required"], false);
  EXPECT_EQ(keyword_of(page, "input")["params"][2]["default"], true);
  // the summary is the first line with text after the naming line
  EXPECT_EQ(keyword_of(page, "ac_new")["summary"], "创建新的ActionChains （适用于Appium）");
  // :param lines match declared parameters by name, whatever their order in the text
  const json& save_text = keyword_of(page, "save_text");
  EXPECT_EQ(save_text["params"][0]["name"], "locator");
  EXPECT_EQ(save_text["params"][0]["doc"], "定位器字符串，具体格式请参考关键字：show");
  EXPECT_EQ(save_text["params"][1]["doc"], "要保存的变量名");
  // deeper-indented lines continue a parameter's meaning, blank lines inside included
  const std::string locator = keyword_of(page, "show")["params"][0]["doc"];
  EXPECT_TRUE(locator.starts_with("定位器字符串，格式:\"value, by, index\"\n其中：\n")) << locator;
  EXPECT_NE(locator.find("\n\n例子：\n\"KW, ID, 0\""), std::string::npos) << locator;
  EXPECT_EQ(keyword_of(page, "show")["description"], "");
  // prose and examples outside :param lines stay, unindented
  const std::string save = keyword_of(page, "save")["description"];
  EXPECT_TRUE(save.starts_with("变量应该是一个字符串")) << save;
  EXPECT_NE(save.find("\n例如：\n`save_value(\"a\", \"123\")`"), std::string::npos) << save;
  EXPECT_TRUE(keyword_of(page, "ac_new_swipe")["description"].get<std::string>().starts_with("start_x: int,\nstart_y"));
}

TEST(DocsTest, PagesOfASmallClassTree) {
  Fixture f;
  const json page = json::parse(docs_page(f.derived, "x", DocsFormat::Json));
  ASSERT_EQ(page["classes"].size(), 2u);
  // an overriding entry belongs to the class that overrides it
  EXPECT_EQ(page["classes"][0]["name"], "Base");
  EXPECT_EQ(page["classes"][0]["keywords"].size(), 1u);
  EXPECT_EQ(page["classes"][0]["keywords"][0]["name"], "zeta");
  EXPECT_EQ(keyword_of(page, "shared")["summary"], "覆盖了");
  const json& alpha = keyword_of(page, "alpha");
  EXPECT_EQ(alpha["summary"], "比较 a<b && c>d");
  EXPECT_EQ(alpha["description"], "说明 <script>x</script> `tick`\n```\n:param other: 没有这个参数");
  EXPECT_EQ(alpha["params"][0]["doc"], "右边");
  EXPECT_EQ(alpha["params"][1]["doc"], "左边 <值>\n续行 & 更多\n\n例子：a|b");
  EXPECT_EQ(alpha["params"][1]["default"], "x<y&'z");
  EXPECT_EQ(alpha["params"][2]["default"], "(1,)");  // not a plain value: its printable form
  EXPECT_EQ(alpha["params"][2]["default_repr"], "(1,)");
  const json& nodoc = keyword_of(page, "nodoc");
  EXPECT_TRUE(nodoc["doc"].is_null());
  EXPECT_EQ(nodoc["summary"], "");
  EXPECT_EQ(nodoc["params"][0]["default"], nullptr);

  const std::string html = docs_page(f.derived, "<x>", DocsFormat::Html);
  EXPECT_EQ(html_problem(html), "");
  EXPECT_NE(html.find("比较 a&lt;b &amp;&amp; c&gt;d"), std::string::npos);
  EXPECT_NE(html.find("说明 &lt;script&gt;x&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("<td><code>&quot;x&lt;y&amp;&#39;z&quot;</code></td>"), std::string::npos);
  EXPECT_NE(html.find("<title>tovik 关键字文档 · &lt;x&gt;</title>"), std::string::npos);
  EXPECT_NE(html.find("此关键字没有文档"), std::string::npos);

  const std::string md = docs_page(f.derived, "x", DocsFormat::Markdown);
  EXPECT_NE(md.find("\n比较 a\\<b \\&\\& c\\>d\n"), std::string::npos) << md;
  // the description keeps its backtick fence intact inside a longer one
  EXPECT_NE(md.find("\n````text\n说明 <script>x</script> `tick`\n```\n:param other: 没有这个参数\n````\n"), std::string::npos)
      << md;
  EXPECT_NE(md.find("| `left` | 文本 | `\"x<y&'z\"` | 左边 \\<值\\><br>续行 \\& 更多<br><br>例子：a\\|b |"),
            std::string::npos)
      << md;
  EXPECT_NE(md.find("| `right` | 整数 | 必填 | 右边 |"), std::string::npos) << md;
}

TEST(DocsTest, HtmlPageIsSelfContainedAndEveryTocLinkLands) {
  const KeywordClass& cls = get_class_by_type(Value("all")).keywords();
  const std::string page = docs_page(Value("all"), DocsFormat::Html);
  EXPECT_EQ(html_problem(page), "");
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
  // nothing loaded from elsewhere; every link stays on the page (texts may still name a URL)
  for (const char* outside : {"src=", "<script", "<link", "@import", "url("})
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  EXPECT_EQ(count(page, "href=\""), count(page, "href=\"#"));
  const auto ids = matches(page, R"re(id="([^"]+)")re");
  const auto links = matches(page, R"re(href="#([^"]+)")re");
  for (const auto& link : links) EXPECT_TRUE(ids.count(link)) << link;
  for (const auto& name : cls.all_keyword()) EXPECT_TRUE(links.count("kw-" + name) && ids.count("kw-" + name)) << name;
  for (const char* c : {"BaseKeyWord", "WebKeyWord", "AppKeyWord", "ApiKeyWord"})
    EXPECT_TRUE(links.count(std::string("cls-") + c)) << c;
  // the => of save's example and the quotes of show's are escaped texts, not markup
  EXPECT_NE(page.find("=&gt;  `a = &quot;123&quot;`"), std::string::npos);
}

TEST(DocsTest, MarkdownHasAHeadingPerClassAndKeyword) {
  for (const char* kind : {"all", "api"}) {
    SCOPED_TRACE(kind);
    const KeywordClass& cls = get_class_by_type(Value(kind)).keywords();
    const std::string md = docs_page(Value(kind), DocsFormat::Markdown);
    EXPECT_TRUE(md.starts_with("# tovik 关键字文档\n"));
    const auto anchors = matches(md, R"re(<a id="([^"]+)"></a>)re");
    for (const auto& link : matches(md, R"re(\]\(#([^)]+)\))re")) EXPECT_TRUE(anchors.count(link)) << link;
    for (const auto& name : cls.all_keyword()) {
      std::string heading = "\n### ";
      for (char c : name) heading += c == '_' ? std::string("\\_") : std::string(1, c);
      EXPECT_EQ(count(md, heading + "\n"), 1u) << name;
      EXPECT_TRUE(anchors.count("kw-" + name)) << name;
    }
    EXPECT_EQ(count(md, "\n## BaseKeyWord\n"), 1u);
    EXPECT_EQ(count(md, "\n## ApiKeyWord\n"), 1u);
    EXPECT_EQ(count(md, "\n## WebKeyWord\n"), std::string(kind) == "all" ? 1u : 0u);
  }
  const std::string md = docs_page(Value("all"), DocsFormat::Markdown);
  EXPECT_NE(md.find("| `timeout` | 数字 | `5.0` | 请求默认超时时间 |"), std::string::npos);
  EXPECT_NE(md.find("| `locator` | 文本 | 必填 | 定位器字符串，具体格式请参考关键字：show |"), std::string::npos);
}

}  // namespace tovik::cli
