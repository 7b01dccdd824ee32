// Values that must never be written anywhere: passwords, signing secrets, webhook keys, and the
// header and cookie values that the masking rules cover. Whatever reaches a log line, a report or
// the terminal passes through redact() first, so a secret is replaced by value wherever it shows
// up, in whatever message carries it. Process-wide, as the loggers are: every writer must see
// every secret, whichever case or notice made it known. Safe to use from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovik::secrets {

inline constexpr std::string_view kMask = "******";

// Remembers value as a secret, with the forms it takes when written inside a JSON text, a
// printable (repr) text or a URL. Values shorter than 4 characters are not remembered: masking
// every "1" or "ab" would make every report unreadable.
void add(std::string_view value);
// Whether any secret is known.
bool any();
// Grows whenever a new secret (or form of one) becomes known: a text redacted at one generation
// may hold a secret of a later one.
std::uint64_t generation();
// text with every known secret, in each of its forms, replaced by kMask; the longest first, so a
// secret that holds another is masked whole.
std::string redact(std::string_view text);
// Redacts s in place; false when nothing was there to redact (the common case, and cheap).
bool redact_in_place(std::string& s);
// Forgets every secret (tests).
void clear();

}  // namespace tovik::secrets
