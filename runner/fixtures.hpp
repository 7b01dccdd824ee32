// Named fixtures a case can request: set up before the case (or once per session), handed to the
// keyword objects as usefixtures, and always torn down.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runner/case.hpp"
#include "runner/config.hpp"
#include "support/base/value.hpp"

namespace tovik::runner {

enum class Scope { Case, Session };

struct Fixture {
  std::string name;
  Scope scope = Scope::Case;
  std::string help;
  std::function<Value(const Config&, const TestCase&)> setup;
  std::function<void(Value&)> teardown;  // may be empty
};

class FixtureRegistry {
 public:
  void add(Fixture f);
  const Fixture* find(const std::string& name) const;
  const std::vector<Fixture>& all() const { return fixtures_; }

 private:
  std::vector<Fixture> fixtures_;
};

// The fixtures alive in one run.
class FixtureManager {
 public:
  FixtureManager(const FixtureRegistry& registry, const Config& config) : registry_(registry), config_(config) {}
  ~FixtureManager();

  // Sets up what the case requests, in order; session fixtures once per run. On failure the
  // fixtures already set up for this case are torn down and the error passes on.
  Dict setup(const TestCase& test);
  // Tears down this case's fixtures, last first. Every teardown runs; the first error is
  // rethrown afterwards.
  void teardown_case();
  void teardown_session();

 private:
  struct Live {
    const Fixture* fixture;
    Value value;
  };
  static void teardown_all(std::vector<Live>& live);

  const FixtureRegistry& registry_;
  const Config& config_;
  std::vector<Live> case_live_;
  std::vector<Live> session_live_;
};

}  // namespace tovik::runner
