#include "support/base/secrets.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/base/value.hpp"
#include "support/base/value_json.hpp"

namespace tovik::secrets {

namespace {

struct Registry {
  std::shared_mutex mutex;
  std::vector<std::string> forms;  // longest first
  std::atomic<bool> any{false};
  std::atomic<std::uint64_t> generation{0};
};

Registry& registry() {
  static Registry* r = new Registry();  // lives until exit: loggers may log from static destructors
  return *r;
}

// The text between the outer quotes of a quoted form.
std::string inner(const std::string& quoted) { return quoted.size() >= 2 ? quoted.substr(1, quoted.size() - 2) : quoted; }

}  // namespace

void add(std::string_view value) {
  if (value.size() < 4) return;
  const std::string raw(value);
  std::vector<std::string> forms{raw, inner(dump_json(Value(raw))), inner(repr_text(raw)), percent_encode(raw)};
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  for (auto& f : forms)
    if (std::find(r.forms.begin(), r.forms.end(), f) == r.forms.end()) {
      r.forms.push_back(std::move(f));
      r.generation.fetch_add(1, std::memory_order_acq_rel);
    }
  std::stable_sort(r.forms.begin(), r.forms.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  r.any.store(true, std::memory_order_release);
}

bool any() { return registry().any.load(std::memory_order_acquire); }

std::uint64_t generation() { return registry().generation.load(std::memory_order_acquire); }

bool redact_in_place(std::string& s) {
  if (!any() || s.empty()) return false;
  Registry& r = registry();
  std::shared_lock lock(r.mutex);
  bool changed = false;
  for (const auto& f : r.forms) {
    for (std::size_t at = s.find(f); at != std::string::npos; at = s.find(f, at + kMask.size())) {
      s.replace(at, f.size(), kMask);
      changed = true;
    }
  }
  return changed;
}

std::string redact(std::string_view text) {
  std::string s(text);
  redact_in_place(s);
  return s;
}

void clear() {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  r.forms.clear();
  r.any.store(false, std::memory_order_release);
}

}  // namespace tovik::secrets
