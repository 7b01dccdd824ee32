#include "runner/plugins/yaml_case.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "support/base/csv.hpp"
#include "support/base/errors.hpp"
#include "support/base/text.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"
#include "support/base/value_yaml.hpp"
#include "support/base/yaml_tree.hpp"
#include "support/jsonpath/jsonpath.hpp"
#include "support/regex/regex.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

// What an extract rule may name: the response's members, and "str" for a literal.
const std::vector<std::string> kExtractSources = {"json", "text",   "status_code", "headers",    "cookies", "content",
                                                  "url",  "reason", "elapsed",     "elapsed_ms", "ok",      "str"};

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : "、") + w;
  return out;
}

bool known(const std::vector<std::string>& words, const std::string& w) {
  return std::find(words.begin(), words.end(), w) != words.end();
}

// Present and not left empty: `key:` with nothing after it counts as absent.
bool given(const YamlNode* n) { return n && !n->is_null(); }

// Where a node was written, for messages: "文件 a.yaml, 第 3 行".
struct Place {
  const std::string& file;
  std::string at(const YamlNode& n) const { return "文件 " + file + ", 第 " + std::to_string(n.line) + " 行"; }
};

std::string key_of(const YamlNode& key, const Place& p) {
  if (!key.is_scalar() && !key.is_null()) throw ValueError(p.at(key) + ": 字段名应为文本");
  return key.scalar;
}

void check_keys(const YamlNode& map, const std::vector<std::string>& allowed, const std::string& what, const Place& p) {
  for (const auto& [k, v] : map.entries) {
    const std::string key = key_of(k, p);
    if (!known(allowed, key)) throw ValueError(p.at(k) + ": " + what + "中未知的字段 " + key + "（可用：" + joined(allowed) + "）");
  }
}

std::string scalar_text(const YamlNode& n, const std::string& what, const Place& p) {
  if (!n.is_scalar()) throw ValueError(p.at(n) + ": " + what + " 应为文本");
  return n.scalar;
}

// A list of words, or one word.
std::vector<std::string> words(const YamlNode& n, const std::string& what, const Place& p) {
  std::vector<std::string> out;
  if (n.is_scalar()) {
    out.push_back(n.scalar);
  } else if (n.is_sequence()) {
    for (const auto& item : n.items) out.push_back(scalar_text(item, what + " 的每一项", p));
  } else if (!n.is_null()) {
    throw ValueError(p.at(n) + ": " + what + " 应为文本或文本列表");
  }
  return out;
}

Dict mapping(const YamlNode& n, const std::string& what, const Place& p) {
  if (n.is_null()) return {};
  if (!n.is_map()) throw ValueError(p.at(n) + ": " + what + " 应为映射（名称: 值）");
  Value v = to_value(n);
  return std::move(v.as_dict());
}

bool has_template(const Value& v) { return v.is_str() && v.as_str().find("${") != std::string::npos; }

// Checks an extract rule's shape, and its expression when no template makes it known only later.
void check_extract(const YamlNode& n, const Place& p) {
  if (!n.is_map()) throw ValueError(p.at(n) + ": extract 应为映射（变量名: 规则）");
  for (const auto& [k, rule] : n.entries) {
    const std::string name = key_of(k, p);
    const std::string where = p.at(rule) + ": extract 的 " + name;
    Value attr("json"), expr;
    if (rule.is_scalar()) {
      expr = Value(rule.scalar);
    } else if (rule.is_sequence() && !rule.items.empty() && rule.items.size() <= 3) {
      const List r = to_value(rule).as_list();
      attr = r[0];
      if (!attr.is_str()) throw ValueError(where + ": 第一项应为响应的成员名（" + joined(kExtractSources) + "）");
      if (r.size() >= 2) expr = r[1];
      if (r.size() == 3 && !r[2].is_int() && !has_template(r[2]))
        throw ValueError(where + ": 第三项（下标）应为整数，实际为 " + repr(r[2]));
      if (r.size() == 1 && attr.as_str() == "str") throw ValueError(where + ": str 需要第二项（值本身）");
    } else {
      throw ValueError(where + ": 规则应为 JSONPath 文本，或 [成员, 表达式] / [成员, 表达式, 下标] / [成员]");
    }
    if (!has_template(attr) && !known(kExtractSources, attr.as_str()))
      throw ValueError(where + ": 未知的响应成员 " + attr.as_str() + "（可用：" + joined(kExtractSources) + "）");
    if (expr.is_none() || attr.as_str() == "str" || has_template(expr)) continue;
    if (!expr.is_str()) throw ValueError(where + ": 表达式应为文本，实际为 " + repr(expr));
    const std::string& e = expr.as_str();
    try {
      if (!e.empty() && e[0] == '$') jsonpath::Path::compile(e);
      else if (e.empty() || e[0] != '/') Regex{e};
    } catch (const std::exception& err) {
      throw ValueError(where + ": 表达式 " + repr_text(e) + " 无效: " + err.what());
    }
  }
}

