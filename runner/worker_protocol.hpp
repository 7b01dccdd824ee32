// The pipes between a parallel run's controller and its worker processes. A frame is a kind word,
// a blank, the payload's length in decimal and a newline, then the payload's bytes.
//   controller -> worker   run <nodeid>         run this case (its attempts)
//   worker -> controller   ready                collected, waiting for cases
//                          report <record>      one attempt finished (encode_report)
// A worker whose input ends finishes (session fixtures torn down) and exits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runner/report.hpp"
#include "support/base/value.hpp"

namespace tovik::runner {

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

// A finished attempt for the controller: the report (its step as a place in the case), what
// worker-side plug-ins carried, and the variables the case saved (plain values).
std::string encode_report(const CaseReport& report, const Dict& saved);
// The node id an encoded report names, to find the controller's own copy of the case.
std::string reported_nodeid(std::string_view record);
// The report back, pointing into tc (the controller's copy of the case the record names).
// ValueError for a damaged record.
CaseReport decode_report(std::string_view record, const TestCase& tc, Dict& saved);

}  // namespace tovik::runner
