#pragma once

// One header field of a MIME entity. The value is stored unfolded, as UTF-8, with RFC 2047
// encoded words already decoded; charset conversion, encoded words and folding are applied only
// when the field is rendered.

#include "common/NorvaneObject.h"
#include "common/StringBuffer.h"

#include <memory>
#include <string>
#include <string_view>

namespace norvane {

class Charset;

class MimeField : public NorvaneObject {
public:
    MimeField() = default;
    MimeField(std::string_view name, std::string_view value, bool decodeWords = true) {
        set(name, value, decodeWords);
    }

    // Parses "Name: value" (one unfolded line). The name is trimmed and its spaces, angle
    // brackets and quote characters become '-'; one blank after the colon is skipped and the
    // value trimmed and normalised. False, with name and value empty, when there is no colon.
    [[nodiscard]] bool parseLine(std::string_view line);
    // Stores both, then normalises the value (decodes encoded words, removes folds).
    // Encoded words in value are decoded unless decodeWords is false (text taken literally).
    void set(std::string_view name, std::string_view value, bool decodeWords = true);
    [[nodiscard]] std::unique_ptr<MimeField> clone() const;

    // Appends "Name: " and the value encoded for charset cs (see FieldEncoder).
    void render(StringBuffer& out, const Charset& cs) const;

    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] const std::string& value() const { return value_; }
    [[nodiscard]] bool nameIs(std::string_view name) const;

    // Fields whose value is a list (parameters, addresses): folded after ';' or ',' with an
    // added blank that is not part of the value. Every other field folds only before existing
    // white space, so that unfolding gives back exactly the value.
    [[nodiscard]] static bool isStructured(std::string_view name);
    // RFC 5322 2.2: one or more printable ASCII bytes other than ':' (no blank, no control).
    [[nodiscard]] static bool isValidName(std::string_view name);

private:
    void normaliseValue();
    void decodeWords();

    std::string name_;
    std::string value_;
};

} // namespace norvane
