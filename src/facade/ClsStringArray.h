#pragma once

// The component's own list of strings, used to build the string-array results handed to
// callers (UIDLs, linked domains). Strings are prepared as they are appended: trimmed when
// asked, line ends made CR LF (or LF), and dropped when unique is set and an equal string is
// already held.

#include "common/ExtPtrArray.h"
#include "common/HashMap.h"
#include "common/NorvaneObject.h"
#include "common/StringBuffer.h"
#include "common/XString.h"
#include "facade/ClsBase.h"

#include <string>
#include <string_view>

namespace norvane {

class ClsStringArray : public ClsBase {
public:
    ClsStringArray() = default;

    // Appends str, prepared as described above; false for a null string.
    bool Append(const char* str);
    // The number of strings held.
    [[nodiscard]] int get_Count() const { return count(); }
    // The string at index (0-based); empty, and the failure logged, when out of range.
    [[nodiscard]] std::string GetString(int index);
    // Removes every string.
    void Clear();

    // A null text is ignored.
    void append(const char* text);
    void append(std::string_view text);
    // append of every string of other, in order.
    void appendAll(const ClsStringArray& other);

    [[nodiscard]] int count() const { return static_cast<int>(strings_.getSize()); }
    // False, and out left empty, for an index out of range.
    [[nodiscard]] bool get(int index, std::string& out) const;
    // The string as UTF-8 (utf8 set) or in the ANSI code page; false when out of range.
    [[nodiscard]] bool getString(int index, XString& out) const;

    void setUnique(bool on) { unique_ = on; }
    void setTrim(bool on) { trim_ = on; }
    void setCrlf(bool on) { crlf_ = on; }
    void setUtf8(bool on) { utf8_ = on; }
    [[nodiscard]] bool unique() const { return unique_; }
    [[nodiscard]] bool trim() const { return trim_; }
    [[nodiscard]] bool crlf() const { return crlf_; }
    [[nodiscard]] bool utf8() const { return utf8_; }

private:
    struct Count : NorvaneObject {
        int n = 0;
    };

    bool utf8_ = true;
    bool unique_ = false;
    bool trim_ = false;
    bool crlf_ = true;
    ExtPtrArray<StringBuffer> strings_;
    // Occurrences of each string held, for the unique test.
    HashMap<Count> counts_;
};

} // namespace norvane
