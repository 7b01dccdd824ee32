#include "notify/pool.hpp"

#include <unistd.h>

#include <algorithm>

namespace tovik::sender {

Pool::Pool(std::size_t max_workers) : max_workers_(std::max<std::size_t>(max_workers, 1)), owner_(::getpid()) {}

Pool::~Pool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (::getpid() != owner_) {
    // a forked child: its std::thread objects name threads of the parent; joining them would
    // hang and destroying them joinable would abort
    static_cast<void>(new std::vector<std::thread>(std::move(threads_)));
    return;
  }
  for (auto& t : threads_) t.join();
}

void Pool::submit(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
    if (waiting_ < queue_.size() && threads_.size() < max_workers_) {
      try {
        threads_.emplace_back([this] { work(); });
      } catch (...) {
        // with a thread at least the task still runs later; with none it never would
        if (threads_.empty()) {
          queue_.pop_back();
          throw;
        }
      }
    }
  }
  wake_.notify_one();
}

void Pool::wait_idle() {
  std::unique_lock lock(mutex_);
  if (::getpid() != owner_) return;
  idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

void Pool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++waiting_;
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --waiting_;
    if (queue_.empty()) return;  // stopping, and nothing left to run
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    try {
      task();
    } catch (...) {
      // a task's failure is its own business; the worker goes on
    }
    task = nullptr;  // whatever the task held goes before it counts as done
    lock.lock();
    --running_;
    if (queue_.empty() && running_ == 0) idle_.notify_all();
  }
}

Pool& pool() {
  static Pool instance(kMaxWorkers);
  return instance;
}

}  // namespace tovik::sender
