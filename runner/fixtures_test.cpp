#include "runner/fixtures.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik::runner {

namespace {
struct Trace {
  std::vector<std::string> events;
  Fixture fixture(const std::string& name, Scope scope, bool fail_setup = false, bool fail_teardown = false) {
    Fixture f;
    f.name = name;
    f.scope = scope;
    f.setup = [this, name, fail_setup](const Config&, const TestCase&) -> Value {
      if (fail_setup) throw ValueError(name + " setup failed");
      events.push_back("setup " + name);
      return Value(name + "-value");
    };
    f.teardown = [this, name, fail_teardown](Value&) {
      events.push_back("teardown " + name);
      if (fail_teardown) throw ValueError(name + " teardown failed");
    };
    return f;
  }
};
TestCase requesting(std::vector<std::string> names) {
  TestCase tc;
  tc.marks.fixtures = std::move(names);
  return tc;
}
}  // namespace

TEST(Fixtures, CaseScopeEachTimeSessionScopeOnceTeardownInReverse) {
  Trace t;
  FixtureRegistry reg;
  reg.add(t.fixture("db", Scope::Session));
  reg.add(t.fixture("page", Scope::Case));
  reg.add(t.fixture("user", Scope::Case));
  Config config;
  {
    FixtureManager m(reg, config);
    const Dict v = m.setup(requesting({"db", "page", "user"}));
    EXPECT_EQ(v.at("page"), Value("page-value"));
    m.teardown_case();
    m.setup(requesting({"db", "page"}));
    m.teardown_case();
  }  // the session ends with the manager
  EXPECT_EQ(t.events, (std::vector<std::string>{"setup db", "setup page", "setup user", "teardown user", "teardown page",
                                                "setup page", "teardown page", "teardown db"}));
}

TEST(Fixtures, FailuresStillTearDownEverything) {
  Trace t;
  FixtureRegistry reg;
  reg.add(t.fixture("a", Scope::Case, false, true));
  reg.add(t.fixture("b", Scope::Case));
  reg.add(t.fixture("broken", Scope::Case, true));
  Config config;
  FixtureManager m(reg, config);
  // a set-up failure tears down what was already set up for the case
  EXPECT_THROW(m.setup(requesting({"b", "broken"})), ValueError);
  EXPECT_EQ(t.events, (std::vector<std::string>{"setup b", "teardown b"}));
  t.events.clear();
  m.setup(requesting({"a", "b"}));
  EXPECT_THROW(m.teardown_case(), ValueError);  // a's teardown fails, b's still ran first
  EXPECT_EQ(t.events, (std::vector<std::string>{"setup a", "setup b", "teardown b", "teardown a"}));
  try {
    m.setup(requesting({"missing"}));
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_EQ(std::string(e.what()), "fixture 'missing' 不存在（可用：a、b、broken）");
  }
  const FixtureRegistry none;
  FixtureManager bare(none, config);
  try {
    bare.setup(requesting({"missing"}));
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_EQ(std::string(e.what()), "fixture 'missing' 不存在（没有可用的 fixture）");
  }
}

}  // namespace tovik::runner
