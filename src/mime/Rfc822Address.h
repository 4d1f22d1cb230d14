#pragma once

// One mailbox of an address header (From, To, Cc, Bcc, Reply-To, ...): a display name and an
// address. Built from parts given by the caller, or parsed leniently from one entry of a header
// value; parseAddressList splits a whole header value.
//
// Names with bytes of 0x80 and above are stored as one UTF-8 Q encoded word, so the stored form
// is 7-bit; getName gives the text back. No CR, LF or other control byte ever reaches a stored
// address, and no CR, LF or NUL a stored name, so neither can break a rendered header or an
// SMTP command.

#include "common/ExtPtrArray.h"
#include "common/NorvaneObject.h"

#include <memory>
#include <string>
#include <string_view>

namespace norvane {

class Rfc822Address : public NorvaneObject {
public:
    Rfc822Address() = default;
    // From a caller's name (may be empty) and address. The address is the text between its
    // first '<' and last '>' when it has both, without spaces. A name equal to the address is
    // dropped; a name holding "?8bit?" words is decoded to raw bytes. Always valid.
    Rfc822Address(std::string_view name, std::string_view address);

    // One entry of an address header; null when it holds no address with an at sign, or is an
    // "undisclosed recipients" placeholder.
    [[nodiscard]] static std::unique_ptr<Rfc822Address> parseAddress(std::string_view text);
    // Splits a header value at commas outside double quotes and appends each new address to
    // list; an address already in list (compared without case) is not added again. Returns the
    // number of valid entries, duplicates included.
    static int parseAddressList(std::string_view text, ExtPtrArray<Rfc822Address>& list);

    // Whether text a caller gives as an address may be taken at all: no control byte (a line
    // break would glue or inject text), and an address part (what parsing keeps) free of the
    // characters that cannot stand in an unquoted address: blanks and <>()[],;:"\.
    [[nodiscard]] static bool isAcceptable(std::string_view text, std::string_view address);
    // The same for a bare address, optionally in angle brackets.
    [[nodiscard]] static bool isAcceptable(std::string_view address);

    void setName(std::string_view name);
    // The text between the first '<' and the last '>' (the whole text without them), spaces
    // removed.
    void setAddress(std::string_view text);

    [[nodiscard]] bool isValid() const { return valid_; }
    [[nodiscard]] bool hasName() const { return !name_.empty(); }
    [[nodiscard]] const std::string& getAddress() const { return address_; }
    [[nodiscard]] const std::string& getRawName() const { return name_; }
    [[nodiscard]] const std::string& getFullText() const { return fullText_; }
    // The display name as UTF-8 text (encoded words decoded); empty when there is none.
    [[nodiscard]] std::string getName() const;

    // Header form, appended to out: "\"name\" <address>" with '"' and '\' in the name escaped,
    // or the address alone when there is no name.
    void renderRaw(std::string& out) const;
    // The same with the decoded name, for display.
    void renderDisplay(std::string& out) const;
    // The <address> element of the e-mail XML form, appended to out.
    void toXml(std::string& out) const;

    // Replaces every occurrence of from in the full text, name and address; true if any.
    bool replaceText(std::string_view from, std::string_view to);

    [[nodiscard]] std::unique_ptr<Rfc822Address> clone() const;
    void copyFrom(const Rfc822Address& other);

private:
    bool valid_ = false;
    std::string fullText_;
    std::string name_;
    std::string address_;
};

} // namespace norvane
