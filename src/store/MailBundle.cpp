#include "store/MailBundle.h"

namespace norvane {

Email2* MailBundle::get(int index) const {
    return index < 0 ? nullptr : emails_.elementAt(static_cast<size_t>(index));
}

void MailBundle::add(std::unique_ptr<Email2> email) {
    if (email)
        emails_.appendObject(std::move(email));
}

std::unique_ptr<Email2> MailBundle::take(int index) {
    return index < 0 ? nullptr : emails_.removeAt(static_cast<size_t>(index));
}

void MailBundle::transferAll(const std::function<void(std::unique_ptr<Email2>)>& sink) {
    for (int i = count(); i > 0; --i) {
        std::unique_ptr<Email2> email = take(i - 1);
        email->normalizeTransferEncodings();
        sink(std::move(email));
    }
}

void MailBundle::sort(MailSortKey key, bool ascending) {
    MailSort::sort(emails_.items(), key, ascending, [](const Email2& e) { return &e; });
}

} // namespace norvane
