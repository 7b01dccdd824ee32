// The include rule of the tree: a file may include files of its own layer or of lower ones,
// never of a higher one. The layers are read from docs/architecture.md, so the document and the
// check cannot drift apart.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tovik::layers {

// Layers, lowest first; each holds path prefixes relative to the source root ("support/base",
// "runner/plugins"). A prefix names a folder or, without extension, a file ("runner/main").
using Layers = std::vector<std::vector<std::string>>;

// The fenced block under the heading "## Layers" of the document: one layer per line, its paths
// separated by blanks, anything after "#" a comment. std::runtime_error when there is none.
Layers read_layers(const std::string& markdown);

// The layer of a path relative to the source root (the longest matching prefix), -1 for none.
int layer_of(const Layers& layers, const std::string& path);

// "core/locator.cpp:3 includes keywords/web_keyword.hpp (layer keywords above core)" for every
// quoted include of a C++ file below the layers' folders that reaches a higher layer. Included
// paths are taken relative to the including file's folder first, then to the root.
std::vector<std::string> upward_includes(const std::filesystem::path& root, const Layers& layers);

}  // namespace tovik::layers
