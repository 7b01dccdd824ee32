// Checks of the CI recipes of examples/ci, which no CI service can run here. The GitHub and GitLab
// files are read as YAML and the Jenkinsfile by Groovy's parser; the shell steps are checked by
// the shell and run with stand-ins for tovik, apt-get, npm and allure. Every `tovik run` of a
// recipe must use options the real program lists, split the suite into shards that cover all of
// it, fail the build on failed cases, and leave results, JUnit XML and one allure report with the
// previous history where the CI publishes them, also when cases failed.
#include <fnmatch.h>

#include <map>
#include <optional>
#include <regex>
#include <set>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "support/base/yaml_tree.hpp"
#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::IsEmpty;
using tovik::YamlNode;
using tovik::e2e::Child;
using tovik::e2e::Env;
using tovik::e2e::Finished;
using tovik::e2e::program_path;
using tovik::e2e::read_file;
using tovik::e2e::write_file;

const fs::path kRecipes = fs::path(TOVIK_SOURCE_DIR) / "examples/ci";
const fs::path kJenkinsCalls = fs::path(TOVIK_SOURCE_DIR) / "tests/recipes/jenkinsfile_calls.groovy";
constexpr auto npos = std::string::npos;

bool starts_with(const std::string& s, const std::string& p) { return s.rfind(p, 0) == 0; }
bool ends_with(const std::string& s, const std::string& p) {
  return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}
std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  return b == npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

class TempDir {
 public:
  TempDir() {
    std::string t = (fs::temp_directory_path() / "tovik-recipes-XXXXXX").string();
    if (!::mkdtemp(t.data())) throw std::runtime_error("mkdtemp failed");
    path = t;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  fs::path path;
};

Finished run(const std::vector<std::string>& argv, const fs::path& cwd, const Env& env = {}) {
  Child child(argv, cwd, env);
  return child.wait(60s);
}

// ---------------------------------------------------------------------------------------------
// The recipes as scripts

// The values a CI variable takes in a script: a matrix axis, the parallel index, a number of
// the pipeline's environment.
using Vars = std::map<std::string, std::vector<int>>;

struct Script {
  std::string where;               // for messages: file, job or line
  std::string text;                // as written, CI expressions (${{ ... }}) still in it
  std::vector<std::string> shell;  // how the CI starts it, the script following
  Vars vars;
  std::string job;                 // the YAML job it belongs to
  std::string part;                // GitLab: before_script, script, after_script
  std::size_t step = 0;            // GitHub: its step's index
};

// A script of its own, for looking at a text or trying the checks on made-up recipes.
Script script_of(const std::string& text, Vars vars = {}) { return {"sample", text, {"sh", "-e"}, std::move(vars), "", "", 0}; }

struct Recipe {
  std::string file;
  std::string error;  // why it could not be read
  std::string skip;   // why it is not checked here
  YamlNode yaml;
  json calls;         // the Jenkinsfile's calls (jenkinsfile_calls.groovy)
  std::vector<Script> scripts;
};

std::string scalar(const YamlNode* n) { return n && n->is_scalar() ? n->scalar : ""; }

const YamlNode* at(const YamlNode& n, std::initializer_list<const char*> keys) {
  const YamlNode* cur = &n;
  for (const char* k : keys)
    if (!cur || !(cur = cur->find(k))) return nullptr;
  return cur;
}

std::optional<int> number(const std::string& s) {
  if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != npos) return std::nullopt;
  return std::stoi(s);
}

std::vector<int> numbers_of(const YamlNode* n) {
  std::vector<int> out;
  if (!n || !n->is_sequence()) return out;
  for (const auto& item : n->items)
    if (auto v = number(scalar(&item))) out.push_back(*v);
  return out;
}

// A script given as a string or as a list of them (nested lists flattened, as GitLab does).
void lines_of(const YamlNode& n, std::string& out) {
  if (n.is_scalar()) out += n.scalar + "\n";
  for (const auto& item : n.items) lines_of(item, out);
}

std::vector<std::string> strings_of(const YamlNode* n) {
  std::vector<std::string> out;
  if (n && n->is_scalar()) out.push_back(n->scalar);
  if (n && n->is_sequence())
    for (const auto& item : n->items) out.push_back(scalar(&item));
  return out;
}

// A job's matrix: each axis, strategy.job-total and the 0-based strategy.job-index.
Vars github_vars(const YamlNode& job) {
  Vars vars;
  int total = 1;
  bool counted = true;
  if (const YamlNode* matrix = at(job, {"strategy", "matrix"}); matrix && matrix->is_map()) {
    for (const auto& [key, axis] : matrix->entries) {
      if (key.scalar == "include" || key.scalar == "exclude" || !axis.is_sequence()) {
        counted = false;  // the number of jobs is no longer the product of the axes
        continue;
      }
      total *= static_cast<int>(axis.items.size());
      const auto values = numbers_of(&axis);
      if (values.size() == axis.items.size()) vars["matrix." + key.scalar] = values;
    }
  }
  if (counted) {
    vars["strategy.job-total"] = {total};
    for (int i = 0; i < total; ++i) vars["strategy.job-index"].push_back(i);
  }
  return vars;
}

Recipe load_github(Recipe r) {
  const YamlNode* jobs = r.yaml.find("jobs");
  if (!jobs || !jobs->is_map()) return r;
  const std::string workflow_shell = scalar(at(r.yaml, {"defaults", "run", "shell"}));
  for (const auto& [name, job] : jobs->entries) {
    const Vars vars = github_vars(job);
    std::string job_shell = scalar(at(job, {"defaults", "run", "shell"}));
    if (job_shell.empty()) job_shell = workflow_shell;
    const YamlNode* steps = job.find("steps");
    if (!steps) continue;
    for (std::size_t i = 0; i < steps->items.size(); ++i) {
      const YamlNode& step = steps->items[i];
      const YamlNode* text = step.find("run");
      if (!text) continue;
      std::string shell = scalar(step.find("shell"));
      if (shell.empty()) shell = job_shell;
      std::vector<std::string> argv;
      if (shell.empty()) argv = {"bash", "-e"};
      else if (shell == "bash") argv = {"bash", "--noprofile", "--norc", "-eo", "pipefail"};
      else if (shell == "sh") argv = {"sh", "-e"};
      else continue;  // python3 {0} and the like: no shell script
      const std::string label = scalar(step.find("name")).empty() ? "#" + std::to_string(i + 1) : scalar(step.find("name"));
      r.scripts.push_back({r.file + " job " + name.scalar + " step '" + label + "'", scalar(text), argv, vars,
                           name.scalar, "run", i});
    }
  }
  return r;
}

const std::set<std::string> kGitLabKeywords = {"stages", "variables", "default", "include", "workflow",
                                               "image", "services", "cache", "before_script", "after_script"};