// validate and retry.until: kind -> {message: [a, b]}.
void check_checks(const YamlNode& n, const std::string& what, const Place& p) {
  if (!n.is_map()) throw ValueError(p.at(n) + ": " + what + " 应为映射（断言方式: {说明: [实际值, 期望值]}）");
  for (const auto& [kind, pairs] : n.entries) {
    const std::string name = key_of(kind, p);
    if (!pairs.is_map()) throw ValueError(p.at(pairs) + ": " + what + " 的 " + name + " 应为映射（说明: [实际值, 期望值]）");
    for (const auto& [msg, pair] : pairs.entries)
      if (!pair.is_sequence() || pair.items.size() < 2)
        throw ValueError(p.at(pair) + ": 断言 " + key_of(msg, p) + " 应为列表 [实际值, 期望值]");
  }
}

void check_request(const YamlNode& n, const Place& p) {
  if (!n.is_map()) throw ValueError(p.at(n) + ": request 应为映射（method、url 等）");
  check_keys(n, std::vector<std::string>(std::begin(kRequestFields), std::end(kRequestFields)), "request ", p);
  for (const char* required : {"method", "url"}) {
    const YamlNode* f = n.find(required);
    if (!given(f) || !f->is_scalar()) throw ValueError(p.at(n) + ": request 需要文本字段 " + required);
  }
  for (const char* m : {"params", "headers", "cookies", "files"})
    if (const YamlNode* f = n.find(m); given(f) && !f->is_map()) throw ValueError(p.at(*f) + ": request." + m + " 应为映射");
}

void check_retry(const YamlNode& n, const Place& p) {
  if (!n.is_map()) throw ValueError(p.at(n) + ": retry 应为映射（times、interval、until）");
  check_keys(n, kRetryKeys, "retry ", p);
  const YamlNode* until = n.find("until");
  if (!given(until)) throw ValueError(p.at(n) + ": retry 需要 until（重试直到这些断言通过）");
  check_checks(*until, "retry.until", p);
  const YamlNode* t = n.find("times");
  const Value times = given(t) ? to_value(*t) : Value(3);
  if (!times.is_int() || times.is_big_int() || times.as_int() < 1 || times.as_int() > 1000)
    throw ValueError(p.at(n) + ": retry.times 应为 1 到 1000 的整数（最多发送次数），实际为 " + repr(times));
  const YamlNode* i = n.find("interval");
  const Value interval = given(i) ? to_value(*i) : Value(1.0);
  if (!interval.is_number() || interval.as_float() < 0 || interval.as_float() > 3600)
    throw ValueError(p.at(n) + ": retry.interval 应为 0 到 3600 的秒数，实际为 " + repr(interval));
}

