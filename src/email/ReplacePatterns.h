#pragma once

// The mail-merge replace patterns an e-mail carries until it is sent: an ordered list of
// (pattern, replacement) pairs, at most one per pattern, and the substituted copy that is sent
// in place of the e-mail.

#include "common/ExtPtrArray.h"
#include "common/LogBase.h"
#include "common/StringPair.h"
#include "email/Email2.h"

#include <memory>
#include <string_view>

namespace norvane::replace_patterns {

// Removes any pair with the same pattern and appends the new one at the end. False (nothing
// changed) for an empty pattern.
bool setPattern(ExtPtrArray<StringPair>& pairs, std::string_view pattern,
                std::string_view replacement);

// The first pair with exactly this pattern; null when there is none.
[[nodiscard]] const StringPair* findPattern(const ExtPtrArray<StringPair>& pairs,
                                            std::string_view pattern);

// Logs "Replacing [pattern] with [replacement]" for each pair (attributed to "SendEmail" when
// the log is a Logger) and returns the substituted copy of email; with no pairs an identical
// copy. Null only when the copy cannot be built.
[[nodiscard]] std::unique_ptr<Email2>
copyForSending(const Email2& email, const ExtPtrArray<StringPair>& pairs, LogBase& log);

} // namespace norvane::replace_patterns
