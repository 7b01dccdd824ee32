// JUnit XML of a run (--junitxml PATH), the subset CI systems read.
#pragma once

#include <string>
#include <vector>

#include "runner/plugin.hpp"

namespace tovik::runner {

class JunitPlugin : public Plugin {
 public:
  std::string name() const override { return "junitxml"; }
  void add_options(OptionParser& parser) override;
  void configure(Config& config) override;
  void on_session_start(const Config& config) override;
  void on_collect_error(const CollectError& error) override;
  void on_case_finish(const CaseReport& report) override;
  void on_session_finish(const Summary& summary) override;


 private:
  struct Entry {
    std::string classname, name, file;
    double seconds = 0;
    std::string kind;  // "", "failure", "error", "skipped"
    std::string message, type, text, out;
  };
  std::string path_;
  std::string suite_name_ = "tovik";
  std::string timestamp_;
  std::vector<Entry> entries_;
};

}  // namespace tovik::runner