CaseStep read_step(const YamlNode& n, const std::string& label, const std::string& shown, const Place& p) {
  CaseStep step;
  step.file = shown;
  step.row = n.line;
  step.number = label;
  if (!n.is_map()) throw ValueError(p.at(n) + ", " + label + ": 步骤应为映射（keyword 或 request）");
  if (const YamlNode* name = n.find("name"); given(name)) step.description = scalar_text(*name, "name", p);
  const std::string step_label = label + (step.description.empty() ? "" : " " + step.description);
  try {
    check_keys(n, kStepKeys, "步骤", p);
    const YamlNode* request = n.find("request");
    const YamlNode* keyword = n.find("keyword");
    const YamlNode* args = n.find("args");
    if (given(request) == given(keyword)) throw ValueError("步骤应有 keyword（关键字）或 request（请求）二者之一");
    if (given(keyword)) {
      for (const char* only : {"extract", "validate", "text_asserts", "retry"})
        if (given(n.find(only))) throw ValueError(std::string(only) + " 只能用于 request 步骤");
      step.keyword = scalar_text(*keyword, "keyword", p);
      if (step.keyword.empty()) throw ValueError("keyword 不能为空");
      if (given(args)) {
        Value v = to_value(*args);
        if (v.is_list()) step.args = std::move(v.as_list());
        else step.args.push_back(std::move(v));
      }
      return step;
    }
    if (given(args)) throw ValueError("args 只能用于 keyword 步骤");
    check_request(*request, p);
    if (const YamlNode* e = n.find("extract"); given(e)) check_extract(*e, p);
    if (const YamlNode* v = n.find("validate"); given(v)) check_checks(*v, "validate", p);
    if (const YamlNode* t = n.find("text_asserts"); given(t) && !t->is_map())
      throw ValueError(p.at(*t) + ": text_asserts 应为映射（变量名: {equals、contains、regex 等}）");
    if (const YamlNode* r = n.find("retry"); given(r)) check_retry(*r, p);
    step.keyword = "request";
    step.args = {to_value(*request->find("method")), to_value(*request->find("url"))};
    for (const auto& [k, v] : n.entries)
      if (k.scalar != "name" && !v.is_null()) step.request.set(k.scalar, to_value(v));
  } catch (const ValueError& e) {
    // messages that say where already get the step after the place; the others the whole place
    const std::string msg = e.what();
    const std::size_t colon = msg.find(": ");
    if (msg.rfind("文件 ", 0) == 0 && colon != std::string::npos)
      throw ValueError(msg.substr(0, colon) + ", " + step_label + msg.substr(colon));
    throw ValueError(p.at(n) + ", " + step_label + ": " + msg);
  }
  return step;
}

std::vector<CaseStep> read_steps(const YamlNode* n, const std::string& section, const std::string& prefix,
                                 const std::string& shown, const Place& p) {
  std::vector<CaseStep> out;
  if (!given(n)) return out;
  if (!n->is_sequence()) throw ValueError(p.at(*n) + ": " + section + " 应为步骤列表");
  out.reserve(n->items.size());
  int k = 0;
  for (const auto& s : n->items) out.push_back(read_step(s, prefix + "第 " + std::to_string(++k) + " 步", shown, p));
  return out;
}

// A CSV cell: whole numbers and decimals become numbers (a leading zero keeps "007" a text), the
// rest stays text.
Value csv_cell(const std::string& s) {
  if (s.empty()) return Value(s);
  const char* b = s.data();
  const char* e = b + s.size();
  const std::string_view digits = s[0] == '-' ? std::string_view(s).substr(1) : std::string_view(s);
  if (digits.empty() || (digits.size() > 1 && digits[0] == '0' && digits[1] != '.')) return Value(s);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) return Value(s);
  if (s.find('.') == std::string::npos) {
    std::int64_t i = 0;
    if (auto r = std::from_chars(b, e, i); r.ec == std::errc() && r.ptr == e) return Value(i);
    return Value(s);
  }
  double d = 0;
  if (auto r = std::from_chars(b, e, d); r.ec == std::errc() && r.ptr == e && digits.front() != '.' && digits.back() != '.')
    return Value(d);
  return Value(s);
}

std::string read_text(const fs::path& file, const std::string& what) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ValueError(what + " " + file.string() + " 无法读取");
  std::stringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

