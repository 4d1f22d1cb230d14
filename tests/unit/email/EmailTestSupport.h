#pragma once

// Makes e-mails repeatable: UUIDs come from a counter, the clock stands at a fixed time and the
// local zone is UTC, so Message-IDs, Content-IDs, boundaries and Date fields are known.

#include "common/Platform.h"
#include "email/Email2.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace norvane::test {

// 2024-03-05 14:07:09 UTC, a Tuesday.
inline constexpr std::time_t kFixedNow = 1709647629;
inline constexpr std::string_view kFixedDate = "Tue, 05 Mar 2024 14:07:09 +0000";

// The n-th UUID the counter hands out (1-based): "00000000-0000-4000-8000-" + 12 hex digits.
inline std::string testUuid(int n) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "00000000-0000-4000-8000-%012x", n);
    return buf;
}

// The boundary newBoundary makes from testUuid(n).
inline std::string testBoundary(int n, std::string_view suffix) {
    const std::string u = testUuid(n);
    return "----=_NextPart_" + u.substr(0, 3) + "_" + u.substr(3, 4) + "_" + u.substr(9, 4) +
           u.substr(14, 4) + "." + u.substr(24, 8) + std::string(suffix);
}

inline std::string messageIdHost() {
    const std::string h = platform::localHostName();
    return h.empty() ? "unknown" : h;
}

class DeterministicEmailTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setUuidGeneratorForTesting([this] { return testUuid(++uuids_); });
        platform::setNowForTesting([] { return kFixedNow; });
        platform::setLocalOffsetForTesting([](std::time_t) { return 0L; });
    }
    void TearDown() override {
        platform::setUuidGeneratorForTesting({});
        platform::setNowForTesting({});
        platform::setLocalOffsetForTesting({});
    }

    [[nodiscard]] static std::string render(const Email2& e, std::string_view skip = {}) {
        StringBuffer out;
        LogNull log;
        e.renderMime(out, skip, log);
        return out.str();
    }

    // The header of a new e-mail whose Message-ID used UUID n.
    [[nodiscard]] static std::string defaultHeaderStart(int n) {
        return "MIME-Version: 1.0\r\nDate: " + std::string(kFixedDate) +
               "\r\nMessage-ID: <NORVANE-MID-" + testUuid(n) + "@" + messageIdHost() + ">\r\n";
    }

    int uuids_ = 0;
};

// The header's field names in order.
inline std::vector<std::string> fieldNames(const Email2& e) {
    std::vector<std::string> out;
    for (int i = 0; i < e.header().fieldCount(); ++i)
        out.push_back(e.header().fieldAt(i)->name());
    return out;
}

// One header field's value ("" when absent).
inline std::string field(const Email2& e, std::string_view name) {
    StringBuffer v;
    (void)e.getHeaderField(name, v);
    return v.str();
}

inline std::unique_ptr<Email2> parse(std::string_view text) {
    LogNull log;
    return Email2::fromMime(text, log);
}

// The tree as "type(child,child)"; a type parameter follows its type in brackets.
inline std::string shape(const Email2& e) {
    std::string s = e.contentType();
    if (!e.typeParam().empty())
        s += "[" + e.typeParam() + "]";
    if (e.partCount() == 0)
        return s;
    for (int i = 0; i < e.partCount(); ++i)
        s += (i ? "," : "(") + shape(*e.partAt(i));
    return s + ")";
}

inline Charset charsetOf(int cp) {
    Charset cs;
    cs.setByCodePage(cp);
    return cs;
}

} // namespace norvane::test
