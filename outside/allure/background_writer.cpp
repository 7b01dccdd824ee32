#include "outside/allure/background_writer.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace tovik::allure {

BackgroundWriter::BackgroundWriter(std::filesystem::path dir) : writer_(std::move(dir)) {}

BackgroundWriter::~BackgroundWriter() { finish(); }

void BackgroundWriter::submit(TestResult result) {
  std::string name = result.fullName;
  add(Item{std::move(result), {}, {}, {}, std::move(name)}, 0);
}

void BackgroundWriter::take(Attachment& attachment) {
  attachment.source = ResultsWriter::attachment_file_name(attachment.type);
  const TestContext* ctx = current();
  const std::size_t bytes = attachment.content.size();
  add(Item{std::nullopt, attachment.source, attachment.type, std::move(attachment.content),
           ctx ? ctx->case_name() : std::string()},
      bytes);
  attachment.content.clear();
}

void BackgroundWriter::add(Item item, std::size_t bytes) {
  std::unique_lock lock(mutex_);
  if (threads_.empty()) {
    stopping_ = false;
    for (int i = 0; i < kThreads; ++i) threads_.emplace_back([this] { run(); });
  }
  if (batch_.items.empty()) {
    batch_since_ = std::chrono::steady_clock::now();
    work_.notify_one();  // a thread times it
  }
  batch_.has_result = batch_.has_result || item.result.has_value();
  batch_.items.push_back(std::move(item));
  batch_bytes_ += bytes;
  if (batch_.items.size() < kBatchFiles && batch_bytes_ < kBatchBytes) return;
  room_.wait(lock, [this] { return queue_.size() < kQueueLimit; });
  close_batch();
  work_.notify_one();
}

void BackgroundWriter::close_batch() {
  batch_.number = jobs_++;
  queue_.push_back(std::move(batch_));
  batch_ = Job{};
  batch_bytes_ = 0;
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
  // The run's own thread (and the local servers it talks to) come first: the files can wait, and
  // finish() gives them every core at the end. Failing to lower it changes nothing but speed.
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice);
  std::unique_lock lock(mutex_);
  for (;;) {
    if (queue_.empty() && !batch_.items.empty() &&
        (stopping_ || std::chrono::steady_clock::now() - batch_since_ >= kBatchAge))
      close_batch();
    if (queue_.empty()) {
      if (stopping_ && batch_.items.empty()) return;  // everything is written
      if (batch_.items.empty()) work_.wait(lock);
      else work_.wait_until(lock, batch_since_ + kBatchAge);
      continue;
    }
    Job job = std::move(queue_.front());
    queue_.pop_front();
    room_.notify_one();
    // a result waits for the jobs before it: its attachment files are then on disk
    if (job.has_result) done_.wait(lock, [&] { return running_.empty() || *running_.begin() > job.number; });
    running_.insert(job.number);
    lock.unlock();
    std::string failure = write(job);
    lock.lock();
    running_.erase(job.number);
    done_.notify_all();
    if (!failure.empty()) failures_.emplace_back(job.number, std::move(failure));
  }
}

std::string BackgroundWriter::write(Job& job) {
  std::string failure;  // the first; the files after it are still tried
  for (Item& item : job.items) {
    try {
      if (item.result) writer_.write(*item.result);
      else writer_.write_attachment(item.source, item.type, std::move(item.content));
    } catch (const std::exception& e) {
      if (failure.empty()) failure = item.case_name + ": " + e.what();
    }
  }
  return failure;
}

}  // namespace tovik::allure
