// Documentation texts of the API keywords (ApiKeyWord), as the keyword documentation shows them.
// They live apart from the keyword code so that the code reads without them.
#pragma once

namespace tovik::keyword_docs {

extern const char* const kNewClientDoc;
extern const char* const kSetBaseurlDoc;
extern const char* const kSetFollowRedirectsDoc;
extern const char* const kSetHeadersDoc;
extern const char* const kSetCookiesDoc;
extern const char* const kSetParamsDoc;
extern const char* const kSetJsonDoc;
extern const char* const kSetFormDoc;
extern const char* const kAddHeaderDoc;
extern const char* const kAddCookieDoc;
extern const char* const kAddQueryDoc;
extern const char* const kAddFormDoc;
extern const char* const kAddFileDoc;
extern const char* const kSendHttpDoc;
extern const char* const kSaveCodeDoc;
extern const char* const kSaveHeadersDoc;
extern const char* const kSaveBodyDoc;
extern const char* const kSaveJsonpathDoc;

}  // namespace tovik::keyword_docs
