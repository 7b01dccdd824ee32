#include "notify/pool.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tovik::sender {
namespace {

using namespace std::chrono_literals;

TEST(Pool, RunsNoMoreTasksAtOnceThanItHasWorkers) {
  std::atomic<int> running{0}, most{0}, done{0};
  {
    Pool pool(4);
    for (int i = 0; i < 10; ++i)
      pool.submit([&] {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(100ms);
        --running;
        ++done;
      });
    pool.wait_idle();
    EXPECT_EQ(done, 10);
    EXPECT_EQ(most, 4);
  }
}

TEST(Pool, StartsTasksInTheOrderQueuedAndOutlivesTheirErrors) {
  std::mutex m;
  std::vector<int> order;
  Pool pool(1);
  for (int i = 0; i < 5; ++i)
    pool.submit([&, i] {
      {
        std::lock_guard lock(m);
        order.push_back(i);
      }
      if (i == 1) throw std::runtime_error("a failing task");
      if (i == 2) throw 42;
    });
  pool.wait_idle();
  EXPECT_THAT(order, ::testing::ElementsAre(0, 1, 2, 3, 4));
}

TEST(Pool, DestructionFinishesWhatIsQueued) {
  std::atomic<int> done{0};
  {
    Pool pool(2);
    for (int i = 0; i < 5; ++i)
      pool.submit([&] {
        std::this_thread::sleep_for(30ms);
        ++done;
      });
  }
  EXPECT_EQ(done, 5);
}

}  // namespace
}  // namespace tovik::sender
