// JSON Schema validation (through valijson), with one readable line per fault.
#pragma once

#include <string>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::schema {

// Why the instance does not satisfy the schema, one text per fault, each starting with the JSON
// pointer of the failing value ("/" for the whole instance), e.g.
// "/data/0: expected type string, got integer". Empty when the instance is valid. Numbers follow
// draft 2020-12: 1.0 is an integer. A schema that is not a Dict or bool, or holds an Object, is a
// TypeError; one that JSON Schema rejects is a ValueError. An Object in the instance is a TypeError.
std::vector<std::string> validate(const Value& schema, const Value& instance);

}  // namespace tovik::schema
