// Changing an existing xlsx workbook: rows of text appended to a sheet, a sheet renamed together
// with every reference to it, a list validation added, and the result written back whole. Parts
// that no edit touched are copied byte for byte; edited XML parts keep everything they held.
//
// Errors: a file that cannot be read, or a save that fails, is an OSError naming the file; a
// file that is no workbook, a missing sheet, a title the format forbids or a text it cannot hold
// is a ValueError naming the file and what is wrong. An edit that fails changes nothing.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::xlsx {

class Package;

// A list (drop-down) data validation. Texts are stored as given; empty ones are left out of the file.
struct ListValidation {
  std::string formula1;     // the list source, e.g. "=_key_word!$A:$A"
  std::string sqref;        // the cells it applies to, e.g. "C1:C1048576"
  bool allow_blank = false;
  std::string error_style;  // "stop" (the default when empty), "warning" or "information"
  std::string error, error_title, prompt, prompt_title;
};

// Why a text cannot be a sheet title, empty when it can: empty, longer than 31 characters (counted
// as the spreadsheet counts them, in UTF-16 units), holding one of : \ / ? * [ ] or a control
// character, beginning or ending with ', or not UTF-8.
std::string sheet_title_problem(std::string_view title);

class WorkbookEditor {
 public:
  // Reads the whole file; nothing stays open.
  explicit WorkbookEditor(const std::filesystem::path& path);
  ~WorkbookEditor();
  WorkbookEditor(const WorkbookEditor&) = delete;
  WorkbookEditor& operator=(const WorkbookEditor&) = delete;

  // The tab titles in order.
  std::vector<std::string> sheet_titles() const;

  // One new row per entry after the sheet's last row; texts fill columns A, B, ... as inline
  // strings, an empty text leaves its cell out.
  void append_rows(std::string_view sheet, const std::vector<std::vector<std::string>>& rows);

  // The new title must be allowed (sheet_title_problem) and differ, letter case aside, from every
  // other sheet's. Formulas, defined names, validations, hyperlinks, charts and the document
  // properties that name the old title are changed to the new one.
  void rename_sheet(std::string_view from, std::string_view to);

  void add_list_validation(std::string_view sheet, const ListValidation& validation);

  // Writes the workbook to path, replacing a file there: the bytes go to a temporary file in the
  // same directory, which is then renamed over path, so a failure leaves no partial file and an
  // existing one unchanged. The editor can go on and save again.
  void save(const std::filesystem::path& path) const;

 private:
  struct EditedPart;
  EditedPart& part(const std::string& name) const;
  std::string sheet_part(std::string_view title) const;

  std::filesystem::path path_;
  std::unique_ptr<Package> package_;
  std::vector<std::string> entries_;  // in archive order
  std::string workbook_part_;
  mutable std::map<std::string, std::unique_ptr<EditedPart>> parts_;  // parsed on first use
};

}  // namespace tovik::xlsx
