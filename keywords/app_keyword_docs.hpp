// Documentation texts of the app keywords (AppKeyWord), as the keyword documentation shows them.
// They live apart from the keyword code so that the code reads without them.
#pragma once

namespace tovik::keyword_docs {

extern const char* const kActivityDoc;
extern const char* const kContextDoc;
extern const char* const kPressDoc;
extern const char* const kSwipeDoc;
extern const char* const kAcNewDoc;
extern const char* const kAcPerformDoc;
extern const char* const kAcNewClickDoc;
extern const char* const kAcNewSwipeDoc;
extern const char* const kAcTouchDownDoc;
extern const char* const kAcEleDownDoc;
extern const char* const kAcTouchMoveDoc;
extern const char* const kAcEleMoveDoc;
extern const char* const kAcTouchUpDoc;
extern const char* const kAcEleUpDoc;
extern const char* const kShakeDoc;

}  // namespace tovik::keyword_docs
