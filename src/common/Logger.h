#pragma once

#include "common/ActivityLog.h"
#include "common/LogBase.h"

namespace norvane {

// The façade's log: prepares arguments (splits messages into lines, trims data names) and keeps
// them in its ActivityLog.
class Logger final : public LogBase {
public:
    void getLastErrorXml(StringBuffer& out) const override { log_.renderXml(out); }
    void getLastErrorHtml(StringBuffer& out) const override { log_.renderHtml(out); }
    void getLastErrorText(StringBuffer& out) const override { log_.renderText(out); }
    bool logError(std::string_view text) override { return logLines('E', text, {}); }
    bool logInfo(std::string_view text) override { return logLines('I', text, {}); }
    bool logDebug(std::string_view text) override { return logLines('D', text, {}); }
    bool logXml(std::string_view xml) override;
    bool clearLog() override;
    bool enterContext(std::string_view name) override;
    bool leaveContext() override;
    bool logData(std::string_view name, std::string_view value) override;
    bool logDataLong(std::string_view name, long value) override;
    bool saveLastErrorXml(const char* path) const override;

    // An info message attributed to another public member (stored as the lines' keyword).
    bool logInfo(std::string_view text, std::string_view keyword) {
        return logLines('I', text, keyword);
    }

    [[nodiscard]] size_t entryCount() const { return log_.entryCount(); }

private:
    bool logLines(char severity, std::string_view text, std::string_view keyword);
    ActivityLog log_;
};

} // namespace norvane
