#include "xml/ParseEngine.h"

#include "common/StringBuffer.h"

namespace norvane {

bool ParseEngine::captureToNextChar(char c, std::string& out) {
    size_t end = text_.find(c, pos_);
    bool found = end != std::string_view::npos;
    if (!found)
        end = text_.size();
    out.assign(text_.substr(pos_, end - pos_));
    pos_ = end;
    return found;
}

bool ParseEngine::captureToNextAnyOf(std::string_view set, std::string& out) {
    size_t end = text_.find_first_of(set, pos_);
    bool found = end != std::string_view::npos;
    if (!found)
        end = text_.size();
    out.assign(text_.substr(pos_, end - pos_));
    pos_ = end;
    return found;
}

bool ParseEngine::captureBalanced(char open, char close, std::string& out) {
    out.clear();
    if (peek() != open)
        return false;
    size_t depth = 0;
    for (size_t i = pos_; i < text_.size(); ++i) {
        if (text_[i] == open) {
            ++depth;
        } else if (text_[i] == close && --depth == 0) {
            out.assign(text_.substr(pos_, i + 1 - pos_));
            pos_ = i + 1;
            return true;
        }
    }
    return false;
}

size_t ParseEngine::skipChars(std::string_view set) {
    size_t end = text_.find_first_not_of(set, pos_);
    if (end == std::string_view::npos)
        end = text_.size();
    size_t n = end - pos_;
    pos_ = end;
    return n;
}

size_t ParseEngine::find(std::string_view s, bool caseSensitive) const {
    if (caseSensitive)
        return text_.find(s, pos_);
    size_t at = sb::findNoCase(remaining(), s);
    return at == std::string_view::npos ? at : pos_ + at;
}

bool ParseEngine::seekTo(std::string_view s, bool caseSensitive) {
    size_t at = find(s, caseSensitive);
    if (at == std::string_view::npos)
        return false;
    pos_ = at;
    return true;
}

bool ParseEngine::seekPast(std::string_view s, bool caseSensitive) {
    size_t at = find(s, caseSensitive);
    if (at == std::string_view::npos)
        return false;
    pos_ = at + s.size();
    return true;
}

} // namespace norvane
