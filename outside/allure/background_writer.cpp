#include "outside/allure/background_writer.hpp"

#include <exception>
#include <utility>

namespace tovik::allure {

BackgroundWriter::BackgroundWriter(std::filesystem::path dir) : writer_(std::move(dir)) {}

BackgroundWriter::~BackgroundWriter() { finish(); }

void BackgroundWriter::submit(TestResult result) {
  std::unique_lock lock(mutex_);
  if (!thread_.joinable()) {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
  }
  room_.wait(lock, [this] { return queue_.size() < kQueueLimit; });
  queue_.push_back(std::move(result));
  work_.notify_one();
}

std::vector<std::string> BackgroundWriter::finish() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    work_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
  writer_.finish_clean();
  std::lock_guard lock(mutex_);
  return std::exchange(failures_, {});
}

void BackgroundWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return !queue_.empty() || stopping_; });
    if (queue_.empty()) return;  // stopping, and everything is written
    TestResult result = std::move(queue_.front());
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
    if (!failure.empty()) failures_.push_back(std::move(failure));
  }
}

}  // namespace tovik::allure
