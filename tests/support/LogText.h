#pragma once

#include "common/LogBase.h"
#include "common/StringBuffer.h"

#include <string>

namespace norvane::test {

// The text form of a log (one line per message or data item).
inline std::string logText(const LogBase& log) {
    StringBuffer sb;
    log.getLastErrorText(sb);
    return sb.str();
}

// The XML form of a log, as LastErrorXml hands it out before line-end conversion.
inline std::string logXml(const LogBase& log) {
    StringBuffer sb;
    log.getLastErrorXml(sb);
    return sb.str();
}

} // namespace norvane::test