// A key of a GitLab job, also from the jobs it extends.
const YamlNode* gitlab_key(const YamlNode& root, const YamlNode& job, const std::string& key, int depth = 0) {
  if (const YamlNode* v = job.find(key)) return v;
  if (depth > 10) return nullptr;
  for (const auto& base : strings_of(job.find("extends")))
    if (const YamlNode* b = root.find(base); b && b->is_map())
      if (const YamlNode* v = gitlab_key(root, *b, key, depth + 1)) return v;
  return nullptr;
}

Recipe load_gitlab(Recipe r) {
  if (!r.yaml.is_map()) return r;
  for (const auto& [name, job] : r.yaml.entries) {
    if (!job.is_map() || (kGitLabKeywords.count(name.scalar) && name.scalar != "default")) continue;
    Vars vars;
    if (auto n = number(scalar(gitlab_key(r.yaml, job, "parallel"))); n && *n > 0) {
      vars["CI_NODE_TOTAL"] = {*n};
      for (int i = 1; i <= *n; ++i) vars["CI_NODE_INDEX"].push_back(i);
    }
    for (const char* part : {"before_script", "script", "after_script"}) {
      const YamlNode* lines = job.find(part);
      if (!lines) continue;
      Script s{r.file + " job " + name.scalar + " " + part, "", {"bash", "-e"}, vars, name.scalar, part, 0};
      lines_of(*lines, s.text);
      r.scripts.push_back(std::move(s));
    }
  }
  return r;
}

bool inside(const json& call, const std::string& name) {
  for (const auto& p : call["path"])
    if (p["name"] == name) return true;
  return false;
}

// The text of a call's first string argument, or of its named argument key.
std::string argument(const json& call, const std::string& key) {
  if (call["named"].contains(key)) return call["named"][key].get<std::string>();
  return call["strings"].empty() ? "" : call["strings"][0].get<std::string>();
}

Recipe load_jenkins(Recipe r) {
  const std::string groovy = program_path("groovy");
  if (groovy.empty()) {
    r.skip = "groovy is not installed (Debian package groovy, see scripts/setup): the Jenkinsfile is not checked";
    return r;
  }
  TempDir tmp;
  const Finished f = run({groovy, kJenkinsCalls.string(), (kRecipes / r.file).string()}, tmp.path);
  if (f.status != 0) {
    r.error = "groovy cannot compile " + r.file + ":\n" + f.all();
    return r;
  }
  r.calls = json::parse(f.out);
  Vars environment, axes;
  for (const auto& c : r.calls) {
    if (c["kind"] == "assign" && inside(c, "environment") && !c["strings"].empty())
      if (auto n = number(c["strings"][0].get<std::string>())) environment[c["name"].get<std::string>()] = {*n};
    // an axis is the name and the values called in the same axis block
    if (c["kind"] == "call" && c["name"] == "name" && !c["path"].empty() && c["path"].back()["name"] == "axis")
      for (const auto& v : r.calls)
        if (v["name"] == "values" && v["path"] == c["path"]) {
          auto& values = axes[argument(c, "")];
          for (const auto& s : v["strings"])
            if (auto n = number(s.get<std::string>())) values.push_back(*n);
        }
  }
  for (const auto& c : r.calls) {
    if (c["kind"] != "call" || c["name"] != "sh") continue;
    Vars vars = environment;
    if (inside(c, "matrix")) vars.insert(axes.begin(), axes.end());
    r.scripts.push_back({r.file + " line " + std::to_string(c["line"].get<int>()), argument(c, "script"),
                         {"sh", "-e"}, vars, "", "sh", 0});
  }
  return r;
}

const Recipe& recipe(const std::string& file) {
  static std::map<std::string, Recipe> loaded;
  if (auto it = loaded.find(file); it != loaded.end()) return it->second;
  Recipe r;
  r.file = file;
  if (file == "Jenkinsfile") {
    r = load_jenkins(std::move(r));
  } else {
    try {
      r.yaml = tovik::parse_yaml_tree(read_file(kRecipes / file));
      r = file == "github-actions.yml" ? load_github(std::move(r)) : load_gitlab(std::move(r));
    } catch (const tovik::YamlSyntaxError& e) {
      r.error = file + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.problem;
    }
  }
  return loaded.emplace(file, std::move(r)).first->second;
}

// ---------------------------------------------------------------------------------------------
// Shell words and the tovik command lines

// Appends the ${...}, ${{ ... }} or $(...) that starts at t[i] to word; the index after it.
std::size_t take_expansion(const std::string& t, std::size_t i, std::string& word) {
  const char open = t[i + 1], close = open == '{' ? '}' : ')';
  int depth = 0;
  std::size_t j = i + 1;
  for (; j < t.size(); ++j) {
    if (t[j] == open) ++depth;
    if (t[j] == close && --depth == 0) break;
  }
  word.append(t, i, j + 1 - i);
  return j + 1;
}

// The simple commands of a shell script as words with the quotes taken off; expansions and CI
// expressions stay as written, each inside its word. Comments are left out, backslash-newlines
// join lines. Enough to find command lines: the shell itself judges the syntax.
std::vector<std::vector<std::string>> simple_commands(const std::string& t) {
  std::vector<std::vector<std::string>> out;
  std::vector<std::string> cmd;
  std::string word;
  bool in_word = false;
  auto end_word = [&] {
    if (in_word) cmd.push_back(word);
    word.clear();
    in_word = false;
  };
  auto end_command = [&] {
    end_word();
    if (!cmd.empty()) out.push_back(cmd);
    cmd.clear();
  };
  auto expansion_at = [&](std::size_t i) { return t[i] == '$' && i + 1 < t.size() && (t[i + 1] == '{' || t[i + 1] == '('); };
  for (std::size_t i = 0; i < t.size();) {
    const char c = t[i];
    if (c == '\\' && i + 1 < t.size()) {
      if (t[i + 1] != '\n') word += t[i + 1], in_word = true;
      i += 2;
    } else if (std::string("\n;&|()").find(c) != npos) {
      end_command();
      ++i;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      end_word();
      ++i;
    } else if (c == '#' && !in_word) {
      i = t.find('\n', i);
      if (i == npos) i = t.size();
    } else if (c == '\'') {
      const auto e = std::min(t.find('\'', i + 1), t.size());
      word.append(t, i + 1, e - i - 1);
      in_word = true;
      i = e + 1;
    } else if (c == '"') {
      in_word = true;
      for (++i; i < t.size() && t[i] != '"';) {
        if (t[i] == '\\' && i + 1 < t.size()) word += t[i + 1], i += 2;
        else if (expansion_at(i)) i = take_expansion(t, i, word);
        else word += t[i++];
      }
      ++i;
    } else if (expansion_at(i)) {
      in_word = true;
      i = take_expansion(t, i, word);
    } else {
      word += c;
      in_word = true;
      ++i;
    }
  }
  end_command();
  return out;
}

struct Command {
  std::string where;
  std::string program;  // "tovik run", "tovik report", "allure generate"
  std::vector<std::string> args;
};

