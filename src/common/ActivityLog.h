#pragma once

#include "common/ExtPtrArray.h"
#include "common/StringBuffer.h"

#include <string>
#include <string_view>

namespace norvane {

// One entry of the activity log.
struct LogEntry : NorvaneObject {
    char kind = 'M';     // 'M' message, 'C' context start, 'E' context end, 'D' data item
    char severity = '0'; // messages: 'E' error, 'I' info, 'D' debug; '0' otherwise
    std::string text;    // message line, context name, or data value
    std::string name;    // data item name, or a message's keyword
    bool continuation = false;
};

// The entry list and its three renderings. Arguments arrive already prepared by Logger.
class ActivityLog {
public:
    void clear() { entries_.removeAllObjects(); }
    void addMessage(char severity, std::string_view text, std::string_view keyword,
                    bool continuation);
    void enterContext(std::string_view name);
    void leaveContext();
    void addData(std::string_view name, std::string_view value);

    void renderText(StringBuffer& out) const;
    void renderHtml(StringBuffer& out) const;
    void renderXml(StringBuffer& out) const;
    [[nodiscard]] bool saveXml(const char* path) const;

    [[nodiscard]] size_t entryCount() const { return entries_.getSize(); }

private:
    void renderLines(StringBuffer& out, std::string_view lineTemplate, bool escapeHtml) const;
    ExtPtrArray<LogEntry> entries_;
};

} // namespace norvane
