#include "runner/fixtures.hpp"

#include <exception>

#include "support/base/errors.hpp"

namespace tovik::runner {

void FixtureRegistry::add(Fixture f) {
  for (auto& existing : fixtures_) {
    if (existing.name == f.name) {  // a later plug-in overrides a built-in fixture
      existing = std::move(f);
      return;
    }
  }
  fixtures_.push_back(std::move(f));
}

const Fixture* FixtureRegistry::find(const std::string& name) const {
  for (const auto& f : fixtures_)
    if (f.name == name) return &f;
  return nullptr;
}

FixtureManager::~FixtureManager() {
  try {
    teardown_case();
  } catch (...) {
  }
  try {
    teardown_session();
  } catch (...) {
  }
}

Dict FixtureManager::setup(const TestCase& test) {
  Dict values;
  try {
    for (const auto& name : test.marks.fixtures) {
      if (values.contains(name)) continue;
      const Fixture* f = registry_.find(name);
      if (!f) {
        std::string known;
        for (const auto& k : registry_.all()) known += (known.empty() ? "" : "、") + k.name;
        throw KeyError("fixture '" + name + "' 不存在" + (known.empty() ? "（没有可用的 fixture）" : "（可用：" + known + "）"));
      }
      if (f->scope == Scope::Session) {
        const Live* live = nullptr;
        for (const auto& l : session_live_)
          if (l.fixture == f) live = &l;
        if (!live) {
          session_live_.push_back({f, f->setup(config_, test)});
          live = &session_live_.back();
        }
        values.set(name, live->value);
      } else {
        case_live_.push_back({f, f->setup(config_, test)});
        values.set(name, case_live_.back().value);
      }
    }
  } catch (...) {
    try {
      teardown_case();
    } catch (...) {
    }
    throw;
  }
  return values;
}

void FixtureManager::teardown_all(std::vector<Live>& live) {
  std::exception_ptr first;
  while (!live.empty()) {
    Live l = std::move(live.back());
    live.pop_back();
    if (!l.fixture->teardown) continue;
    try {
      l.fixture->teardown(l.value);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void FixtureManager::teardown_case() { teardown_all(case_live_); }
void FixtureManager::teardown_session() { teardown_all(session_live_); }

}  // namespace tovik::runner
