#include "tests/layers/layers.hpp"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

namespace tovik::layers {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

const char* const kDoc =
    "# Architecture\n\n## Layers\n\nLowest first:\n\n```\n"
    "support/base            # values\n"
    "support/http support/regex\n"
    "runner                  # the core\n"
    "runner/plugins\n"
    "runner/main\n"
    "```\n\n## Other\n\n```\nnot/a/layer\n```\n";

TEST(Layers, ReadsTheBlockUnderItsHeadingOnly) {
  const Layers layers = read_layers(kDoc);
  ASSERT_EQ(layers.size(), 5u);
  EXPECT_EQ(layers[1], (std::vector<std::string>{"support/http", "support/regex"}));
  EXPECT_THROW(read_layers("# nothing\n```\ncore\n```\n"), std::runtime_error);
}

TEST(Layers, LongestPrefixDecidesAndFilePrefixesTakeAnyExtension) {
  const Layers layers = read_layers(kDoc);
  EXPECT_EQ(layer_of(layers, "runner/session.cpp"), 2);
  EXPECT_EQ(layer_of(layers, "runner/plugins/terminal.hpp"), 3);
  EXPECT_EQ(layer_of(layers, "runner/main.cpp"), 4);
  EXPECT_EQ(layer_of(layers, "runner/maintenance.cpp"), 2);
  EXPECT_EQ(layer_of(layers, "support/httpx/a.hpp"), -1);
  EXPECT_EQ(layer_of(layers, "examples/demo_api.hpp"), -1);
}

TEST(Layers, FindsAnUpwardIncludeAndAllowsDownwardAndSideways) {
  const fs::path root = fs::temp_directory_path() / ("tovik_layers_" + std::to_string(::getpid()));
  fs::remove_all(root);
  write(root / "support/base/value.hpp", "#pragma once\n");
  write(root / "support/http/client.cpp", "#include \"support/base/value.hpp\"\n#include \"support/regex/regex.hpp\"\n");
  write(root / "support/regex/regex.hpp", "#include <string>\n");
  write(root / "runner/plugins/terminal.cpp", "#include \"runner/session.hpp\"\n#include \"local.hpp\"\n");
  write(root / "runner/plugins/local.hpp", "#pragma once\n");
  write(root / "runner/session.hpp", "#pragma once\n");
  write(root / "runner/main.cpp", "#include \"runner/plugins/terminal.hpp\"\n");
  EXPECT_TRUE(upward_includes(root, read_layers(kDoc)).empty());

  write(root / "runner/session.cpp", "// the loop\n  #  include \"runner/plugins/terminal.hpp\"\n");
  write(root / "support/base/log.cpp", "#include \"value.hpp\"\n#include \"../http/client.hpp\"\n");
  const auto found = upward_includes(root, read_layers(kDoc));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], "runner/session.cpp:2 includes runner/plugins/terminal.hpp (layer runner/plugins above runner)");
  EXPECT_EQ(found[1], "support/base/log.cpp:2 includes support/http/client.hpp (layer support/http above support/base)");
  fs::remove_all(root);
}

TEST(Layers, TheTreeKeepsItsLayers) {
  const fs::path root = TOVIK_SOURCE_DIR;
  const Layers layers = read_layers(read(root / "docs/architecture.md"));
  std::string all;
  for (const auto& v : upward_includes(root, layers)) all += v + "\n";
  EXPECT_TRUE(all.empty()) << all;
}

}  // namespace
}  // namespace tovik::layers
