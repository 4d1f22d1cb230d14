#pragma once

// The public bundle: an ordered list of e-mail objects that callers fill, sort, search, save
// and load as XML, and that the mail manager hands out after fetching. Each entry is a whole
// e-mail object with its own log; the bundle owns them.
//
// Conventions as for ClsEmail: UTF-8 strings, nullable C-string arguments, 0-based indexes,
// framed members leave the log describing themselves. Members that call into the e-mails of
// the bundle (AddEmail, RemoveEmail, GetXml, SortByRecipient) also overwrite those e-mails'
// logs, as their own members do.

#include "facade/ClsBase.h"
#include "facade/ClsEmail.h"

#include "common/ExtPtrArray.h"
#include "store/MailSort.h"

#include <memory>
#include <string>
#include <string_view>

namespace norvane {

class ClsStringArray;
class MailBundle;

class ClsEmailBundle : public ClsBase {
public:
    ClsEmailBundle() = default;
    ~ClsEmailBundle() override;

    // For in-process peers (the mail manager): the object itself.
    [[nodiscard]] ClsEmailBundle* GetImpl() { return this; }

    [[nodiscard]] int get_MessageCount() const { return static_cast<int>(emails_.getSize()); }
    // Appends a copy of email (its Clone, which rewrites email's log); false for a null e-mail
    // or a copy that cannot be built.
    bool AddEmail(ClsEmail* email);
    // A new, independent copy of the e-mail at index (the caller owns it); null when out of
    // range or when the copy cannot be built. Leaves the log alone.
    [[nodiscard]] std::unique_ptr<ClsEmail> GetEmail(int index) const;
    // Removes the first e-mail with the same X-UIDL value, else (or when none matches) the
    // first with the same Message-ID. False when nothing matched or email carries neither.
    bool RemoveEmail(ClsEmail* email);
    bool RemoveEmailByIndex(int index);

    // "<email_bundle>\n", the XML form of each e-mail from the last to the first,
    // "</email_bundle>\n".
    [[nodiscard]] std::string GetXml();
    // The XML declaration followed by GetXml; false when the file cannot be written.
    bool SaveXml(const char* fileName);
    // Appends the e-mails of bundle XML after the existing ones, in the order they were saved.
    // False when the file cannot be read or the text holds no XML; the bundle keeps what it
    // had.
    bool LoadXml(const char* fileName);
    bool LoadXmlString(const char* str);
    bool LoadXmlString(std::string_view str);

    // The X-UIDL value of every e-mail that has one, in bundle order, duplicates kept. The
    // caller owns the array.
    [[nodiscard]] std::unique_ptr<ClsStringArray> GetUidls();

    // Stable sorts: e-mails with equal keys keep their order, in either direction.
    void SortBySubject(bool ascending);
    void SortBySender(bool ascending);
    void SortByDate(bool ascending);
    void SortByRecipient(bool ascending);

    // ---- for in-process peers ----

    // Clears the log and appends email without copying; false (nothing changed) for null.
    bool injectEmail(std::unique_ptr<ClsEmail> email);
    // Clears the log and empties bundle into this one: its e-mails are taken from the last to
    // the first, each normalised for transfer, wrapped in a new e-mail object and appended.
    void transferFrom(MailBundle& bundle);
    // The e-mail object at index, still owned by the bundle; null when out of range.
    [[nodiscard]] ClsEmail* emailAt(int index) const;

private:
    // The e-mails are written from the last to the first, which is the order loadXmlText
    // undoes.
    void appendXml(std::string& xml);
    [[nodiscard]] bool loadXmlText(std::string_view xml);
    void appendAllOf(MailBundle& bundle);
    void sortBy(MailSortKey key, bool ascending);

    ExtPtrArray<ClsEmail> emails_;
};

} // namespace norvane
