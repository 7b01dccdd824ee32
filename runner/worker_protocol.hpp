// The pipes between a parallel run's controller and its worker processes. A frame is a kind word,
// a blank, the payload's length in decimal and a newline, then the payload's bytes.
//   controller -> worker   run <case>           run this case (encode_case; its attempts) after
//                                               those before
//                          stop                 run nothing more that was sent, end after the current case
//   worker -> controller   ready                collected, waiting for cases
//                          report <record>      one attempt finished (encode_report)
// A worker whose input ends finishes (session fixtures torn down) and exits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runner/report.hpp"
#include "support/base/value.hpp"

namespace tovik::runner {

class Plugin;

struct Frame {
  std::string kind;
  std::string payload;
};

// Writes a whole frame, waiting for room; false when the reading end is gone.
bool write_frame(int fd, std::string_view kind, std::string_view payload);

// Cuts whole frames out of the bytes read from a pipe.
class FrameReader {
 public:
  // Reads what fd has (at least one byte when it blocks). False at end of file or on a read
  // error; an interrupted read (EINTR) returns true with nothing read.
  bool fill(int fd);
  // The next whole frame read so far. ValueError for a header that is not one.
  std::optional<Frame> next();

 private:
  std::string buffer_;
  std::size_t start_ = 0;
};

// A collected case for a worker, which collects nothing itself: the controller collected once.
std::string encode_case(const TestCase& tc);
// The case back, run by the plug-in of the name that collected it (among plugins). ValueError for
// a damaged record or a plug-in the worker does not have.
TestCase decode_case(std::string_view record, const std::vector<Plugin*>& plugins);

// A finished attempt for the controller: the report (its step as a place in the case), what
// worker-side plug-ins carried, the variables the case saved (plain values) and the lines it
// gave the log file and the live log (LogSetup::take_forwarded).
std::string encode_report(const CaseReport& report, const Dict& saved, std::string_view log_lines);
// The report back, pointing into tc (the controller's copy of the case the worker was running).
// ValueError for a damaged record or one of another case.
CaseReport decode_report(std::string_view record, const TestCase& tc, Dict& saved, std::string& log_lines);

}  // namespace tovik::runner