// The command lines of a script that run `first second ...` (first also as a path).
std::vector<Command> commands(const Script& s, const std::string& first, const std::set<std::string>& second) {
  std::vector<Command> out;
  for (const auto& words : simple_commands(s.text))
    for (std::size_t k = 0; k + 1 < words.size(); ++k)
      if ((words[k] == first || ends_with(words[k], "/" + first)) && second.count(words[k + 1])) {
        out.push_back({s.where, first + " " + words[k + 1], {words.begin() + static_cast<long>(k) + 2, words.end()}});
        break;
      }
  return out;
}
std::vector<Command> tovik_runs(const Script& s) { return commands(s, "tovik", {"run"}); }

// ---------------------------------------------------------------------------------------------
// Options

struct Option {
  std::string name;  // the first long name: --junitxml for --junit-xml too
  bool takes_value = false;
};
using Options = std::map<std::string, Option>;

// The options of a help text, from lines such as "  -n N, --numprocesses=N   ..." and
// "  -h,--help   ...".
Options parse_help(const std::string& help) {
  Options out;
  std::istringstream in(help);
  for (std::string line; std::getline(in, line);) {
    const auto start = line.find_first_not_of(' ');
    if (start == npos || line[start] != '-') continue;
    const auto gap = line.find("  ", start);
    std::stringstream flags(line.substr(start, gap == npos ? npos : gap - start));
    std::vector<Option> names;
    for (std::string piece; std::getline(flags, piece, ',');) {
      piece = trim(piece);
      const auto end = piece.find_first_of("= ");
      names.push_back({piece.substr(0, end), end != npos});
    }
    std::string canonical = names.front().name;
    for (const auto& n : names)
      if (starts_with(n.name, "--")) {
        canonical = n.name;
        break;
      }
    for (const auto& n : names) out[n.name] = {canonical, n.takes_value};
  }
  return out;
}

// What `tovik run -h` lists, read from the program once.
const Options& run_options() {
  static const Options options = [] {
    TempDir tmp;  // tovik writes a pytest.ini where it starts
    const Finished f = run({TOVIK_BIN, "run", "-h"}, tmp.path, {{"COLUMNS", "200"}, {"NO_COLOR", "1"}});
    if (f.status != 0) throw std::runtime_error("tovik run -h failed:\n" + f.all());
    return parse_help(f.out);
  }();
  return options;
}

// `tovik report` takes its own options and those of the run whose results it reports.
const Options& report_options() {
  static const Options options = [] {
    TempDir tmp;
    const Finished f = run({TOVIK_BIN, "report", "-h"}, tmp.path, {{"COLUMNS", "200"}, {"NO_COLOR", "1"}});
    if (f.status != 0) throw std::runtime_error("tovik report -h failed:\n" + f.all());
    Options all = run_options();
    for (const auto& [k, v] : parse_help(f.out)) all[k] = v;
    return all;
  }();
  return options;
}

struct Parsed {
  std::multimap<std::string, std::string> options;  // by the option's first long name
  std::vector<std::string> problems;
};

Parsed parse_command(const Command& c, const Options& known) {
  Parsed p;
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    const std::string& w = c.args[i];
    if (w.size() < 2 || w[0] != '-') continue;  // a path
    std::string name = w, value;
    bool attached = false;
    if (starts_with(w, "--")) {
      if (const auto eq = w.find('='); eq != npos) name = w.substr(0, eq), value = w.substr(eq + 1), attached = true;
    } else if (w.size() > 2) {
      if (auto it = known.find(w.substr(0, 2)); it != known.end() && it->second.takes_value)
        name = w.substr(0, 2), value = w.substr(2), attached = true;
    }
    const auto it = known.find(name);
    if (it == known.end()) {
      p.problems.push_back(c.where + ": `" + c.program + "` has no option " + name);
      continue;
    }
    if (it->second.takes_value && !attached) {
      if (i + 1 == c.args.size()) {
        p.problems.push_back(c.where + ": " + name + " of `" + c.program + "` needs a value");
        continue;
      }
      value = c.args[++i];
    } else if (!it->second.takes_value && attached) {
      p.problems.push_back(c.where + ": " + name + " of `" + c.program + "` takes no value");
    }
    p.options.emplace(it->second.name, value);
  }
  return p;
}

std::string option(const Parsed& p, const std::string& name) {
  const auto it = p.options.find(name);
  return it == p.options.end() ? "" : it->second;
}

// Problems of the tovik command lines: options the program does not have, values missing, and
// runs that leave out the allure results or the JUnit XML the CI needs.
std::vector<std::string> option_problems(const std::vector<Script>& scripts) {
  std::vector<std::string> problems;
  int runs = 0;
  for (const auto& s : scripts) {
    for (const auto& c : tovik_runs(s)) {
      ++runs;
      const Parsed p = parse_command(c, run_options());
      problems.insert(problems.end(), p.problems.begin(), p.problems.end());
      for (const char* needed : {"--alluredir", "--junitxml"})
        if (!p.options.count(needed)) problems.push_back(c.where + ": `tovik run` without " + needed);
    }
    for (const auto& c : commands(s, "tovik", {"report"})) {
      const Parsed p = parse_command(c, report_options());
      problems.insert(problems.end(), p.problems.begin(), p.problems.end());
    }
  }
  if (runs == 0) problems.push_back("no `tovik run` command line");
  return problems;
}

// ---------------------------------------------------------------------------------------------
// Shards

