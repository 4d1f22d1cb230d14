#pragma once

#include "common/Logger.h"

#include <string>
#include <string_view>

namespace norvane {

// Common base of the façades: owns the activity log of the most recent public call and renders
// it for the caller.
class ClsBase {
public:
    ClsBase();
    virtual ~ClsBase() = default;
    ClsBase(const ClsBase&) = delete;
    ClsBase& operator=(const ClsBase&) = delete;

    // The log of the last public call that did work, with CR LF line ends. Reading it changes
    // nothing.
    [[nodiscard]] std::string get_LastErrorText() const;
    [[nodiscard]] std::string get_LastErrorXml() const;
    [[nodiscard]] std::string get_LastErrorHtml() const;
    // Writes the log as an XML document; false for a null or blank name or a failed write.
    bool SaveLastError(const char* fileName) const;
    // The class of the last call's failure; None when it succeeded.
    [[nodiscard]] ErrorCode get_LastErrorCode() const { return m_log.error(); }

    // For the public API layer, around every call it forwards: a call starts with no error
    // class, and one that failed without naming a cause gets Failed.
    void beginCall() { m_log.resetError(); }
    void endCall(bool failed) {
        if (failed)
            m_log.setError(ErrorCode::Failed);
        else
            m_log.resetError();
    }

protected:
    // The frame of a public member: the log is cleared (unless the member collects several
    // contexts in one log), the member's context opened, and closed again on every return path.
    class Frame {
    public:
        enum class Clear { Yes, No };
        Frame(Logger& log, std::string_view name, Clear clear = Clear::Yes) : log_(log) {
            if (clear == Clear::Yes)
                log_.clearLog();
            log_.enterContext(name);
        }
        ~Frame() { log_.leaveContext(); }
        Frame(const Frame&) = delete;
        Frame& operator=(const Frame&) = delete;

    private:
        Logger& log_;
    };

    Logger m_log;
};

} // namespace norvane
