#include "runner/variable_store.hpp"

#include "support/base/errors.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::runner {

VariableStore::VariableStore(const Config& config) {
  try {
    exchanger_ = std::make_shared<Exchange>(config.ini("tovik_variables", ""));
  } catch (const std::exception& e) {
    error_ = e.what();
  }
}

const std::shared_ptr<Exchange>& VariableStore::exchanger() const {
  if (!exchanger_) throw ValueError(error_);
  return exchanger_;
}

}  // namespace tovik::runner
