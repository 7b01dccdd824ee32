#include "outside/allure/background_writer.hpp"

#include <algorithm>
#include <exception>
#include <utility>

namespace tovik::allure {

BackgroundWriter::BackgroundWriter(std::filesystem::path dir) : writer_(std::move(dir)) {}

BackgroundWriter::~BackgroundWriter() { finish(); }

void BackgroundWriter::submit(TestResult result) {
  std::unique_lock lock(mutex_);
  if (threads_.empty()) {
    stopping_ = false;
    for (int i = 0; i < kThreads; ++i) threads_.emplace_back([this] { run(); });
  }
  room_.wait(lock, [this] { return queue_.size() < kQueueLimit; });
  queue_.emplace_back(submitted_++, std::move(result));
  work_.notify_one();
}

std::vector<std::string> BackgroundWriter::finish() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    work_.notify_all();
  }
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  writer_.finish_clean();
  std::lock_guard lock(mutex_);
  std::sort(failures_.begin(), failures_.end());
  std::vector<std::string> out;
  for (auto& f : failures_) out.push_back(std::move(f.second));
  failures_.clear();
  return out;
}

void BackgroundWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return !queue_.empty() || stopping_; });
    if (queue_.empty()) return;  // stopping, and everything is written
    auto [number, result] = std::move(queue_.front());
    queue_.pop_front();
    room_.notify_one();
    lock.unlock();
    std::string failure;
    try {
      writer_.write(result);
    } catch (const std::exception& e) {
      failure = result.fullName + ": " + e.what();
    }
    lock.lock();
    if (!failure.empty()) failures_.emplace_back(number, std::move(failure));
  }
}

}  // namespace tovik::allure
