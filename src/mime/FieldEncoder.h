#pragma once

// Turns one stored header value (unfolded, already in the target charset) into wire text:
// plain folding for 7-bit values, and the structured encoder that re-quotes parameters and
// writes 8-bit text as RFC 2047 encoded words while leaving <addresses> readable.
//
// Folding and unfolding (RFC 5322 2.2.3) round-trip exactly: unfolding removes only the CR LF.
// Unstructured fields (Subject and the like) are therefore folded only before white space that
// is already in the value. Structured fields (parameter and address lists) are also broken after
// a ';' or ',' with "\r\n\t"; the parser drops the one blank after such a separator, and white
// space there is insignificant anyway.

#include <string>
#include <string_view>

namespace norvane {

class FieldEncoder {
public:
    enum class WordForm { Q, B };

    // fieldName decides whether values are written raw (Received, Content-Location,
    // Content-Transfer-Encoding); charsetName labels the encoded words.
    FieldEncoder(std::string_view fieldName, WordForm form, std::string_view charsetName);

    // Appends value to buf, breaking the line with "\r\n\t" after a ';' outside double quotes
    // once the column (counted from the current length of buf) is past 20; long address lists
    // (over 60 bytes with '@' and ',') break after their commas the same way.
    // Unstructured values (structured false) are folded only before their own blanks, once a
    // line reaches 76 columns.
    static void plainFold(std::string_view value, std::string& buf, bool structured);

    // The structured encoder. out holds "Name: " on entry and the whole field afterwards.
    void encodeStructured(std::string_view value, std::string& out) const;

private:
    // Pending output of the structured encoder: the line being filled and the finished text.
    struct Lines {
        std::string line;
        std::string out;
        void flush();
        void complete(std::string& param);
    };

    static void foldBeforeBlanks(std::string_view value, std::string& buf);
    void encodeWords(std::string_view bytes, std::string& buf) const;
    void encodeRun(std::string_view bytes, std::string& buf) const;
    void encodeParams(std::string_view rest, Lines& lines, std::string& param) const;
    // Appends one parameter value ('=' already consumed) to param; returns the bytes after it.
    [[nodiscard]] std::string_view encodeParamValue(std::string_view rest,
                                                    std::string& param) const;

    bool raw_;
    bool structured_;
    WordForm form_;
    std::string charset_;
};

} // namespace norvane
