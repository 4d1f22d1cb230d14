#pragma once

// The internal list of e-mails that the mail manager and the bundle XML reader fill while they
// work; its e-mails are then handed to a public bundle. Owns its e-mails, in insertion order.

#include "common/ExtPtrArray.h"
#include "common/LogBase.h"
#include "common/NorvaneObject.h"
#include "email/Email2.h"
#include "store/EmailXml.h"
#include "store/MailSort.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace norvane {

class MailBundle : public NorvaneObject {
public:
    MailBundle() = default;
    MailBundle(const MailBundle&) = delete;
    MailBundle& operator=(const MailBundle&) = delete;
    MailBundle(MailBundle&&) noexcept = default;
    MailBundle& operator=(MailBundle&&) noexcept = default;

    [[nodiscard]] int count() const { return static_cast<int>(emails_.getSize()); }
    // Null for an index out of range; the bundle keeps ownership.
    [[nodiscard]] Email2* get(int index) const;
    // Appends; a null e-mail is ignored.
    void add(std::unique_ptr<Email2> email);
    // Removes the e-mail at index and hands it to the caller; null (nothing changed) for an
    // index out of range.
    [[nodiscard]] std::unique_ptr<Email2> take(int index);
    void clear() { emails_.removeAllObjects(); }

    // Empties the bundle into sink, from the last e-mail to the first, each with its transfer
    // encodings normalised. The bundle XML is written from the last e-mail to the first as
    // well, so appending in sink order keeps the order of an XML round trip.
    void transferAll(const std::function<void(std::unique_ptr<Email2>)>& sink);

    // Stable sort in place (see MailSort).
    void sort(MailSortKey key, bool ascending);

    // "<email_bundle>\n", each e-mail from the last to the first, "</email_bundle>\n".
    void toXml(std::string& out, LogBase& log) const { EmailXml::bundleToXml(*this, out, log); }
    // Appends the e-mails of bundle XML in document order; false when the text holds no XML.
    [[nodiscard]] bool loadXml(std::string_view xml, LogBase& log,
                               const EmailXmlOptions& options = {}) {
        return EmailXml::bundleFromXml(xml, *this, log, options);
    }

private:
    ExtPtrArray<Email2> emails_;
};

} // namespace norvane
