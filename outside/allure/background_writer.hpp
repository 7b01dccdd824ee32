// Writes allure results on threads of their own, so that creating a case's files is not on the
// run's critical path (where creating a file is slow, it was most of a run of short cases).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outside/allure/writer.hpp"

namespace tovik::allure {

class BackgroundWriter {
 public:
  // Results waiting at the most; submit() waits for room beyond that, which bounds the memory
  // of a run whose disk is slower than its cases.
  static constexpr std::size_t kQueueLimit = 64;
  // Threads writing: creating and renaming files is mostly the kernel's time, which a second
  // core shares.
  static constexpr int kThreads = 2;

  // The directory as ResultsWriter takes it (OSError when it cannot be made).
  explicit BackgroundWriter(std::filesystem::path dir);
  // Drains what is queued, as finish() does.
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // For what comes before the first result (clean, environment); not to be used after submit().
  ResultsWriter& writer() { return writer_; }

  // Queues a result; results are taken in submission order, each file whole or not at all.
  void submit(TestResult result);

  // Waits until every submitted result is written, then removes the old results that were not
  // reused (ResultsWriter::finish_clean). Returns the
  // results that could not be written, in submission order, as "fullName: reason". Later
  // submissions start the threads again.
  std::vector<std::string> finish();

 private:
  void run();

  ResultsWriter writer_;
  std::mutex mutex_;
  std::condition_variable work_;  // something queued, or stopping
  std::condition_variable room_;  // the queue shrank
  std::deque<std::pair<std::size_t, TestResult>> queue_;  // with their submission number
  std::size_t submitted_ = 0;
  bool stopping_ = false;
  std::vector<std::pair<std::size_t, std::string>> failures_;
  std::vector<std::thread> threads_;
};

}  // namespace tovik::allure
