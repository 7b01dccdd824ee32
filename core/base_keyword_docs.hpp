// Documentation texts of the keywords every class has (BaseKeyWord), as the keyword documentation shows them.
// They live apart from the keyword code so that the code reads without them.
#pragma once

namespace tovik::keyword_docs {

extern const char* const kSetDriverDoc;
extern const char* const kAssertDoc;

}  // namespace tovik::keyword_docs
