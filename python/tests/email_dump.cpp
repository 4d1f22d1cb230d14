// email_dump FILE...: what the public C++ classes give a program that loads each file, one line
// of JSON per file. The Python package's tests read the same files through the package and
// expect the same values, so this uses only the installed headers.
//
//   {"subject": "...", "from": ["name", "address"], "to": [["name", "address"], ...],
//    "cc": [...], "plain": "...", "html": "...", "headers": [["name", "value"], ...],
//    "attachments": [["filename", "content type", "hex"], ...],
//    "related": [["filename", "hex"], ...], "attached": ["subject", ...]}
//
// Strings are written byte for byte (only quotes, backslashes and control characters escaped),
// so text that is not UTF-8 reaches the reader as it left the library. A file that does not load
// gives the line "null".

#include <norvane/Email.h>

#include "JsonString.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string hex(const std::vector<uint8_t>& data) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string s = "\"";
    for (uint8_t b : data) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s + '"';
}

// "key": [item(0), ..., item(n-1)], each item already JSON.
void appendList(std::string& out, const char* key, int n,
                const std::function<std::string(int)>& item) {
    out += ", \"";
    out += key;
    out += "\": [";
    for (int i = 0; i < n; ++i)
        out += (i ? ", " : "") + item(i);
    out += ']';
}

std::string json(std::string_view s) {
    std::string out;
    appendJsonString(out, s);
    return out;
}

std::string pair(const std::string& a, const std::string& b) {
    return "[" + a + ", " + b + "]";
}

std::string dump(norvane::Email& e) {
    std::string out = "{\"subject\": " + json(e.get_Subject());
    out += ", \"from\": " + pair(json(e.get_FromName()), json(e.get_FromAddress()));
    appendList(out, "to", e.get_NumTo(),
               [&](int i) { return pair(json(e.GetToName(i)), json(e.GetToAddr(i))); });
    appendList(out, "cc", e.get_NumCC(),
               [&](int i) { return pair(json(e.GetCcName(i)), json(e.GetCcAddr(i))); });
    out += ", \"plain\": " + json(e.GetPlainTextBody());
    out += ", \"html\": " + json(e.GetHtmlBody());
    appendList(out, "headers", e.get_NumHeaderFields(), [&](int i) {
        return pair(json(e.GetHeaderFieldName(i)), json(e.GetHeaderFieldValue(i)));
    });
    appendList(out, "attachments", e.get_NumAttachments(), [&](int i) {
        return "[" + json(e.GetAttachmentFilename(i)) + ", " + json(e.GetAttachmentContentType(i)) +
               ", " + hex(e.GetAttachmentData(i)) + "]";
    });
    appendList(out, "related", e.get_NumRelatedItems(), [&](int i) {
        return pair(json(e.GetRelatedFilename(i)), hex(e.GetRelatedData(i)));
    });
    appendList(out, "attached", e.get_NumAttachedMessages(), [&](int i) {
        std::unique_ptr<norvane::Email> inner = e.GetAttachedMessage(i);
        return inner ? json(inner->get_Subject()) : std::string("null");
    });
    return out + "}\n";
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        norvane::Email email;
        const std::string line = email.LoadEml(argv[i]) ? dump(email) : "null\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
