#include "store/MailSort.h"

#include "charset/DateParser.h"

namespace norvane {

namespace {

int64_t timeNumber(const SystemTime& t) {
    int64_t n = t.year;
    n = n * 13 + t.month;
    n = n * 32 + t.day;
    n = n * 24 + t.hour;
    n = n * 60 + t.minute;
    n = n * 60 + t.second;
    return n * 1000 + t.milliseconds;
}

} // namespace

MailSort::Key MailSort::keyOf(const Email2* email, MailSortKey key) {
    Key k;
    if (!email)
        return k;
    switch (key) {
    case MailSortKey::Subject: {
        StringBuffer v;
        if (email->getHeaderField("Subject", v))
            k.text = std::move(v.str());
        break;
    }
    case MailSortKey::Sender:
        if (const Rfc822Address* from = email->from())
            from->renderDisplay(k.text);
        break;
    case MailSortKey::Recipient:
        if (const Rfc822Address* to = email->recipient(RecipientKind::To, 0))
            to->renderDisplay(k.text);
        break;
    case MailSortKey::Date: {
        // The local time is the UTC time shifted by the current offset, the same for every
        // e-mail, so it orders as the UTC time does; an unconvertible date stays as it is.
        SystemTime local;
        k.time = timeNumber(DateParser::utcToLocal(email->date(), local) ? local : email->date());
        break;
    }
    }
    return k;
}

int MailSort::compare(const Key& a, const Key& b, MailSortKey key) {
    if (key == MailSortKey::Date)
        return a.time < b.time ? -1 : (a.time > b.time ? 1 : 0);
    // std::string compares its chars as unsigned bytes (char_traits<char>::compare).
    return a.text.compare(b.text);
}

} // namespace norvane