// The rows of a parametrize: each a mapping of variable name to value.
std::vector<Dict> parameter_rows(const YamlNode& n, const fs::path& case_dir, const Place& p) {
  List rows;
  const YamlNode* file = n.find("file");
  if (n.is_sequence()) {
    rows = to_value(n).as_list();
  } else if (n.is_map() && given(file) && n.entries.size() == 1) {
    const std::string name = scalar_text(*file, "parametrize.file", p);
    const fs::path path = fs::path(name).is_absolute() ? fs::path(name) : case_dir / name;
    const std::string ext = path.extension().string();
    const std::string what = p.at(n) + ": 参数文件";
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw ValueError(what + " " + path.string() + " 不存在");
    if (fs::file_size(path, ec) > kMaxYamlCaseBytes) throw ValueError(what + " " + path.string() + " 超过 16 MiB");
    const std::string text = read_text(path, what);
    try {
      if (ext == ".csv") {
        const auto table = parse_csv(text);
        if (table.empty()) return {};
        const CsvRow& header = table.front();
        std::vector<Dict> out;
        for (std::size_t r = 1; r < table.size(); ++r) {
          if (table[r].size() != header.size())
            throw ValueError("第 " + std::to_string(r + 1) + " 行有 " + std::to_string(table[r].size()) + " 列，表头有 " +
                             std::to_string(header.size()) + " 列");
          Dict row;
          for (std::size_t c = 0; c < header.size(); ++c) row.set(header[c], csv_cell(table[r][c]));
          out.push_back(std::move(row));
        }
        return out;
      }
      if (ext != ".json" && ext != ".yaml" && ext != ".yml") throw ValueError("只支持 .csv、.json、.yaml 或 .yml 文件");
      Value v = ext == ".json" ? parse_json(text) : parse_yaml(text);
      if (!v.is_list()) throw ValueError("内容应为列表，实际为 " + v.type_name());
      rows = std::move(v.as_list());
    } catch (const ValueError& e) {
      throw ValueError(what + " " + path.string() + ": " + e.what());
    }
  } else {
    throw ValueError(p.at(n) + ": parametrize 应为映射列表，或 {file: 数据文件}");
  }
  std::vector<Dict> out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].is_dict())
      throw ValueError(p.at(n) + ": parametrize 第 " + std::to_string(i + 1) + " 行应为映射，实际为 " + rows[i].type_name());
    out.push_back(rows[i].as_dict());
  }
  return out;
}

// What a file with `cases:` gives every case unless the case says otherwise.
struct Defaults {
  const YamlNode *base_url = nullptr, *type = nullptr, *tags = nullptr, *fixtures = nullptr;
  Dict variables;
};

// One case as written, before parametrize makes it several.
std::vector<TestCase> read_case(const YamlNode& n, const Defaults& d, const std::string& default_name,
                                const fs::path& file, const std::string& shown, const Place& p) {
  TestCase tc;
  tc.file = shown;
  tc.name = default_name;
  if (const YamlNode* name = n.find("name"); given(name) && name->is_scalar() && !name->scalar.empty()) tc.name = name->scalar;
  tc.nodeid = shown + "::" + tc.name;
  std::vector<Dict> rows;
  const YamlNode* parametrize = n.find("parametrize");
  try {
    if (!n.is_map()) throw ValueError(p.at(n) + ": 用例应为映射（name、steps 等）");
    check_keys(n, kCaseKeys, "用例", p);
    // the case's own key wins, also when left empty: "base_url: ~" means none for this case
    const auto pick = [&](const char* key, const YamlNode* fallback) {
      const YamlNode* own = n.find(key);
      return own ? own : fallback;
    };
    if (const YamlNode* t = pick("type", d.type); given(t)) {
      tc.marks.kw_type = scalar_text(*t, "type", p);
      tc.marks.kw_type_at = p.at(*t);
    }
    if (const YamlNode* t = pick("tags", d.tags); given(t)) tc.marks.tags = words(*t, "tags", p);
    if (const YamlNode* f = pick("fixtures", d.fixtures); given(f)) tc.marks.fixtures = words(*f, "fixtures", p);
    if (const YamlNode* s = n.find("skip"); given(s)) {
      const Value v = to_value(*s);
      if (v.is_str()) tc.marks.skip = v.as_str().empty() ? std::string("用例标记为跳过") : v.as_str();
      else if (v.is_bool()) {
        if (v.as_bool()) tc.marks.skip = "用例标记为跳过";
      } else throw ValueError(p.at(*s) + ": skip 应为 true 或跳过的原因");
    }
    if (const YamlNode* t = n.find("timeout"); given(t)) {
      const Value v = to_value(*t);
      if (v.is_number() && v.as_float() > 0 && std::isfinite(v.as_float())) tc.marks.timeout = v.as_float();
      else throw ValueError(p.at(*t) + ": timeout 应为大于 0 的秒数，实际为 " + repr(v));
    }
    if (const YamlNode* r = n.find("reruns"); given(r)) {
      const Value v = to_value(*r);
      if (v.is_int() && !v.is_big_int() && v.as_int() >= 0 && v.as_int() <= 1000) tc.marks.reruns = static_cast<int>(v.as_int());
      else throw ValueError(p.at(*r) + ": reruns 应为不小于 0 的整数，实际为 " + repr(v));
    }
    if (const YamlNode* g = n.find("group"); given(g)) {
      const Value v = to_value(*g);
      if (v.is_str() && !strip_space(v.as_str()).empty()) tc.marks.group = std::string(strip_space(v.as_str()));
      else throw ValueError(p.at(*g) + ": group 应为组名（文本），实际为 " + repr(v));
    }
    tc.variables = d.variables;
    if (const YamlNode* v = n.find("variables"); given(v)) tc.variables.update(mapping(*v, "variables", p));
    if (const YamlNode* b = pick("base_url", d.base_url); given(b)) {
      CaseStep step;
      step.file = shown;
      step.row = b->line;
      step.number = "base_url";
      step.keyword = "set_baseurl";
      step.args = {Value(scalar_text(*b, "base_url", p))};
      tc.setup.push_back(std::move(step));
    }
    for (auto& s : read_steps(n.find("setup"), "setup", "前置", shown, p)) tc.setup.push_back(std::move(s));
    tc.steps = read_steps(n.find("steps"), "steps", "", shown, p);
    tc.teardown = read_steps(n.find("teardown"), "teardown", "后置", shown, p);
    if (tc.steps.empty() && !tc.marks.skip) throw ValueError(p.at(n) + ": 用例没有 steps（步骤列表）");
    if (given(parametrize)) rows = parameter_rows(*parametrize, file.parent_path(), p);
  } catch (const std::exception& e) {
    tc.broken = e.what();
  }
  if (!given(parametrize) || tc.broken) return {std::move(tc)};
  if (rows.empty()) {
    tc.marks.skip = "parametrize 没有数据行";
    return {std::move(tc)};
  }
  std::vector<TestCase> out;
  out.reserve(rows.size());
  std::set<std::string> ids;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Value* id = rows[i].find("id");
    const std::string label = id && !id->is_none() ? str(*id) : std::to_string(i + 1);
    TestCase row_case = tc;
    row_case.name = tc.name + "[" + label + "]";
    row_case.nodeid = shown + "::" + row_case.name;
    row_case.variables.update(rows[i]);
    if (!ids.insert(label).second) row_case.broken = p.at(*parametrize) + ": parametrize 的 id 重复: " + label;
    out.push_back(std::move(row_case));
  }
  return out;
}

}  // namespace

