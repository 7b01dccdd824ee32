// A test result as a record for another tovik process: a parallel run's worker records a case's
// steps and attachments (contents included) and its controller writes them. Everything of the
// model goes through, attachment bytes unchanged.
#pragma once

#include <string>
#include <string_view>

#include "outside/allure/model.hpp"

namespace tovik::allure {

std::string to_wire(const TestResult& result);
// ValueError for a record that is cut short or damaged.
TestResult from_wire(std::string_view bytes);

}  // namespace tovik::allure
