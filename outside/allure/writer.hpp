// Writes allure 2 raw results: one <uuid>-result.json per case and its attachment files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "outside/allure/model.hpp"

namespace tovik::allure {

class ResultsWriter {
 public:
  // Creates the directory when missing; OSError when it cannot.
  explicit ResultsWriter(std::filesystem::path dir);
  // Removes the old results clean() kept (finish_clean()).
  ~ResultsWriter();
  ResultsWriter(const ResultsWriter&) = delete;
  ResultsWriter& operator=(const ResultsWriter&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

  // Removes what a previous run left in the directory: only what the writer and the report's
  // history copy produce (*-result.json, *-container.json, *-attachment.*, environment.properties,
  // categories.json, executor.json, history/ and our temporary ".*.part" files). Anything else in
  // the directory (a workbook, pytest.ini, notes) stays.
  // When the directory holds nothing else (and is no symbolic link), it is renamed aside, to the
  // hidden sibling ".NAME.tovik-old-XXXXXXXX", and a new one takes its place at once. Its files
  // are then reused for the new results (new bytes, renamed into place), since on some file
  // systems creating a file costs far more than writing one, and more so right after many were
  // deleted; finish_clean() removes what was not reused. Such siblings that an interrupted run
  // left behind are reused the same way. Otherwise entries are removed one by one.
  void clean();
  // Removes what clean() put aside and no result reused. Also done by the destructor.
  void finish_clean();
  // Whether clean() would remove the entry of that name.
  static bool written_by_us(const std::string& name);

  // Writes the attachments of the result and its steps as files (filling their source), then the
  // result, each under a temporary name and renamed into place, so a reader never sees half a
  // file. An attachment without content is left out; one written before by write_attachment is
  // only redacted again when a secret became known since. Fills historyId and testCaseId from
  // fullName and parameters when empty. Several threads may write at once.
  void write(TestResult& result);

  // A new attachment file name for a MIME type: "<uuid>-attachment.<ext>".
  static std::string attachment_file_name(const std::string& type);
  // Writes an attachment's file ahead of its result (source named by attachment_file_name for
  // type), secrets redacted. OSError when it cannot.
  void write_attachment(const std::string& source, const std::string& type, std::string content);

  // environment.properties: key = value lines shown on the report's overview.
  void write_environment(const std::vector<std::pair<std::string, std::string>>& entries);

  // Writes a file of the directory whole: into a spare old file when there is one, else a new
  // one. For the run's own files (executor.json, categories.json). OSError when it cannot.
  void put(const std::string& name, std::string_view bytes);

 private:
  void write_attachments(std::vector<Attachment>& attachments);
  void write_steps(std::vector<StepResult>& steps);
  std::filesystem::path dir_;
  std::vector<std::filesystem::path> aside_;  // old results directories put aside by clean()
  std::mutex spare_mutex_;
  std::vector<std::filesystem::path> spare_;  // their files, not reused yet
  // Attachments written ahead, with the secrets generation they were redacted at, until their
  // result is written.
  std::mutex ahead_mutex_;
  std::map<std::string, std::uint64_t> ahead_;
};

// Masks the secrets known so far in every text of the result, steps and text attachments
// included (pictures are left whole). write() does it; a process that hands its results to
// another one does it first, since only it knows its secrets.
void redact_secrets(TestResult& result);

// Lower-case hex MD5 of a text.
std::string md5_hex(const std::string& text);

// Writes text to path whole (replace_file, without fsync); OSError when that fails.
void write_file_atomically(const std::filesystem::path& path, std::string_view text);

}  // namespace tovik::allure
