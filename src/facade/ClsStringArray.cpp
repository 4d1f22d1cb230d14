#include "facade/ClsStringArray.h"

#include <memory>

namespace norvane {

bool ClsStringArray::Append(const char* str) {
    if (!str)
        return m_log.fail(ErrorCode::BadArgument, "Null string");
    append(std::string_view(str));
    return true;
}

std::string ClsStringArray::GetString(int index) {
    Frame frame(m_log, "GetString");
    std::string out;
    if (!get(index, out)) {
        m_log.fail(ErrorCode::BadArgument, "Index out of range");
        m_log.logDataLong("index", index);
    }
    return out;
}

void ClsStringArray::Clear() {
    strings_.removeAllObjects();
    counts_ = HashMap<Count>();
}

void ClsStringArray::append(const char* text) {
    if (text)
        append(std::string_view(text));
}

void ClsStringArray::append(std::string_view text) {
    auto s = std::make_unique<StringBuffer>(text);
    if (trim_)
        s->trim2();
    if (crlf_)
        s->toCRLF();
    else
        (void)s->replaceAllOccurances("\r\n", "\n");
    if (Count* c = counts_.hashLookup(s->view())) {
        if (unique_)
            return;
        ++c->n;
    } else {
        auto fresh = std::make_unique<Count>();
        fresh->n = 1;
        counts_.hashInsert(s->view(), std::move(fresh));
    }
    strings_.appendObject(std::move(s));
}

void ClsStringArray::appendAll(const ClsStringArray& other) {
    // Copied first: other may be this array.
    std::vector<std::string> items;
    items.reserve(other.strings_.getSize());
    for (const auto& s : other.strings_)
        items.push_back(s->str());
    for (const auto& s : items)
        append(std::string_view(s));
}

bool ClsStringArray::get(int index, std::string& out) const {
    out.clear();
    const StringBuffer* s = index < 0 ? nullptr : strings_.elementAt(static_cast<size_t>(index));
    if (!s)
        return false;
    out = s->str();
    return true;
}

bool ClsStringArray::getString(int index, XString& out) const {
    out.clear();
    std::string s;
    if (!get(index, s))
        return false;
    if (utf8_)
        out.setFromUtf8(s);
    else
        out.setFromAnsi(s);
    return true;
}

} // namespace norvane
