#include "tests/layers/layers.hpp"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace tovik::layers {

namespace fs = std::filesystem;

namespace {

// A folder prefix matches what lies below it; a file prefix matches the file with any extension.
bool matches(const std::string& path, const std::string& prefix) {
  if (path == prefix) return true;
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
  const char next = path[prefix.size()];
  return next == '/' || (next == '.' && path.find('/', prefix.size()) == std::string::npos);
}

// The quoted target of an #include line, or empty.
std::string included(const std::string& line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '#') return {};
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line.compare(i, 7, "include") != 0) return {};
  const std::size_t open = line.find('"', i + 7);
  if (open == std::string::npos) return {};
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string::npos) return {};
  return line.substr(open + 1, close - open - 1);
}

std::string layer_name(const Layers& layers, int index) { return layers[static_cast<std::size_t>(index)].front(); }

}  // namespace

Layers read_layers(const std::string& markdown) {
  std::istringstream in(markdown);
  std::string line;
  bool in_section = false, in_block = false;
  Layers layers;
  while (std::getline(in, line)) {
    if (!in_block && line.rfind("## ", 0) == 0) in_section = line == "## Layers";
    if (!in_section) continue;
    if (line.rfind("```", 0) == 0) {
      if (in_block) break;
      in_block = true;
      continue;
    }
    if (!in_block) continue;
    std::istringstream words(line.substr(0, line.find('#')));
    std::vector<std::string> paths;
    for (std::string w; words >> w;) paths.push_back(w);
    if (!paths.empty()) layers.push_back(std::move(paths));
  }
  if (layers.empty()) throw std::runtime_error("no \"## Layers\" block with a fenced list of layers");
  return layers;
}

int layer_of(const Layers& layers, const std::string& path) {
  int best = -1;
  std::size_t best_len = 0;
  for (std::size_t i = 0; i < layers.size(); ++i)
    for (const auto& prefix : layers[i])
      if (prefix.size() > best_len && matches(path, prefix)) {
        best = static_cast<int>(i);
        best_len = prefix.size();
      }
  return best;
}

std::vector<std::string> upward_includes(const fs::path& root, const Layers& layers) {
  std::set<fs::path> folders;
  for (const auto& layer : layers)
    for (const auto& prefix : layer) {
      const fs::path p = root / prefix;
      folders.insert(fs::is_directory(p) ? p : p.parent_path());
    }
  std::vector<std::string> out;
  std::set<fs::path> seen;
  for (const auto& folder : folders) {
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const fs::path& file = entry.path();
      const std::string ext = file.extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".hpp") || !seen.insert(file).second) continue;
      const std::string rel = file.lexically_relative(root).generic_string();
      const int own = layer_of(layers, rel);
      if (own < 0) continue;
      std::ifstream in(file);
      std::string line;
      for (int n = 1; std::getline(in, line); ++n) {
        const std::string target = included(line);
        if (target.empty()) continue;
        // as the compiler looks: beside the file first, then from the root; a path that exists
        // nowhere counts beside the file when it says so ("./", "../")
        const std::string beside = (file.parent_path() / target).lexically_normal().lexically_relative(root).generic_string();
        const std::string from_root = fs::path(target).lexically_normal().generic_string();
        const bool relative = target.rfind("./", 0) == 0 || target.rfind("../", 0) == 0;
        const std::string target_rel = fs::exists(root / beside) ? beside
                                       : fs::exists(root / from_root) || !relative ? from_root
                                                                                  : beside;
        const int theirs = layer_of(layers, target_rel);
        if (theirs > own)
          out.push_back(rel + ":" + std::to_string(n) + " includes " + target_rel + " (layer " + layer_name(layers, theirs) +
                        " above " + layer_name(layers, own) + ")");
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tovik::layers
