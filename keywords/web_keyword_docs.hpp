// Documentation texts of the browser keywords (WebKeyWord), as the keyword documentation shows them.
// They live apart from the keyword code so that the code reads without them.
#pragma once

namespace tovik::keyword_docs {

extern const char* const kDebuggerDoc;
extern const char* const kShellDoc;
extern const char* const kNewDriverDoc;
extern const char* const kGotoDoc;
extern const char* const kTouchDoc;
extern const char* const kClickDoc;
extern const char* const kInputDoc;
extern const char* const kChosenDoc;
extern const char* const kSleepDoc;
extern const char* const kShowDoc;
extern const char* const kMoveDoc;
extern const char* const kFrameEnterDoc;
extern const char* const kFrameExitDoc;
extern const char* const kFrameTopDoc;
extern const char* const kAlertOkDoc;
extern const char* const kAlertCancelDoc;
extern const char* const kSaveDoc;
extern const char* const kSaveTextDoc;
extern const char* const kSaveAttrDoc;
extern const char* const kSaveTitleDoc;
extern const char* const kSaveUrlDoc;

}  // namespace tovik::keyword_docs
