// YAML text as the variable file and case files hold it: the line-keeping tree, the value read
// from it, and the variable file written back. What is read must read back the same after
// dump_yaml (and after YamlFile::save); a difference is a finding like a crash. Refusals must be
// tovik errors.
#include "fuzz/fuzz_support.hpp"
#include "outside/yamlplugin/yaml_file.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_yaml.hpp"
#include "support/base/yaml_tree.hpp"

namespace fz = tovik::fuzz;
using tovik::Value;

namespace {

void round_trip(const Value& first) {
  std::string text;
  try {
    text = tovik::dump_yaml(first);
  } catch (const tovik::Error& e) {
    fz::check(false, "dump_yaml() writes what parse_yaml() read", tovik::repr(first) + "\n" + e.what());
  }
  try {
    const Value again = tovik::parse_yaml(text);
    fz::check(tovik::repr(again) == tovik::repr(first), "dump_yaml() then parse_yaml() gives the same value",
              tovik::repr(first) + "\n" + text + "\n" + tovik::repr(again));
  } catch (const tovik::Error& e) {
    fz::check(false, "parse_yaml() reads what dump_yaml() wrote", tovik::repr(first) + "\n" + text + "\n" + e.what());
  }
}

void variable_file(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = fz::write_scratch("variables.yaml", data, size);
  std::string before;
  try {
    const tovik::yamlplugin::YamlFile file(path);
    before = tovik::repr(Value(file.data()));
    file.save();
  } catch (const tovik::Error&) {
    return;
  }
  try {
    const tovik::yamlplugin::YamlFile again(path);
    fz::check(tovik::repr(Value(again.data())) == before, "a saved variable file reads back the same", before);
  } catch (const tovik::Error& e) {
    fz::check(false, "a saved variable file reads back", before + "\n" + e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fz::as_text(data, size);
  try {
    const tovik::YamlNode tree = tovik::parse_yaml_tree(text);
    round_trip(tovik::to_value(tree));
  } catch (const tovik::Error&) {
    return 0;
  }
  variable_file(data, size);
  return 0;
}
