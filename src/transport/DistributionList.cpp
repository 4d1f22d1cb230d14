#include "transport/DistributionList.h"

#include "common/FileAccess.h"
#include "common/StringBuffer.h"

namespace norvane {

bool DistributionList::add(std::string_view address) {
    std::string a(sb::trimView(address));
    if (a.find('@') == std::string::npos)
        return false;
    for (const std::string& e : entries_)
        if (sb::equalsNoCase(e, a))
            return true;
    entries_.push_back(std::move(a));
    return true;
}

int DistributionList::loadFile(std::string_view path, LogBase& log) {
    entries_.clear();
    path_.assign(path);
    std::string text;
    if (path.empty() || !file::readWholeFile(path, text, &log))
        return -1;
    // Lines may end in CR LF, LF or a lone CR; blank lines are skipped like any line without
    // an address.
    int added = 0;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r')
            continue;
        std::string line(sb::trimView(std::string_view(text).substr(start, i - start)));
        start = i + 1;
        if (!line.empty() && line.find('@') != std::string::npos) {
            entries_.push_back(std::move(line));
            ++added;
        }
    }
    return added;
}

} // namespace norvane
