#include "email/ReplacePatterns.h"

#include "common/Logger.h"

#include <algorithm>

namespace norvane::replace_patterns {

bool setPattern(ExtPtrArray<StringPair>& pairs, std::string_view pattern,
                std::string_view replacement) {
    if (pattern.empty())
        return false;
    std::erase_if(pairs.items(), [&](const auto& p) { return p->name == pattern; });
    pairs.appendObject(
        std::make_unique<StringPair>(std::string(pattern), std::string(replacement)));
    return true;
}

const StringPair* findPattern(const ExtPtrArray<StringPair>& pairs, std::string_view pattern) {
    for (const auto& p : pairs)
        if (p->name == pattern)
            return p.get();
    return nullptr;
}

std::unique_ptr<Email2> copyForSending(const Email2& email, const ExtPtrArray<StringPair>& pairs,
                                       LogBase& log) {
    auto* logger = dynamic_cast<Logger*>(&log);
    for (const auto& p : pairs) {
        const std::string text = "Replacing [" + p->name + "] with [" + p->value + "]";
        if (logger)
            (void)logger->logInfo(text, "SendEmail");
        else
            (void)log.logInfo(text);
    }
    return email.withReplacements(pairs, log);
}

} // namespace norvane::replace_patterns
