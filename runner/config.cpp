#include "runner/config.hpp"

#include "outside/settings/ini_reader.hpp"
#include "runner/plugin.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

// Splits addopts or testpaths as a POSIX shell would: blanks separate, quotes group, backslash
// escapes. what names the value in the error of an unclosed quote.
std::vector<std::string> shell_split(const std::string& text, const std::string& what) {
  std::vector<std::string> out;
  std::string cur;
  bool in_word = false;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      else if (c == '\\' && quote == '"' && i + 1 < text.size()) cur += text[++i];
      else cur += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == '\\' && i + 1 < text.size()) {
      cur += text[++i];
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) out.push_back(std::move(cur));
      cur.clear();
      in_word = false;
    } else {
      cur += c;
      in_word = true;
    }
  }
  if (quote) throw UsageError(what + " 中的引号没有闭合: " + text);
  if (in_word) out.push_back(std::move(cur));
  return out;
}

// "-o key=value": the value replaces the [pytest] one of that key for this run.
void apply_overrides(Config& c) {
  const Value* overrides = c.options.find("override_ini");
  if (!overrides || !overrides->is_list()) return;
  for (const auto& o : overrides->as_list()) {
    const std::string& kv = o.as_str();
    const auto eq = kv.find('=');
    if (eq == std::string::npos) throw UsageError("-o/--override-ini 的值应为 key=value 的形式，实际为 " + kv);
    const std::string key(strip_space(kv.substr(0, eq)));
    if (key.empty()) throw UsageError("-o/--override-ini 的值缺少键名: " + kv + "（应为 key=value 的形式）");
    bool replaced = false;
    for (auto& [k, v] : c.ini_values)
      if (k == key) {
        v = kv.substr(eq + 1);
        replaced = true;
      }
    if (!replaced) c.ini_values.emplace_back(key, kv.substr(eq + 1));
  }
}

}  // namespace

Value Config::getoption(const std::string& dest) const {
  if (const Value* v = options.find(dest)) return *v;
  throw ValueError("no option named '" + dest + "'");
}

std::string Config::text_option(const std::string& dest) const {
  const Value v = getoption(dest);
  return v.is_none() ? std::string() : str(v);
}

std::int64_t Config::int_option(const std::string& dest) const {
  const Value v = getoption(dest);
  return v.is_int() ? v.as_int() : 0;
}

bool Config::flag_option(const std::string& dest) const { return getoption(dest).truthy(); }

std::string Config::ini(const std::string& key, const std::string& fallback) const {
  for (const auto& [k, v] : ini_values)
    if (k == key) return v;
  return fallback;
}

bool Config::has_ini(const std::string& key) const {
  for (const auto& [k, v] : ini_values)
    if (k == key) return true;
  return false;
}

void load_config(Config& c, const std::vector<std::string>& args) {
  c.rootdir = fs::current_path();
  if (fs::exists("pytest.ini")) {
    c.inifile = c.rootdir / "pytest.ini";
    try {
      c.ini_values = settings::read_ini_section("pytest.ini", "pytest");
    } catch (const std::exception& e) {
      throw UsageError(std::string("pytest.ini 无法读取: ") + e.what());
    }
  }
  for (Plugin* p : c.plugins) p->add_options(c.parser);

  std::vector<std::string> all = shell_split(c.ini("addopts"), "pytest.ini 的 addopts");
  all.insert(all.end(), args.begin(), args.end());
  auto parsed = c.parser.parse(all);
  c.args = all;
  c.given = args;
  c.options = std::move(parsed.values);
  if (c.options.contains("tovik_worker")) c.worker = static_cast<int>(c.int_option("tovik_worker"));
  apply_overrides(c);
  c.paths = parsed.paths;
  if (c.paths.empty()) {
    c.paths = shell_split(c.ini("testpaths"), "testpaths");
    if (c.paths.empty()) c.paths.push_back(".");
  }
  for (Plugin* p : c.plugins) p->configure(c);
}

}  // namespace tovik::runner
