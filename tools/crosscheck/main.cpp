// crosscheck-parse FILE: our parse of one message as one line of JSON, for crosscheck.py to
// compare with another parser's.
//
//   {"subject": "...", "from": ["name", "address"],
//    "leaves": [{"type": "...", "encoding": "...", "filename": "...", "size": N,
//                "body": "<base64>"}, ...]}
//
// Subject and From are what the e-mail object gives a user (ClsEmail, as a program loading the
// file would see them). The leaves come from the MIME tree itself, in document order: the
// e-mail object reshapes that tree (a mixed text+HTML pair becomes an alternative), which is
// no parse result to compare. A message/rfc822 leaf is parsed in turn and its leaves listed in
// its place, as other parsers do. Bodies: transfer encoding removed, text converted to UTF-8
// (the tree's own form). Strings are written byte for byte; bytes that are not UTF-8 stay as
// they are, so the reader must accept that.

#include "charset/ContentCoding.h"
#include "common/LogBase.h"
#include "common/Platform.h"
#include "common/StringBuffer.h"
#include "facade/ClsEmail.h"
#include "mime/MimeMessage2.h"

#include "JsonString.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

using namespace norvane;

namespace {

// Deeper nesting of attached messages is reported instead of followed.
constexpr int kMaxMessageDepth = 64;

// The file name a user is shown: the filename parameter, else name, encoded words decoded.
std::string fileName(const MimeMessage2& m) {
    std::string n = !m.filename().empty() ? m.filename() : m.name();
    if (sb::findNoCase(n, "?Q?") != std::string::npos ||
        sb::findNoCase(n, "?B?") != std::string::npos)
        ContentCoding::decodeWordsToUtf8(n);
    return n;
}

void appendLeaf(std::string& out, const MimeMessage2& m) {
    if (out.back() != '[')
        out += ", ";
    out += "{\"type\": ";
    appendJsonString(out, m.contentType());
    out += ", \"encoding\": ";
    appendJsonString(out, m.transferEncoding());
    out += ", \"filename\": ";
    appendJsonString(out, fileName(m));
    out += ", \"size\": " + std::to_string(m.body().getSize()) + ", \"body\": \"";
    ContentCoding::base64Encode(m.body().view(), out);
    out += "\"}";
}

bool appendLeaves(std::string& out, MimeMessage2& m, int depth) {
    if (m.partCount() > 0) {
        for (int i = 0; i < m.partCount(); ++i)
            if (!appendLeaves(out, *m.partAt(i), depth))
                return false;
        return true;
    }
    if (m.contentType() == "message/rfc822") {
        if (depth >= kMaxMessageDepth)
            return false;
        LogNull log;
        MimeMessage2 inner;
        inner.loadFromText(m.body().view(), log);
        return appendLeaves(out, inner, depth + 1);
    }
    LogNull log;
    // The e-mail object decodes uuencoded bodies after parsing; so do other parsers on request.
    m.decodeUuencodedBody(log);
    appendLeaf(out, m);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crosscheck-parse FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "crosscheck-parse: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Raw 8-bit header text is read as UTF-8 whatever the machine's locale.
    platform::setAnsiCodePage(65001);

    ClsEmail email;
    (void)email.SetFromMimeText(std::string_view(text));
    std::string out = "{\"subject\": ";
    appendJsonString(out, email.get_Subject());
    out += ", \"from\": [";
    appendJsonString(out, email.get_FromName());
    out += ", ";
    appendJsonString(out, email.get_FromAddress());
    out += "], \"leaves\": [";

    LogNull log;
    MimeMessage2 root;
    root.loadFromText(text, log);
    if (!appendLeaves(out, root, 0)) {
        std::fprintf(stderr, "crosscheck-parse: attached messages nested too deep\n");
        return 1;
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
