#include "outside/allure/background_writer.hpp"

#include <algorithm>
#include <exception>
#include <utility>

namespace tovik::allure {

BackgroundWriter::BackgroundWriter(std::filesystem::path dir) : writer_(std::move(dir)) {}

BackgroundWriter::~BackgroundWriter() { finish(); }

void BackgroundWriter::submit(TestResult result) {
  std::string name = result.fullName;
  queue(Job{0, std::move(result), {}, {}, std::move(name)});
}

void BackgroundWriter::take(Attachment& attachment) {
  attachment.source = ResultsWriter::attachment_file_name(attachment.type);
  const TestContext* ctx = current();
  queue(Job{0, std::nullopt, attachment.source, std::move(attachment.content), ctx ? ctx->case_name() : std::string()});
  attachment.content.clear();
}

void BackgroundWriter::queue(Job job) {
  std::unique_lock lock(mutex_);
  if (threads_.empty()) {
    stopping_ = false;
    for (int i = 0; i < kThreads; ++i) threads_.emplace_back([this] { run(); });
  }
  room_.wait(lock, [this] { return queue_.size() < kQueueLimit; });
  job.number = submitted_++;
  queue_.push_back(std::move(job));
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
    Job job = std::move(queue_.front());
    queue_.pop_front();
    room_.notify_one();
    // a result waits for the jobs before it: its attachment files are then on disk
    if (job.result) done_.wait(lock, [&] { return running_.empty() || *running_.begin() > job.number; });
    running_.insert(job.number);
    lock.unlock();
    std::string failure;
    try {
      if (job.result) writer_.write(*job.result);
      else writer_.write_attachment(job.source, std::move(job.content));
    } catch (const std::exception& e) {
      failure = job.case_name + ": " + e.what();
    }
    lock.lock();
    running_.erase(job.number);
    done_.notify_all();
    if (!failure.empty()) failures_.emplace_back(job.number, std::move(failure));
  }
}

}  // namespace tovik::allure
