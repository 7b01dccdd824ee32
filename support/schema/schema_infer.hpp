// JSON Schema inference: the schema that a sample response and responses of its shape satisfy.
#pragma once

#include "support/base/value.hpp"

namespace tovik::schema {

// A draft 2020-12 schema (a Dict naming the meta-schema in "$schema") that the sample and values of
// the same shape satisfy: mappings list their properties and require the keys they have, lists
// describe their items (one schema merged from all elements, anyOf across kinds), scalars give
// their type. Nothing else is restricted. Tuples count as lists; an Object is a TypeError.
Value infer(const Value& sample);

}  // namespace tovik::schema
