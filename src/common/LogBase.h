#pragma once

#include "common/StringBuffer.h"
#include "norvane/Error.h"

#include <string_view>

namespace norvane {

// The interface every internal operation reports through. The façade's Logger records;
// LogNull discards. Results only say whether the arguments were accepted.
class LogBase {
public:
    virtual ~LogBase() = default;

    // Renderers append to out; an empty log renders nothing.
    virtual void getLastErrorXml(StringBuffer& out) const = 0;
    virtual void getLastErrorHtml(StringBuffer& out) const = 0;
    virtual void getLastErrorText(StringBuffer& out) const = 0;

    // Each CR/LF-separated piece of text becomes one message line; false for empty text.
    virtual bool logError(std::string_view text) = 0;
    virtual bool logInfo(std::string_view text) = 0;
    virtual bool logDebug(std::string_view text) = 0;
    // A data item "__xml__" holding raw XML, written unescaped into the XML form.
    virtual bool logXml(std::string_view xml) = 0;
    virtual bool clearLog() = 0;
    virtual bool enterContext(std::string_view name) = 0;
    // Closes the innermost context; an empty one vanishes.
    virtual bool leaveContext() = 0;
    // Name is trimmed and inner blanks become "_"; false when nothing is left of it.
    virtual bool logData(std::string_view name, std::string_view value) = 0;
    virtual bool logDataLong(std::string_view name, long value) = 0;
    // Writes the XML document (with declaration) to path; false when it cannot be written.
    virtual bool saveLastErrorXml(const char* path) const = 0;

    // The class of failure a program can act on. The first one reported since resetError is
    // kept: it names the cause, and what fails after it is usually a consequence.
    void setError(ErrorCode code) {
        if (error_ == ErrorCode::None)
            error_ = code;
    }
    [[nodiscard]] ErrorCode error() const { return error_; }
    void resetError() { error_ = ErrorCode::None; }

    // logError and setError in one step, for the places that know the class; always false,
    // so that a failing operation can end with `return log.fail(...)`.
    bool fail(ErrorCode code, std::string_view text) {
        setError(code);
        logError(text);
        return false;
    }

private:
    ErrorCode error_ = ErrorCode::None;
};

// Accepts and discards everything.
class LogNull final : public LogBase {
public:
    void getLastErrorXml(StringBuffer&) const override {}
    void getLastErrorHtml(StringBuffer&) const override {}
    void getLastErrorText(StringBuffer&) const override {}
    bool logError(std::string_view) override { return true; }
    bool logInfo(std::string_view) override { return true; }
    bool logDebug(std::string_view) override { return true; }
    bool logXml(std::string_view) override { return true; }
    bool clearLog() override { return true; }
    bool enterContext(std::string_view) override { return true; }
    bool leaveContext() override { return true; }
    bool logData(std::string_view, std::string_view) override { return true; }
    bool logDataLong(std::string_view, long) override { return true; }
    bool saveLastErrorXml(const char*) const override { return true; }
};

// Opens a context for the lifetime of a scope, so that every return path closes it.
class LogContext {
public:
    LogContext(LogBase& log, std::string_view name) : log_(log) { log_.enterContext(name); }
    ~LogContext() { log_.leaveContext(); }
    LogContext(const LogContext&) = delete;
    LogContext& operator=(const LogContext&) = delete;

private:
    LogBase& log_;
};

} // namespace norvane
