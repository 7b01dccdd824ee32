// The run's variable store: one Exchange over the file that tovik_variables names, opened when
// the run starts and shared by every case plug-in (and through them every keyword object).
#pragma once

#include <memory>
#include <string>

#include "runner/config.hpp"

namespace tovik {
class Exchange;
}

namespace tovik::runner {

class VariableStore {
 public:
  // Opens the file; a file that cannot be read is remembered, not thrown, so it fails the cases
  // that run rather than the whole run.
  explicit VariableStore(const Config& config);

  // The run's exchanger; the ValueError of opening it when that failed.
  const std::shared_ptr<Exchange>& exchanger() const;
  // The exchanger, or null when opening it failed.
  Exchange* find() const { return exchanger_.get(); }

 private:
  std::shared_ptr<Exchange> exchanger_;
  std::string error_;
};

}  // namespace tovik::runner
