// The notices' worker pool: tasks run on at most a few threads of their own, first queued first
// started, so that announcing never waits for the network.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace tovik::sender {

class Pool {
 public:
  // Threads start as tasks need them, up to max_workers (at least 1).
  explicit Pool(std::size_t max_workers);
  // Runs every task still queued, then ends the threads.
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // Queues task. What it returns or throws is dropped.
  void submit(std::function<void()> task);
  // Blocks until the queue is empty and no task runs. In a child forked from the process that
  // made the pool, which has none of its threads, returns at once.
  void wait_idle();

 private:
  void work();

  const std::size_t max_workers_;
  const pid_t owner_;
  std::mutex mutex_;
  std::condition_variable wake_;  // workers: a task or the end
  std::condition_variable idle_;  // wait_idle: the last task finished
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> threads_;
  std::size_t waiting_ = 0;  // threads waiting for a task
  std::size_t running_ = 0;  // tasks running
  bool stopping_ = false;
};

inline constexpr std::size_t kMaxWorkers = 4;

// The process's one pool of kMaxWorkers threads, made on first use. A function-local static: at
// exit its destructor runs what is still queued, before the statics made ahead of it are torn
// down (notify/sender.cpp makes what the tasks use first).
Pool& pool();

}  // namespace tovik::sender
