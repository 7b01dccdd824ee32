// Writes allure results on threads of their own, so that creating a case's files is not on the
// run's critical path (where creating a file is slow, it was most of a run of short cases).
#pragma once

#include <chrono>
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
  // Batches waiting at the most; submit() waits for room beyond that, which bounds the memory
  // of a run whose disk is slower than its cases.
  static constexpr std::size_t kQueueLimit = 64;
  // Threads writing: creating and renaming files is mostly the kernel's time, which a second
  // core shares.
  static constexpr int kThreads = 2;
  // Their nice value: they take what the run leaves of the cores.
  static constexpr int kNice = 19;
  // Files go to the threads in batches: handing over each file woke a thread for each, which
  // cost a run of short cases (two files each) or an API case (two files a row) more than the
  // files did. A batch goes when it holds this many files or bytes; a thread takes a smaller one
  // when its first file has waited this long, so the result of a case that ends before a slow
  // one is on disk while the slow one runs.
  static constexpr std::size_t kBatchFiles = 32;
  static constexpr std::size_t kBatchBytes = 256 * 1024;
  static constexpr std::chrono::milliseconds kBatchAge{50};

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
  // One file to write: a result, else an attachment.
  struct Item {
    std::optional<TestResult> result;
    std::string source, type, content;  // an attachment's
    std::string case_name;        // whose, for failures
  };
  struct Job {
    std::size_t number;
    std::vector<Item> items;
    bool has_result = false;
  };
  void add(Item item, std::size_t bytes);
  // With the lock held: the batch being filled becomes the next job.
  void close_batch();
  void run();
  // Runs on a writing thread; the first failure as "name: reason", empty when all were written.
  std::string write(Job& job);

  ResultsWriter writer_;
  std::mutex mutex_;
  std::condition_variable work_;  // a job queued, a batch started, or stopping
  std::condition_variable room_;  // the queue shrank
  std::deque<Job> queue_;
  Job batch_{};  // being filled: newer than everything queued
  std::size_t batch_bytes_ = 0;
  std::chrono::steady_clock::time_point batch_since_{};
  std::size_t jobs_ = 0;           // numbers given
  std::set<std::size_t> running_;  // numbers of the jobs being written
  std::condition_variable done_;   // a job finished
  bool stopping_ = false;
  std::vector<std::pair<std::size_t, std::string>> failures_;
  std::vector<std::thread> threads_;
};

}  // namespace tovik::allure
