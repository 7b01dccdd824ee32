// JSON Schema for response checks: infer a schema from a sample value, validate values against one.
#pragma once

#include "support/schema/schema_infer.hpp"
#include "support/schema/schema_validate.hpp"
