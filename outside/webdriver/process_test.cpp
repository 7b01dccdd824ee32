#include "outside/webdriver/process.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "outside/webdriver/w3c_test_process.hpp"
#include "support/base/errors.hpp"

namespace tovik::webdriver {
namespace {

using ::testing::HasSubstr;
using w3c_testing::TempDir;

bool listed(pid_t pid) {
  auto live = live_driver_processes();
  return std::find(live.begin(), live.end(), pid) != live.end();
}

// Waits (bounded) for a condition that the program reaches by itself.
template <class F>
bool eventually(F condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST(DriverProcess, RunsInItsOwnGroupWithOutputInTheLogAndStops) {
  TempDir dir;
  auto p = DriverProcess::start({"sh", "-c", "echo started; echo oops >&2; exec sleep 30"}, dir.path() + "/out.log");
  EXPECT_EQ(::getpgid(p->group()), p->group());
  EXPECT_NE(p->group(), p->pid());  // the supervisor stands outside the group it ends
  EXPECT_THAT(p->program(), HasSubstr("/sh"));
  EXPECT_TRUE(p->running());
  EXPECT_TRUE(listed(p->group()));
  EXPECT_TRUE(eventually([&] { return p->log_tail().find("oops") != std::string::npos; }));
  EXPECT_THAT(p->log_tail(), HasSubstr("started"));

  const pid_t pid = p->pid(), group = p->group();
  p->stop();
  EXPECT_FALSE(p->running());
  EXPECT_FALSE(listed(group));
  EXPECT_EQ(::kill(pid, 0), -1);  // the supervisor reaped, not a zombie of ours
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(::kill(group, 0), -1);  // and the driver gone
  p->stop();  // twice is fine
}

TEST(DriverProcess, StopEndsTheWholeGroupEvenWhenTermIsIgnored) {
  TempDir dir;
  auto p = DriverProcess::start({"sh", "-c", "trap '' TERM; sleep 30 & sleep 30 & echo ready; wait"}, dir.path() + "/out.log");
  ASSERT_TRUE(eventually([&] { return p->log_tail().find("ready") != std::string::npos; }));
  EXPECT_EQ(live_members_of_group(p->group()).size(), 3u);
  const pid_t group = p->group();
  p->stop(0.2);
  EXPECT_TRUE(live_members_of_group(group).empty());
}

TEST(DriverProcess, AProgramThatEndsByItselfIsNoLongerRunning) {
  TempDir dir;
  auto p = DriverProcess::start({"sh", "-c", "exit 3"}, dir.path() + "/out.log");
  EXPECT_TRUE(eventually([&] { return !p->running(); }));
  p->stop();
  EXPECT_FALSE(listed(p->group()));
}

TEST(DriverProcess, SurvivesTheThreadThatStartedIt) {
  TempDir dir;
  std::shared_ptr<DriverProcess> p;
  std::thread([&] { p = DriverProcess::start({"sleep", "30"}, dir.path() + "/out.log"); }).join();
  // The parent-death signal is tied to the forking thread; give it the chance to fire wrongly.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(p->running());
  p->stop();
}

TEST(DriverProcess, StartFailuresAreOSErrors) {
  TempDir dir;
  try {
    DriverProcess::start({"no-such-driver-program"}, dir.path() + "/out.log");
    FAIL();
  } catch (const OSError& e) {
    EXPECT_THAT(e.what(), HasSubstr("no-such-driver-program"));
  }
  // Executable but not a program: exec itself fails, and the reason comes back from the child.
  std::string bogus = dir.path() + "/bogus";
  std::ofstream(bogus) << "\x7f" "ELF garbage";
  ::chmod(bogus.c_str(), 0755);
  try {
    DriverProcess::start({bogus}, dir.path() + "/out.log");
    FAIL();
  } catch (const OSError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Exec format error"));
  }
  EXPECT_THROW(DriverProcess::start({"sleep", "30"}, dir.path() + "/missing/dir/out.log"), OSError);
  EXPECT_THROW(DriverProcess::start({}, dir.path() + "/out.log"), ValueError);
}

TEST(DriverProcess, StopAllEndsEveryLiveProcess) {
  TempDir dir;
  auto a = DriverProcess::start({"sleep", "30"}, dir.path() + "/a.log");
  auto b = DriverProcess::start({"sleep", "30"}, dir.path() + "/b.log");
  EXPECT_TRUE(listed(a->group()));
  EXPECT_TRUE(listed(b->group()));
  stop_all_driver_processes();
  EXPECT_FALSE(a->running());
  EXPECT_FALSE(b->running());
  EXPECT_TRUE(live_driver_processes().empty());
}

TEST(DriverProcess, DestroyingTheLastHandleStopsTheProcess) {
  TempDir dir;
  pid_t pid;
  {
    auto p = DriverProcess::start({"sleep", "30"}, dir.path() + "/out.log");
    pid = p->group();
  }
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_FALSE(listed(pid));
}

// The tovik stand-in of the test below: starts a driver whose group holds a second process, says
// so, and waits to be killed. Runs only when that test starts it.
TEST(DriverProcessProbe, StartsADriverAndWaits) {
  const char* log = std::getenv("TOVIK_SUPERVISOR_PROBE_LOG");
  if (!log) GTEST_SKIP() << "started by TovikKilledBySigkillTakesTheDriverGroupAlong";
  auto p = DriverProcess::start({"sh", "-c", "sleep 300 & echo child $!; exec sleep 300"}, log);
  ASSERT_TRUE(eventually([&] { return p->log_tail().find("child") != std::string::npos; }));
  std::printf("ready %d\n", static_cast<int>(p->group()));
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(60));
}

// However tovik dies, the driver's group (where the browser lives) goes with it.
TEST(DriverProcess, TovikKilledBySigkillTakesTheDriverGroupAlong) {
  TempDir dir;
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const std::string log = dir.path() + "/probe.log";
  const pid_t tovik = ::fork();
  if (tovik == 0) {
    ::dup2(out[1], 1);
    ::setenv("TOVIK_SUPERVISOR_PROBE_LOG", log.c_str(), 1);
    ::execl("/proc/self/exe", "probe", "--gtest_filter=DriverProcessProbe.*", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string said;
  char buf[256];
  for (ssize_t n; said.find('\n', said.find("ready")) == std::string::npos && (n = ::read(out[0], buf, sizeof buf)) > 0;)
    said.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  const auto at = said.find("ready ");
  ASSERT_NE(at, std::string::npos) << said;
  const pid_t group = static_cast<pid_t>(std::stol(said.substr(at + 6)));
  ASSERT_EQ(live_members_of_group(group).size(), 2u);

  ::kill(tovik, SIGKILL);
  ::waitpid(tovik, nullptr, 0);
  EXPECT_TRUE(eventually([&] { return live_members_of_group(group).empty(); })) << live_members_of_group(group).size();
}

TEST(ProcessHelpers, FreePortsAndProgramLookup) {
  int port = free_local_port();
  EXPECT_GT(port, 0);
  EXPECT_LT(port, 65536);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);

  EXPECT_THAT(find_program("sh"), HasSubstr("/sh"));
  EXPECT_EQ(find_program("/bin/sh"), "/bin/sh");
  EXPECT_EQ(find_program("/nonexistent/sh"), "");
  EXPECT_EQ(find_program("no-such-program-here"), "");
  TempDir dir;
  std::string plain = dir.path() + "/plain";
  std::ofstream(plain) << "data";
  ::chmod(plain.c_str(), 0644);
  EXPECT_EQ(find_program(plain), "");  // not executable
  EXPECT_EQ(find_program(dir.path()), "");  // a directory
  EXPECT_EQ(find_program(""), "");
}

}  // namespace
}  // namespace tovik::webdriver