// The values one side of --shard I/N takes: a number, or a variable the recipe gives values.
std::optional<std::vector<int>> side_values(const std::string& side, const Vars& vars) {
  if (auto n = number(side)) return std::vector<int>{*n};
  static const std::regex ref(R"(\$\{\{\s*([\w.-]+)\s*\}\}|\$\{(?:env\.)?(\w+)\}|\$(\w+))");
  std::smatch m;
  if (!std::regex_match(side, m, ref)) return std::nullopt;
  const std::string name = m[1].matched ? m[1].str() : m[2].matched ? m[2].str() : m[3].str();
  const auto it = vars.find(name);
  if (it == vars.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

// Problems of the shard values: not of the form I/N, I outside 1..N, and stretches that no job
// runs, so that part of the suite would never run.
std::vector<std::string> shard_problems(const std::vector<Script>& scripts) {
  std::vector<std::string> problems;
  std::map<int, std::set<int>> runs;  // N -> the I that run
  for (const auto& s : scripts)
    for (const auto& c : tovik_runs(s)) {
      const Parsed p = parse_command(c, run_options());
      const auto shards = p.options.equal_range("--shard");
      if (shards.first == shards.second) problems.push_back(c.where + ": `tovik run` without --shard");
      for (auto it = shards.first; it != shards.second; ++it) {
        const std::string& value = it->second;
        const auto slash = value.find('/');
        const auto is = slash == npos ? std::nullopt : side_values(value.substr(0, slash), s.vars);
        const auto ns = slash == npos ? std::nullopt : side_values(value.substr(slash + 1), s.vars);
        if (!is || !ns) {
          problems.push_back(c.where + ": --shard " + value + " is not I/N of numbers or of variables the recipe gives");
          continue;
        }
        if (ns->size() != 1 || ns->front() < 1) {
          problems.push_back(c.where + ": the N of --shard " + value + " is not one number of at least 1");
          continue;
        }
        const int n = ns->front();
        for (int i : *is) {
          if (i < 1 || i > n)
            problems.push_back(c.where + ": --shard " + value + " runs shard " + std::to_string(i) + " of " +
                               std::to_string(n));
          runs[n].insert(i);
        }
      }
    }
  bool split = false;
  for (const auto& [n, is] : runs) {
    split = split || n > 1;
    for (int i = 1; i <= n; ++i)
      if (!is.count(i)) problems.push_back("no job runs shard " + std::to_string(i) + " of " + std::to_string(n));
  }
  if (!split) problems.push_back("no `tovik run` splits the suite into shards");
  return problems;
}

// ---------------------------------------------------------------------------------------------
// Running scripts

// text with its variables replaced by their pick-th value, as for the pick-th shard: CI
// expressions always (the CI replaces them before the shell starts; unknown ones become x), shell
// variables too when shell_vars is set.
std::string expand(const std::string& text, const Vars& vars, std::size_t pick, bool shell_vars) {
  static const std::regex ref(R"(\$\{\{\s*([^}\s]+)\s*\}\}|\$\{(?:env\.)?(\w+)\}|\$(\w+))");
  std::string out;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), ref), end; it != end; ++it) {
    const std::smatch& m = *it;
    out.append(last, m[0].first);
    last = m[0].second;
    const bool ci = m[1].matched;
    const std::string name = ci ? m[1].str() : m[2].matched ? m[2].str() : m[3].str();
    const auto v = vars.find(name);
    if (v != vars.end() && !v->second.empty() && (ci || shell_vars))
      out += std::to_string(v->second[std::min(pick, v->second.size() - 1)]);
    else
      out += ci ? "x" : m[0].str();
  }
  out.append(last, text.cend());
  return out;
}

// How many shards a script's variables make (the most values any variable takes).
std::size_t shard_count(const Vars& vars) {
  std::size_t n = 1;
  for (const auto& [k, v] : vars) n = std::max(n, v.size());
  return n;
}

// The shell's variables for the pick-th shard; CI expressions are not among them.
Env env_of(const Vars& vars, std::size_t pick) {
  static const std::regex name(R"([A-Za-z_]\w*)");
  Env env;
  for (const auto& [k, v] : vars)
    if (std::regex_match(k, name) && !v.empty()) env.emplace_back(k, std::to_string(v[std::min(pick, v.size() - 1)]));
  return env;
}

std::vector<std::string> shell_argv(const Script& s, const std::string& text) {
  std::vector<std::string> argv = s.shell;
  argv[0] = program_path(argv[0]);
  argv.push_back("-c");
  argv.push_back(text);
  return argv;
}

