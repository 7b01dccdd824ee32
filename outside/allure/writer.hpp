// Writes allure 2 raw results: one <uuid>-result.json per case and its attachment files.
#pragma once

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "outside/allure/model.hpp"

namespace tovik::allure {

class ResultsWriter {
 public:
  // Creates the directory when missing; OSError when it cannot.
  explicit ResultsWriter(std::filesystem::path dir);
  // Waits for a clean still removing files.
  ~ResultsWriter();
  ResultsWriter(const ResultsWriter&) = delete;
  ResultsWriter& operator=(const ResultsWriter&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

  // Removes what a previous run left in the directory: only what the writer and the report's
  // history copy produce (*-result.json, *-container.json, *-attachment.*, environment.properties,
  // categories.json, executor.json, history/ and our temporary ".*.part" files). Anything else in
  // the directory (a workbook, pytest.ini, notes) stays.
  // When the directory holds nothing else (and is no symbolic link), it is renamed aside, to the
  // hidden sibling ".NAME.tovik-old-XXXXXXXX", a new one takes its place at once and the old one
  // is removed on a thread of its own: a run does not wait for a thousand unlinks. Such siblings
  // that an interrupted run left behind go the same way. Otherwise entries go one by one.
  void clean();
  // Waits until what clean() put aside is removed.
  void wait_for_clean();
  // Whether clean() would remove the entry of that name.
  static bool written_by_us(const std::string& name);

  // Writes the attachments of the result and its steps as files (filling their source), then the
  // result, each under a temporary name and renamed into place, so a reader never sees half a
  // file. An attachment without content is left out. Fills historyId and testCaseId from
  // fullName and parameters when empty.
  void write(TestResult& result);

  // environment.properties: key = value lines shown on the report's overview.
  void write_environment(const std::vector<std::pair<std::string, std::string>>& entries);

 private:
  void write_attachments(std::vector<Attachment>& attachments);
  void write_steps(std::vector<StepResult>& steps);

  std::filesystem::path dir_;
  std::thread cleaner_;
};

// Lower-case hex MD5 of a text.
std::string md5_hex(const std::string& text);

// Writes text to path whole (replace_file, without fsync); OSError when that fails.
void write_file_atomically(const std::filesystem::path& path, const std::string& text);

}  // namespace tovik::allure
