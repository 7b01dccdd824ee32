#include "runner/collection.hpp"

#include <algorithm>
#include <filesystem>
#include <set>

#include "runner/plugin.hpp"
#include "support/base/errors.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

// Folders that hold no cases of the suite: version control, virtual environments, build output.
bool skipped_dir(const std::string& name) {
  static const std::set<std::string> names{"build", "dist", "node_modules", "venv", "CVS", "_darcs", "__pycache__"};
  return name.empty() || name[0] == '.' || names.count(name) > 0 ||
         (name.size() > 4 && name.compare(name.size() - 4, 4, ".egg") == 0);
}

// The path as the user reads it: relative to the rootdir when inside it.
std::string shown(const fs::path& p, const fs::path& root) {
  std::error_code ec;
  const fs::path abs = fs::absolute(p, ec).lexically_normal();
  const fs::path rel = abs.lexically_relative(root);
  if (!rel.empty() && *rel.begin() != "..") return rel.generic_string();
  return p.generic_string();
}

std::vector<fs::path> files_below(const std::vector<std::string>& paths) {
  std::vector<fs::path> files;
  for (const auto& p : paths) {
    const fs::path path(p);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<fs::path> found;
      fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
      for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_directory(ec)) {
          if (skipped_dir(it->path().filename().string())) it.disable_recursion_pending();
          continue;
        }
        found.push_back(it->path());
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else if (fs::exists(path, ec)) {
      files.push_back(path);
    } else {
      throw UsageError("文件或目录不存在: " + p);
    }
  }
  return files;
}

}  // namespace

Collected collect(const Config& c, const std::function<void(const CollectError&)>& on_error) {
  Collected out;
  std::set<std::string> seen;
  for (const auto& f : files_below(c.paths)) {
    Plugin* owner = nullptr;
    for (Plugin* p : c.plugins)
      if (!owner && p->collects(f)) owner = p;
    if (!owner) continue;
    const std::string name = shown(f, c.rootdir);
    if (!seen.insert(name).second) continue;
    try {
      std::vector<TestCase> cases = owner->collect(f, name);
      for (auto& tc : cases) {
        tc.owner = owner;
        out.cases.push_back(std::move(tc));
      }
    } catch (const std::exception& e) {
      ++out.errors;
      on_error(CollectError{name, describe_error(e)});
    }
  }
  return out;
}

}  // namespace tovik::runner
