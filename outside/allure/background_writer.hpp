// Writes allure results on threads of their own, so that creating a case's files is not on the
// run's critical path (where creating a file is slow, it was most of a run of short cases).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "outside/allure/step.hpp"
#include "outside/allure/writer.hpp"

namespace tovik::allure {

class BackgroundWriter : public AttachmentSink {
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
  ~BackgroundWriter() override;
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // For what comes before the first result (clean, environment); not to be used after submit().
  ResultsWriter& writer() { return writer_; }

  // Queues a result; results are taken in submission order, each file whole or not at all. A
  // result is written once everything submitted before it (its attachments) is written.
  void submit(TestResult result);
  // Queues an attachment's file while its case still runs (the ScopedTest's sink).
  void take(Attachment& attachment) override;

  // Waits until every submitted result is written, then removes the old results that were not
  // reused (ResultsWriter::finish_clean). Returns the
  // results that could not be written, in submission order, as "fullName: reason". Later
  // submissions start the threads again.
  std::vector<std::string> finish();

 private:
  struct Job {
    std::size_t number;
    std::optional<TestResult> result;  // else an attachment file
    std::string source, content;
    std::string case_name;  // whose result or attachment, for failures
  };
  void queue(Job job);
  void run();

  ResultsWriter writer_;
  std::mutex mutex_;
  std::condition_variable work_;  // something queued, or stopping
  std::condition_variable room_;  // the queue shrank
  std::deque<Job> queue_;
  std::size_t submitted_ = 0;
  std::set<std::size_t> running_;  // numbers of the jobs being written
  std::condition_variable done_;   // a job finished
  bool stopping_ = false;
  std::vector<std::pair<std::size_t, std::string>> failures_;
  std::vector<std::thread> threads_;
};

}  // namespace tovik::allure
