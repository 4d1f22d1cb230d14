#pragma once

// The ordered header fields of one MIME entity. Parsing unfolds lines, detects the charset of
// raw 8-bit header text and stores every value as UTF-8; rendering encodes and folds again.
// Duplicate names are kept in order (Received); Content-Type is kept once, the last one parsed.
//
// Limits: only the first 1000 non-empty header lines are read; the rest is ignored. Nothing here
// reports errors: a line without a colon is dropped.

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
    // Clears, then parses the header block: the text up to the first blank line (after line
    // ends are normalised to CR LF), or all of it.
    void loadFromText(std::string_view text);

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
    void setField(std::string_view name, std::string_view value);
    void replaceField(const MimeField& field) { setField(field.name(), field.value()); }
    // Appends as it is, duplicates allowed; the header takes ownership.
    void addField(std::unique_ptr<MimeField> field);
    void removeField(std::string_view name);
    void removeEmptyFields();
    void copyFrom(const MimeHeader& other);
    // setField for each field of other, in order.
    void mergeFrom(const MimeHeader& other);

    // Appends every field not starting with excludePrefix (any case; empty excludes nothing),
    // encoded for cs (or the charset detected when parsing, if cs is none), separated by CR LF.
    // The result carries no trailing line break.
    void render(StringBuffer& out, std::string_view excludePrefix, const Charset& cs) const;
    // As render, with each field on one line (the folds "\r\n\t" removed).
    void renderUnfolded(StringBuffer& out, std::string_view excludePrefix, const Charset& cs) const;
    // Sum of name length + value length + 4 over the fields.
    [[nodiscard]] int sizeEstimate() const;

    // The code page detected by the last parse, 0 when none.
    [[nodiscard]] int headerCodePage() const { return headerCodePage_; }

    // Header lines read at most; later lines are ignored.
    static constexpr size_t kMaxLines = 1000;

private:
    void detectCharset(std::string_view block);
    void flushLine(std::string& acc);
    void renderFields(StringBuffer& out, std::string_view excludePrefix, const Charset& cs,
                      bool unfold) const;

    ExtPtrArray<MimeField> fields_;
    int headerCodePage_ = 0;
};

} // namespace norvane
