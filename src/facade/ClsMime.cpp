#include "facade/ClsMime.h"

namespace norvane {

bool ClsMime::LoadMime(const char* mimeText) {
    if (!mimeText)
        return m_log.fail(ErrorCode::BadArgument, "Null MIME text");
    return LoadMime(std::string_view(mimeText));
}

bool ClsMime::LoadMime(std::string_view mimeText) {
    mime_.assign(mimeText);
    return true;
}

} // namespace norvane