void stub(const fs::path& dir, const std::string& name, const std::string& body) {
  write_file(dir / name, "#!/bin/sh\n" + body);
  fs::permissions(dir / name, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// A folder with stand-ins for what the scripts install and run: each writes its name and
// arguments to $STUB_LOG. tovik ends with $STUB_STATUS; allure generate writes a report whose
// history says "new", after noting which of its inputs held a history and what it said.
class Stubs {
 public:
  Stubs() {
    const fs::path bin = dir.path / "bin";
    fs::create_directories(bin);
    const std::string log = "echo \"$(basename \"$0\") $*\" >> \"$STUB_LOG\"\n";
    for (const char* name : {"apt-get", "npm", "curl", "dpkg"}) stub(bin, name, log);
    stub(bin, "sudo", log + "exec \"$@\"\n");
    stub(bin, "tovik", log + "exit \"${STUB_STATUS:-0}\"\n");
    stub(bin, "allure", log +
                            "[ \"$1\" = generate ] || exit 0\n"
                            "shift\n"
                            "out=allure-report\n"
                            "while [ $# -gt 0 ]; do\n"
                            "  case \"$1\" in\n"
                            "    -o|--report-dir) out=\"$2\"; shift 2 ;;\n"
                            "    -c|--clean) shift ;;\n"
                            "    *) echo \"input $1\" >> \"$STUB_LOG\"\n"
                            "       if [ -f \"$1/history/history-trend.json\" ]; then\n"
                            "         echo \"history $1 $(cat \"$1/history/history-trend.json\")\" >> \"$STUB_LOG\"\n"
                            "       fi\n"
                            "       shift ;;\n"
                            "  esac\n"
                            "done\n"
                            "mkdir -p \"$out/history\"\n"
                            "echo new > \"$out/history/history-trend.json\"\n");
  }

  // Runs the script in work for the pick-th shard, with the stand-ins first on PATH.
  Finished run_script(const Script& s, const fs::path& work, std::size_t pick, const Env& extra = {}) const {
    Env env = env_of(s.vars, pick);
    const char* path = std::getenv("PATH");
    env.emplace_back("PATH", (dir.path / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"));
    env.emplace_back("HOME", (dir.path / "home").string());
    env.emplace_back("STUB_LOG", log().string());
    env.insert(env.end(), extra.begin(), extra.end());
    return run(shell_argv(s, expand(s.text, s.vars, pick, false)), work, env);
  }

  fs::path log() const { return dir.path / "stub.log"; }
  // The lines of the log that start with prefix.
  std::vector<std::string> logged(const std::string& prefix) const {
    std::vector<std::string> out;
    std::istringstream in(read_file(log()));
    for (std::string line; std::getline(in, line);)
      if (starts_with(line, prefix)) out.push_back(line);
    return out;
  }

  TempDir dir;
};

std::string problems_text(const std::vector<std::string>& problems) {
  std::string out;
  for (const auto& p : problems) out += "\n  " + p;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Where each CI keeps things

// Whether an artifact or stash pattern (a glob; a folder takes in what is below it) takes in path.
bool covers(std::string pattern, const std::string& path) {
  if (ends_with(pattern, "/**")) pattern.resize(pattern.size() - 3);
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  for (auto slash = path.find('/');; slash = path.find('/', slash + 1)) {
    if (::fnmatch(pattern.c_str(), path.substr(0, slash).c_str(), FNM_PATHNAME) == 0) return true;
    if (slash == npos) return false;
  }
}

bool covered_by_any(const std::vector<std::string>& patterns, const std::string& path) {
  return std::any_of(patterns.begin(), patterns.end(), [&](const auto& p) { return covers(p, path); });
}

// The option of the first `tovik run` in the scripts, with the script it is in.
std::pair<const Script*, std::string> run_option(const Recipe& r, const std::string& name) {
  for (const auto& s : r.scripts)
    for (const auto& c : tovik_runs(s)) return {&s, option(parse_command(c, run_options()), name)};
  return {nullptr, ""};
}

// The report side of a recipe: the scripts that make the report (in the order they run), where
// each shard's allure results and the previous report's history are when they start, and where
// the new history must be for the next build to find it.
struct ReportJob {
  std::vector<Script> scripts;
  std::vector<std::string> shard_results;
  std::string history_in, history_out;
  std::string problem;
};

std::vector<std::string> yaml_needs(const YamlNode& job) {
  std::vector<std::string> out;
  if (const YamlNode* needs = job.find("needs")) {
    if (needs->is_scalar()) out.push_back(needs->scalar);
    for (const auto& n : needs->items) out.push_back(n.is_map() ? scalar(n.find("job")) : scalar(&n));
  }
  return out;
}

// The YAML job that needs the job running the cases.
const YamlNode* report_job_of(const YamlNode& jobs, const std::string& shard_job, std::string& name) {
  for (const auto& [key, job] : jobs.entries) {
    const auto needs = job.is_map() ? yaml_needs(job) : std::vector<std::string>{};
    if (std::find(needs.begin(), needs.end(), shard_job) != needs.end()) {
      name = key.scalar;
      return &job;
    }
  }
  return nullptr;
}

const YamlNode* step_using(const YamlNode& job, const std::string& action, std::size_t from = 0) {
  if (const YamlNode* steps = job.find("steps"))
    for (std::size_t i = from; i < steps->items.size(); ++i)
      if (starts_with(scalar(steps->items[i].find("uses")), action + "@")) return &steps->items[i];
  return nullptr;
}

ReportJob github_report(const Recipe& r) {
  ReportJob out;
  const auto [shard_script, alluredir] = run_option(r, "--alluredir");
  const YamlNode* jobs = r.yaml.find("jobs");
  std::string name;
  const YamlNode* report = shard_script && jobs ? report_job_of(*jobs, shard_script->job, name) : nullptr;
  const YamlNode* upload =
      shard_script ? step_using(*jobs->find(shard_script->job), "actions/upload-artifact", shard_script->step) : nullptr;
  const YamlNode* download = report ? step_using(*report, "actions/download-artifact") : nullptr;
  const YamlNode* restore = report ? step_using(*report, "actions/cache/restore") : nullptr;
  const YamlNode* save = report ? step_using(*report, "actions/cache/save") : nullptr;
  if (!report || !upload || !download || !restore || !save) {
    out.problem =
        "wanted: a job uploading the shard's results, and a job needing it that downloads them and restores and "
        "saves the history";
    return out;
  }
  // download-artifact puts each artifact into a folder of its name below its path
  const std::string into = scalar(at(*download, {"with", "path"})).empty() ? "." : scalar(at(*download, {"with", "path"}));
  for (std::size_t i = 0; i < shard_count(shard_script->vars); ++i)
    out.shard_results.push_back(into + "/" + expand(scalar(at(*upload, {"with", "name"})), shard_script->vars, i, true) + "/" +
                                expand(alluredir, shard_script->vars, i, true));
  out.history_in = scalar(at(*restore, {"with", "path"}));
  out.history_out = scalar(at(*save, {"with", "path"}));
  for (const auto& s : r.scripts)
    if (s.job == name) out.scripts.push_back(s);
  return out;
}

ReportJob gitlab_report(const Recipe& r) {
  ReportJob out;
  const auto [shard_script, alluredir] = run_option(r, "--alluredir");
  std::string name;
  const YamlNode* report = shard_script ? report_job_of(r.yaml, shard_script->job, name) : nullptr;
  const auto cache = report ? strings_of(at(*report, {"cache", "paths"})) : std::vector<std::string>{};
  if (!report || cache.empty()) {
    out.problem = "wanted: a job needing the shard job, with a cache for the history";
    return out;
  }
  // the artifacts of every shard job keep their paths
  for (std::size_t i = 0; i < shard_count(shard_script->vars); ++i)
    out.shard_results.push_back(expand(alluredir, shard_script->vars, i, true));
  out.history_in = out.history_out = cache.front();
  // GitLab runs before_script and script in one shell
  Script whole;
  for (const auto& s : r.scripts)
    if (s.job == name && s.part != "after_script") {
      whole.where = s.where;
      whole.shell = s.shell;
      whole.vars = s.vars;
      whole.job = s.job;
      whole.text += s.text;
    }
  if (!whole.text.empty()) out.scripts.push_back(whole);
  return out;
}

const json* jenkins_call(const Recipe& r, const std::string& name) {
  for (const auto& c : r.calls)
    if (c["kind"] == "call" && c["name"] == name) return &c;
  return nullptr;
}

ReportJob jenkins_report(const Recipe& r) {
  ReportJob out;
  const auto [shard_script, alluredir] = run_option(r, "--alluredir");
  const json* copy = jenkins_call(r, "copyArtifacts");
  if (!shard_script || !copy) {
    out.problem = "wanted: copyArtifacts bringing the previous report's history";
    return out;
  }
  // stash and unstash keep the paths of the shard's workspace
  for (std::size_t i = 0; i < shard_count(shard_script->vars); ++i)
    out.shard_results.push_back(expand(alluredir, shard_script->vars, i, true));
  std::string filter = argument(*copy, "filter");
  if (ends_with(filter, "/**")) filter.resize(filter.size() - 3);
  const std::string target = copy->at("named").value("target", "");
  out.history_in = target.empty() ? filter : target + "/" + filter;
  for (const auto& s : r.scripts)
    if (!commands(s, "allure", {"generate"}).empty()) out.scripts.push_back(s);
  return out;
}

ReportJob report_job(const Recipe& r) {
  if (r.file == "github-actions.yml") return github_report(r);
  if (r.file == "gitlab-ci.yml") return gitlab_report(r);
  return jenkins_report(r);
}

// The -o folder of the recipe's `allure generate`.
std::string report_dir(const Recipe& r) {
  for (const auto& s : r.scripts)
    for (const auto& c : commands(s, "allure", {"generate"}))
      for (std::size_t i = 0; i + 1 < c.args.size(); ++i)
        if (c.args[i] == "-o" || c.args[i] == "--report-dir") return c.args[i + 1];
  return "";
}

// ---------------------------------------------------------------------------------------------
// The checks every recipe gets

class EveryRecipe : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    r_ = &recipe(GetParam());
    if (!r_->skip.empty()) GTEST_SKIP() << r_->skip;
    ASSERT_EQ(r_->error, "") << "the recipe does not parse";
  }
  const Recipe& r() const { return *r_; }

 private:
  const Recipe* r_ = nullptr;
};

std::vector<std::string> github_shape(const YamlNode& root) {
  std::vector<std::string> problems;
  if (!root.find("on")) problems.push_back("no `on:` (the events that start the workflow)");
  const YamlNode* jobs = root.find("jobs");
  if (!jobs || !jobs->is_map() || jobs->entries.empty()) return {"no jobs"};
  for (const auto& [name, job] : jobs->entries) {
    if (!job.find("runs-on")) problems.push_back("job " + name.scalar + " has no runs-on");
    for (const auto& need : yaml_needs(job))
      if (!jobs->find(need)) problems.push_back("job " + name.scalar + " needs a job " + need + " that is not there");
    const YamlNode* steps = job.find("steps");
    if (!steps || !steps->is_sequence() || steps->items.empty()) {
      problems.push_back("job " + name.scalar + " has no steps");
      continue;
    }
    for (const auto& step : steps->items)
      if (!step.is_map() || (step.find("uses") != nullptr) == (step.find("run") != nullptr))
        problems.push_back("job " + name.scalar + ": a step at line " + std::to_string(step.line) +
                           " has not exactly one of uses and run");
  }
  return problems;
}

std::vector<std::string> gitlab_shape(const YamlNode& root) {
  std::vector<std::string> problems;
  const auto stages = strings_of(root.find("stages"));
  int jobs = 0;
  for (const auto& [name, job] : root.entries) {
    if (!job.is_map() || kGitLabKeywords.count(name.scalar) || starts_with(name.scalar, ".")) continue;
    ++jobs;
    if (!gitlab_key(root, job, "script")) problems.push_back("job " + name.scalar + " has no script");
    std::string stage = scalar(gitlab_key(root, job, "stage"));
    if (stage.empty()) stage = "test";
    if (std::find(stages.begin(), stages.end(), stage) == stages.end())
      problems.push_back("job " + name.scalar + " is in stage " + stage + ", which `stages` does not list");
    for (const auto& need : yaml_needs(job))
      if (!root.find(need)) problems.push_back("job " + name.scalar + " needs a job " + need + " that is not there");
  }
  if (jobs == 0) problems.push_back("no jobs");
  return problems;
}

TEST_P(EveryRecipe, ParsesAsItsCiReadsIt) {
  std::vector<std::string> problems;
  if (r().file == "github-actions.yml") problems = github_shape(r().yaml);
  if (r().file == "gitlab-ci.yml") problems = gitlab_shape(r().yaml);
  if (r().file == "Jenkinsfile" && !jenkins_call(r(), "pipeline")) problems.push_back("no pipeline block");
  EXPECT_THAT(problems, IsEmpty());
  EXPECT_FALSE(r().scripts.empty()) << "no shell steps found";
}

TEST_P(EveryRecipe, ShellStepsParse) {
  TempDir work;
  for (const auto& s : r().scripts) {
    std::vector<std::string> argv = shell_argv(s, expand(s.text, s.vars, 0, false));
    argv.insert(argv.end() - 2, "-n");  // read, do not run (after bash's long options)
    const Finished f = run(argv, work.path);
    EXPECT_EQ(f.status, 0) << s.where << ":\n" << f.all() << "\n--- script ---\n" << s.text;
  }
}

TEST_P(EveryRecipe, TovikRunUsesOptionsTheProgramHas) {
  const auto problems = option_problems(r().scripts);
  EXPECT_TRUE(problems.empty()) << problems_text(problems);
}

TEST_P(EveryRecipe, ShardsCoverTheWholeSuite) {
  const auto problems = shard_problems(r().scripts);
  EXPECT_TRUE(problems.empty()) << problems_text(problems);
}

// The shard's script passes on tovik's exit status, except 5: a shard whose stretch is empty
// (fewer cases than shards) has nothing to run and is no failure.
TEST_P(EveryRecipe, FailedCasesFailTheBuild) {
  int scripts = 0;
  for (const auto& s : r().scripts) {
    if (tovik_runs(s).empty()) continue;
    ++scripts;
    for (int status : {0, 1, 2, 3, 4, 5}) {
      Stubs stubs;
      TempDir work;
      const Finished f = stubs.run_script(s, work.path, 0, {{"STUB_STATUS", std::to_string(status)}});
      ASSERT_FALSE(f.timed_out) << s.where;
      EXPECT_EQ(stubs.logged("tovik run").size(), 1u) << s.where << ": tovik was not run once\n" << f.all();
      if (status == 0 || status == 5) {
        EXPECT_EQ(f.status, 0) << s.where << " with tovik ending " << status << "\n" << f.all();
      } else {
        EXPECT_NE(f.status, 0) << s.where << " passes with tovik ending " << status << "\n" << f.all();
      }
    }
  }
  EXPECT_GT(scripts, 0);
}

// The report scripts run where the CI would have put every shard's results and the previous
// report's history; allure (a stand-in) must get all shards and see the old history, and the
// new history must be where the next build looks for it.
TEST_P(EveryRecipe, ReportCombinesTheShardsWithThePreviousHistory) {
  const ReportJob job = report_job(r());
  ASSERT_EQ(job.problem, "");
  ASSERT_FALSE(job.scripts.empty()) << "no report script";
  ASSERT_GT(job.shard_results.size(), 1u);

  Stubs stubs;
  TempDir work;
  for (const auto& dir : job.shard_results) write_file(work.path / dir / "0a1b-result.json", "{}");
  write_file(work.path / job.history_in / "history-trend.json", "previous\n");
  for (const auto& s : job.scripts) {
    const Finished f = stubs.run_script(s, work.path, 0);
    ASSERT_EQ(f.status, 0) << s.where << "\n" << f.all();
  }

  std::set<std::string> inputs, wanted;
  for (const auto& line : stubs.logged("input ")) inputs.insert(fs::path(line.substr(6)).lexically_normal().string());
  for (const auto& dir : job.shard_results) wanted.insert(fs::path(dir).lexically_normal().string());
  EXPECT_EQ(inputs, wanted) << "allure generate did not get the results of every shard";
  const auto history = stubs.logged("history ");
  ASSERT_EQ(history.size(), 1u) << "one input of allure generate should hold the previous history\n" << read_file(stubs.log());
  EXPECT_TRUE(ends_with(history[0], " previous")) << history[0];
  if (!job.history_out.empty()) {
    EXPECT_EQ(read_file(work.path / job.history_out / "history-trend.json"), "new\n")
        << "the new report's history is not in " << job.history_out << " for the next build";
  }
}

// A suite whose shards all had nothing to run (wrong paths, a -k matching nothing) must not pass.
TEST_P(EveryRecipe, ReportFailsWhenNoShardRanACase) {
  const ReportJob job = report_job(r());
  ASSERT_EQ(job.problem, "");
  Stubs stubs;
  TempDir work;
  for (const auto& dir : job.shard_results) fs::create_directories(work.path / dir);
  bool failed = false;
  for (const auto& s : job.scripts) failed = failed || stubs.run_script(s, work.path, 0).status != 0;
  EXPECT_TRUE(failed);
}

INSTANTIATE_TEST_SUITE_P(Ci, EveryRecipe, testing::Values("github-actions.yml", "gitlab-ci.yml", "Jenkinsfile"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           const std::string f = info.param;
                           return f == "Jenkinsfile" ? std::string("Jenkins") : f == "gitlab-ci.yml" ? "GitLab" : "GitHub";
                         });

// ---------------------------------------------------------------------------------------------
// What each CI publishes, also after failed cases

bool runs_on_failure(const std::string& condition) {
  return condition.find("always()") != npos || condition.find("!cancelled()") != npos || condition.find("failure()") != npos;
}

TEST(GitHubRecipe, ResultsJUnitAndReportArePublishedAlsoWhenCasesFail) {
  const Recipe& r = recipe("github-actions.yml");
  ASSERT_EQ(r.error, "");
  const auto [shard_script, alluredir] = run_option(r, "--alluredir");
  ASSERT_NE(shard_script, nullptr);
  const std::string junit = run_option(r, "--junitxml").second;
  const YamlNode& jobs = *r.yaml.find("jobs");
  const YamlNode& shard_job = *jobs.find(shard_script->job);

  if (shard_count(shard_script->vars) > 1) {
    EXPECT_EQ(scalar(at(shard_job, {"strategy", "fail-fast"})), "false") << "a failing shard would cancel the others";
  }
  const YamlNode* upload = step_using(shard_job, "actions/upload-artifact", shard_script->step);
  ASSERT_NE(upload, nullptr) << "the shard's results are not uploaded";
  EXPECT_TRUE(runs_on_failure(scalar(upload->find("if")))) << "the upload is skipped when cases failed";
  std::vector<std::string> paths;
  for (std::istringstream in(scalar(at(*upload, {"with", "path"}))); !in.eof();) {
    std::string line;
    std::getline(in, line);
    if (!trim(line).empty()) paths.push_back(trim(line));
  }
  EXPECT_TRUE(covered_by_any(paths, alluredir)) << "the upload leaves out " << alluredir;
  EXPECT_TRUE(covered_by_any(paths, junit)) << "the upload leaves out " << junit;

  std::string name;
  const YamlNode* report = report_job_of(jobs, shard_script->job, name);
  ASSERT_NE(report, nullptr);
  EXPECT_TRUE(runs_on_failure(scalar(report->find("if")))) << "the report job is skipped when a shard failed";
  const YamlNode* published = step_using(*report, "actions/upload-artifact");
  ASSERT_NE(published, nullptr) << "the report is not uploaded";
  EXPECT_TRUE(covers(scalar(at(*published, {"with", "path"})), report_dir(r) + "/index.html"));
  // the cache is found again only under the same path and a key that a restore key starts
  const YamlNode* restore = step_using(*report, "actions/cache/restore");
  const YamlNode* save = step_using(*report, "actions/cache/save");
  ASSERT_TRUE(restore && save);
  EXPECT_EQ(scalar(at(*restore, {"with", "path"})), scalar(at(*save, {"with", "path"})));
  const auto prefixes = strings_of(at(*restore, {"with", "restore-keys"}));
  EXPECT_TRUE(std::any_of(prefixes.begin(), prefixes.end(), [&](const auto& p) {
    return starts_with(scalar(at(*save, {"with", "key"})), trim(p));
  })) << "the next run restores no saved history";
  bool summary = false;
  for (const auto& step : report->find("steps")->items) {
    const std::string text = scalar(step.find("run"));
    summary = summary || (text.find("GITHUB_STEP_SUMMARY") != npos && text.find(fs::path(junit).filename().string()) != npos &&
                          runs_on_failure(scalar(step.find("if"))));
  }
  EXPECT_TRUE(summary) << "no step puts the JUnit results on the job summary also after failures";
}

TEST(GitLabRecipe, ResultsJUnitAndReportArePublishedAlsoWhenCasesFail) {
  const Recipe& r = recipe("gitlab-ci.yml");
  ASSERT_EQ(r.error, "");
  const auto [shard_script, alluredir] = run_option(r, "--alluredir");
  ASSERT_NE(shard_script, nullptr);
  const std::string junit = run_option(r, "--junitxml").second;
  const YamlNode& shard_job = *r.yaml.find(shard_script->job);

  EXPECT_EQ(scalar(at(shard_job, {"artifacts", "when"})), "always") << "failed shard jobs would keep no artifacts";
  const auto paths = strings_of(at(shard_job, {"artifacts", "paths"}));
  const auto reports = strings_of(at(shard_job, {"artifacts", "reports", "junit"}));
  for (std::size_t i = 0; i < shard_count(shard_script->vars); ++i) {
    const std::string results = expand(alluredir, shard_script->vars, i, true), xml = expand(junit, shard_script->vars, i, true);
    EXPECT_TRUE(covered_by_any(paths, results)) << "the artifacts leave out " << results;
    EXPECT_TRUE(covered_by_any(reports, xml)) << "artifacts:reports:junit leaves out " << xml;
  }

  std::string name;
  const YamlNode* report = report_job_of(r.yaml, shard_script->job, name);
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(scalar(report->find("when")), "always") << "the report job is skipped when a shard failed";
  EXPECT_TRUE(covered_by_any(strings_of(at(*report, {"artifacts", "paths"})), report_dir(r) + "/index.html"))
      << "the report is not kept as an artifact";
  EXPECT_EQ(scalar(at(*report, {"cache", "when"})), "always");
  for (const auto& need : report->find("needs")->items)
    if (need.is_map()) {
      EXPECT_NE(scalar(need.find("artifacts")), "false") << "the report job gets no shard results";
    }
}

TEST(JenkinsRecipe, ResultsJUnitAndReportArePublishedAlsoWhenCasesFail) {
  const Recipe& r = recipe("Jenkinsfile");
  if (!r.skip.empty()) GTEST_SKIP() << r.skip;
  ASSERT_EQ(r.error, "");
  const auto [shard_script, alluredir] = run_option(r, "--alluredir");
  ASSERT_NE(shard_script, nullptr);
  const std::string junit = run_option(r, "--junitxml").second;
  auto in_always = [](const json& c) { return inside(c, "post") && inside(c, "always"); };

  // A failing sh step ends the pipeline: later stages, the report among them, are skipped.
  bool report_after_failure = false;
  for (const auto& c : r.calls)
    if (c["name"] == "sh" && !commands(script_of(argument(c, "script")), "tovik", {"run"}).empty())
      report_after_failure = inside(c, "catchError") || inside(c, "warnError");
  for (const auto& c : r.calls)
    if (c["name"] == "sh" && argument(c, "script").find("allure generate") != npos && in_always(c)) report_after_failure = true;
  EXPECT_TRUE(report_after_failure) << "a failed case stops the pipeline before the report";

  const json* junit_step = jenkins_call(r, "junit");
  const json* stash = jenkins_call(r, "stash");
  const json* archive = jenkins_call(r, "archiveArtifacts");
  const json* copy = jenkins_call(r, "copyArtifacts");
  ASSERT_TRUE(junit_step && stash && archive && copy) << "wanted: junit, stash, archiveArtifacts and copyArtifacts";
  EXPECT_TRUE(in_always(*junit_step)) << "failed cases would not reach the test view";
  EXPECT_TRUE(in_always(*stash)) << "failed shards' results would not reach the report";
  EXPECT_TRUE(in_always(*archive)) << "the report would not be kept when the build failed";
  for (std::size_t i = 0; i < shard_count(shard_script->vars); ++i) {
    const std::string results = expand(alluredir, shard_script->vars, i, true);
    const std::string xml = expand(junit, shard_script->vars, i, true);
    EXPECT_TRUE(covers(expand(argument(*junit_step, "testResults"), shard_script->vars, i, true), xml))
        << "junit does not read the JUnit XML of shard " << i + 1;
    EXPECT_TRUE(covers(expand(argument(*stash, "includes"), shard_script->vars, i, true), results + "/0a1b-result.json"))
        << "the stash leaves out " << results;
  }
  const std::string history = report_dir(r) + "/history/history-trend.json";
  EXPECT_TRUE(covers(argument(*archive, "artifacts"), history)) << "the report's history is not archived";
  EXPECT_TRUE(covers(argument(*copy, "filter"), history)) << "the next build does not copy the archived history";
}

// ---------------------------------------------------------------------------------------------
// The checks themselves find faults

TEST(RecipeChecks, ReadTheOptionsAndShellWordsAsTheProgramAndTheShellDo) {
  const Options& known = run_options();
  ASSERT_TRUE(known.count("--shard") && known.count("-n") && known.count("--junit-xml"));
  EXPECT_TRUE(known.at("--shard").takes_value);
  EXPECT_FALSE(known.at("--clean-alluredir").takes_value);
  EXPECT_EQ(known.at("--junit-xml").name, "--junitxml");
  EXPECT_EQ(known.at("-n").name, "--numprocesses");

  const auto words = simple_commands(
      "# tovik run --not-run\n"
      "status=0; /usr/bin/tovik run --shard \"${{ matrix.shard }}/3\" \\\n  -k 'a and b' --junitxml=j.xml || status=$?\n");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_THAT(words[1], testing::ElementsAre("/usr/bin/tovik", "run", "--shard", "${{ matrix.shard }}/3", "-k", "a and b",
                                             "--junitxml=j.xml"));
  EXPECT_THAT(words[2], testing::ElementsAre("status=$?"));
}

TEST(RecipeChecks, FindMisspelledOptionsAndMissingValues) {
  const auto problems = option_problems({script_of(
      "tovik run --shard 1/1 --alluredir a --junitxml j.xml --sahrd 1/3 -n4 --maxfail\n"
      "tovik run --shard 1/1 --alluredir=a --clean-alluredir=yes --junit-xml j.xml\n"
      "tovik report --alluredir a --shwo\n")});
  EXPECT_THAT(problems, testing::ElementsAre(testing::HasSubstr("no option --sahrd"), testing::HasSubstr("--maxfail of `tovik run` needs a value"),
                                             testing::HasSubstr("--clean-alluredir of `tovik run` takes no value"),
                                             testing::HasSubstr("`tovik report` has no option --shwo")));
  EXPECT_THAT(option_problems({script_of("tovik run --shard 1/1 --junitxml j.xml")}),
              testing::ElementsAre(testing::HasSubstr("without --alluredir")));
  EXPECT_THAT(option_problems({script_of("echo tovik")}), testing::ElementsAre("no `tovik run` command line"));
}

TEST(RecipeChecks, FindShardsThatLeaveOutPartOfTheSuite) {
  const std::string opts = " --alluredir a --junitxml j.xml";
  EXPECT_THAT(shard_problems({script_of("tovik run --shard \"$I/$N\"" + opts, {{"I", {1, 2, 3}}, {"N", {3}}})}), IsEmpty());
  EXPECT_THAT(shard_problems({script_of("tovik run --shard 1/2" + opts), script_of("tovik run --shard=2/2" + opts)}), IsEmpty());
  // GitHub's job-index counts from 0
  EXPECT_THAT(shard_problems({script_of("tovik run --shard ${{ strategy.job-index }}/3" + opts, {{"strategy.job-index", {0, 1, 2}}})}),
              testing::ElementsAre(testing::HasSubstr("runs shard 0 of 3"), testing::HasSubstr("no job runs shard 3 of 3")));
  EXPECT_THAT(shard_problems({script_of("tovik run --shard 1/3" + opts), script_of("tovik run --shard 3/3" + opts)}),
              testing::ElementsAre("no job runs shard 2 of 3"));
  EXPECT_THAT(shard_problems({script_of("tovik run --shard 1-3" + opts)}),
              testing::ElementsAre(testing::HasSubstr("is not I/N"), testing::HasSubstr("no `tovik run` splits")));
  EXPECT_THAT(shard_problems({script_of("tovik run --shard $SHARD/3" + opts)}), testing::Contains(testing::HasSubstr("is not I/N")));
  EXPECT_THAT(shard_problems({script_of("tovik run" + opts)}), testing::Contains(testing::HasSubstr("without --shard")));
}

TEST(RecipeChecks, BrokenFilesDoNotParse) {
  EXPECT_THROW(tovik::parse_yaml_tree("jobs:\n  cases:\n    steps: [\n"), tovik::YamlSyntaxError);
  EXPECT_THROW(tovik::parse_yaml_tree("script:\n  - a\n b: c\n"), tovik::YamlSyntaxError);

  if (program_path("groovy").empty()) GTEST_SKIP() << recipe("Jenkinsfile").skip;
  TempDir tmp;
  write_file(tmp.path / "Jenkinsfile", "pipeline {\n  stages { stage('a') { steps { sh 'true' } }\n}\n");
  EXPECT_NE(run({program_path("groovy"), kJenkinsCalls.string(), (tmp.path / "Jenkinsfile").string()}, tmp.path).status, 0);
  write_file(tmp.path / "Jenkinsfile", "pipeline {\n  stages { stage('a') { steps { sh \"\"\"x\"\" } } }\n}\n");
  EXPECT_NE(run({program_path("groovy"), kJenkinsCalls.string(), (tmp.path / "Jenkinsfile").string()}, tmp.path).status, 0);
}

TEST(RecipeChecks, ArtifactPatternsTakeInWhatIsBelowThem) {
  EXPECT_TRUE(covers("shard-*", "shard-2/allure-results"));
  EXPECT_TRUE(covers("report/**", "report/history/history-trend.json"));
  EXPECT_TRUE(covers("shard-*/junit.xml", "shard-1/junit.xml"));
  EXPECT_FALSE(covers("shard-*/junit.xml", "shard-1/allure-results/junit.xml"));
  EXPECT_FALSE(covers("report/", "reports/index.html"));
  EXPECT_EQ(expand("a ${{ matrix.shard }}/${{ vars.X }} $I ${env.I}", {{"matrix.shard", {1, 2}}, {"I", {7, 8}}}, 1, false), "a 2/x $I ${env.I}");
  EXPECT_EQ(expand("shard-${env.I}/$I", {{"I", {7, 8}}}, 1, true), "shard-8/8");
}

}  // namespace
