#include "common/Logger.h"

#include <string>

namespace norvane {

bool Logger::logLines(char severity, std::string_view text, std::string_view keyword) {
    if (text.empty())
        return false;
    bool first = true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view piece = text.substr(start, end - start);
        if (!piece.empty()) {
            if (first)
                log_.addMessage(severity, piece, keyword, false);
            else
                log_.addMessage(severity, std::string("  ").append(piece), keyword, true);
            first = false;
        }
        start = end + 1;
    }
    return true;
}

bool Logger::logXml(std::string_view xml) {
    log_.addData("__xml__", xml);
    return true;
}

bool Logger::clearLog() {
    log_.clear();
    resetError();
    return true;
}

bool Logger::enterContext(std::string_view name) {
    log_.enterContext(name);
    return true;
}

bool Logger::leaveContext() {
    log_.leaveContext();
    return true;
}

bool Logger::logData(std::string_view name, std::string_view value) {
    std::string n(sb::trimView(name));
    if (n.empty())
        return false;
    for (char& c : n)
        if (c == ' ')
            c = '_';
    log_.addData(n, value);
    return true;
}

bool Logger::logDataLong(std::string_view name, long value) {
    return logData(name, std::to_string(value));
}

bool Logger::saveLastErrorXml(const char* path) const {
    return log_.saveXml(path);
}

} // namespace norvane
