// pytest.ini as users write it by hand: the section reader, and the tovik settings sections read
// from it with every key converted to its declared kind. Refusals must be tovik errors; any
// other exception or a crash is a finding.
#include <unistd.h>

#include "fuzz/fuzz_support.hpp"
#include "outside/settings/ini_reader.hpp"
#include "outside/settings/settings.hpp"
#include "outside/settings/settings_types.hpp"
#include "support/base/errors.hpp"
#include "support/base/text.hpp"

namespace fz = tovik::fuzz;
namespace settings = tovik::settings;

namespace {

void read_section(const std::filesystem::path& path, std::string_view name) {
  try {
    const settings::IniEntries entries = settings::read_ini_section(path.string(), name);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& [key, value] = entries[i];
      fz::check(!key.empty(), "keys are not empty");
      fz::check(tovik::strip_space(key) == key && tovik::strip_space(value) == value, "keys and values are trimmed",
                key);
      for (std::size_t j = 0; j < i; ++j) fz::check(entries[j].first != key, "a key appears once", key);
    }
  } catch (const tovik::Error&) {
  }
}

// Settings read pytest.ini of the current directory: visit the scratch directory meanwhile.
void read_settings() {
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(fz::scratch_dir());
  try {
    settings::reload_all();
  } catch (const tovik::Error&) {
  }
  std::filesystem::current_path(home);
  for (settings::Section* section : {&settings::tovik(), &settings::tovik_api(), &settings::tovik_ui()}) {
    for (const std::string& key : section->keys()) {
      try {
        const std::string text = section->text(key);
        (void)settings::parse_driver(text);
        (void)settings::is_http_url(text);
        (void)section->list(key);
        (void)section->value(key);
      } catch (const tovik::Error&) {
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = fz::write_scratch("pytest.ini", data, size);
  read_section(path, "pytest");
  read_section(path, "tovik");
  read_settings();
  return 0;
}