std::vector<TestCase> read_yaml_cases(const fs::path& file, const std::string& shown_path) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) throw ValueError("文件 " + shown_path + " 无法读取: " + ec.message());
  if (size > kMaxYamlCaseBytes)
    throw ValueError("文件 " + shown_path + " 有 " + std::to_string(size) + " 字节，超过 YAML 用例文件的上限 " +
                     std::to_string(kMaxYamlCaseBytes) + " 字节（16 MiB）");
  const std::string text = read_text(file, "文件");
  const Place p{shown_path};

  YamlNode root;
  try {
    root = parse_yaml_tree(text);
  } catch (const YamlSyntaxError& e) {
    throw ValueError("文件 " + shown_path + ", 第 " + std::to_string(e.line) + " 行, 第 " + std::to_string(e.column) +
                     " 列: YAML 语法错误: " + e.problem);
  }
  if (root.is_null()) throw ValueError("文件 " + shown_path + " 是空的，没有用例");
  if (!root.is_map()) throw ValueError(p.at(root) + ": 顶层应为映射（一个用例，或 cases: 用例列表）");

  const std::string stem = file.stem().string();
  std::vector<TestCase> cases;
  const YamlNode* list = root.find("cases");
  if (!given(list)) {
    cases = read_case(root, Defaults{}, stem, file, shown_path, p);
  } else {
    Defaults d;
    check_keys(root, kFileKeys, "文件顶层（有 cases 时）", p);
    d.base_url = root.find("base_url");
    d.type = root.find("type");
    d.tags = root.find("tags");
    d.fixtures = root.find("fixtures");
    if (const YamlNode* v = root.find("variables"); given(v)) d.variables = mapping(*v, "variables", p);
    if (!list->is_sequence() || list->items.empty()) throw ValueError(p.at(*list) + ": cases 应为非空的用例列表");
    int k = 0;
    for (const auto& n : list->items)
      for (auto& tc : read_case(n, d, "第 " + std::to_string(++k) + " 个用例", file, shown_path, p)) cases.push_back(std::move(tc));
  }
  std::set<std::string> seen;
  for (auto& tc : cases)
    if (!seen.insert(tc.nodeid).second && !tc.broken) tc.broken = "文件 " + shown_path + ": 用例名称重复: " + tc.name;
  return cases;
}

}  // namespace tovik::runner
