#pragma once

// The ordered header fields of one MIME entity. Parsing unfolds lines, detects the charset of
// raw 8-bit header text and stores every value as UTF-8; rendering encodes and folds again.
// Duplicate names are kept in order (Received); Content-Type is kept once, the last one parsed.
//
// The header ends at the first blank line (one holding only blanks counts) or at the first line
// that is not a field, which then opens the body (RFC 5322 2.2, 3.5).
//
// Limits: only the first 10,000 fields are kept (a folded field counts once, however many lines
// it spans); the rest of the header is skipped. Nothing here reports errors.

#include "common/ExtPtrArray.h"
#include "common/StringBuffer.h"
#include "mime/MimeField.h"

#include <memory>
#include <string_view>

namespace norvane {

class Charset;

class MimeHeader {
public:
    MimeHeader() = default;
    MimeHeader(MimeHeader&&) noexcept = default;
    MimeHeader& operator=(MimeHeader&&) noexcept = default;

    void clear();
    // Clears, then parses the header block at the start of text (lines end in LF or CR LF).
    // Returns the offset in text where the body starts (text.size() when there is none).
    size_t loadFromText(std::string_view text);
    // Where the header block at the start of text ends (the offset of the line that closes it)
    // and, in bodyStart, where the body after it starts.
    [[nodiscard]] static size_t headerEnd(std::string_view text, size_t& bodyStart);

    [[nodiscard]] int fieldCount() const { return static_cast<int>(fields_.getSize()); }
    // Null for an index out of range.
    [[nodiscard]] MimeField* fieldAt(int index) const;
    // Append name / value of field index to out; nothing for a bad index.
    void fieldName(int index, StringBuffer& out) const;
    void fieldValue(int index, StringBuffer& out) const;
    // Appends the value of the first field called name (any case); false when there is none.
    [[nodiscard]] bool getField(std::string_view name, StringBuffer& out) const;
    // The first field called name, or null.
    [[nodiscard]] const MimeField* findField(std::string_view name) const;
    [[nodiscard]] bool hasField(std::string_view name) const { return findField(name) != nullptr; }

    // Removes every field called name, then appends a new one at the end unless value is empty
    // after trimming: setting a field moves it last, setting it empty deletes it.
    // False (nothing changed) when name is not a valid field name (MimeField::isValidName).
    // Encoded words in value are decoded unless decodeWords is false: text a user typed is
    // taken as it stands, even when it looks like an encoded word.
    bool setField(std::string_view name, std::string_view value, bool decodeWords = true);
    void replaceField(const MimeField& field) { setField(field.name(), field.value()); }
    // Appends as it is, duplicates allowed; the header takes ownership.
    void addField(std::unique_ptr<MimeField> field);
    void removeField(std::string_view name);
    void copyFrom(const MimeHeader& other);
    // setField for each field of other, in order.
    void mergeFrom(const MimeHeader& other);

    // Appends every field not starting with excludePrefix (any case; empty excludes nothing),
    // encoded for cs (or the charset detected when parsing, if cs is none), separated by CR LF.
    // The result carries no trailing line break.
    void render(StringBuffer& out, std::string_view excludePrefix, const Charset& cs) const;
    // Sum of name length + value length + 4 over the fields.
    [[nodiscard]] int sizeEstimate() const;

    // The code page detected by the last parse, 0 when none.
    [[nodiscard]] int headerCodePage() const { return headerCodePage_; }

    // Fields read at most; later fields are skipped. Generous, since a folded recipient list
    // alone may span thousands of lines.
    static constexpr size_t kMaxFields = 10000;

private:
    void detectCharset(std::string_view block);
    void flushLine(std::string& acc);

    ExtPtrArray<MimeField> fields_;
    int headerCodePage_ = 0;
};

} // namespace norvane
