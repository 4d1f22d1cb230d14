// Cross-check of the MIME parser against Python's email package on Python's own test messages
// (test/test_email/data/msg_*.txt of the machine's python3), which nobody here wrote.
// python_tree.py prints Python's tree; this test builds ours with the same conventions and
// compares the number of nodes, their content types in order and every leaf's decoded body.
//
// Differences that are this parser's intended behaviour, and how the comparison maps them:
// - message/rfc822 bodies stay one leaf here (the e-mail object parses attached messages on
//   demand); the test parses such a body and compares the tree inside it.
// - message/delivery-status and message/external-body are split into header blocks by Python
//   and kept as one leaf here: only their type is compared.
// - A multipart whose boundary never occurs gets one text/plain child holding its text here;
//   Python keeps the text as the multipart's payload: the child's body is compared with it.
// - Text bodies are held as UTF-8 with CR LF line ends here: Python's bodies are decoded from
//   their charset and both sides compared with LF line ends.
// - A missing Content-Type is text/plain in Python and empty here: compared as text/plain.

#include "charset/ContentCoding.h"
#include "common/Platform.h"
#include "mime/MimeMessage2.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

using namespace norvane;

namespace {

struct Node {
    int depth = 0;
    std::string type;
    char kind = 'L'; // C container, L leaf, S leaf not compared, U unsplit multipart
    std::string body;

    bool operator==(const Node& o) const {
        return depth == o.depth && type == o.type && kind == o.kind && body == o.body;
    }
};

std::string lf(std::string_view s) {
    std::string out(s);
    sb::replaceAll(out, "\r\n", "\n");
    return out;
}

std::string effectiveType(const MimeMessage2& m) {
    const std::string& t = m.contentType();
    return t.find('/') == std::string::npos ? "text/plain" : t;
}

void emit(const MimeMessage2& m, int depth, std::vector<Node>& out) {
    Node n{depth, effectiveType(m), 'L', {}};
    if (n.type == "message/delivery-status" || n.type == "message/external-body") {
        n.kind = 'S';
        out.push_back(n);
        return;
    }
    // The one child of a multipart in which no delimiter was found keeps the text.
    if (m.partCount() == 1 && m.partAt(0)->unsplit()) {
        n.kind = 'U';
        n.body = lf(m.partAt(0)->body().view());
        out.push_back(n);
        return;
    }
    if (m.partCount() > 0) {
        n.kind = 'C';
        out.push_back(n);
        for (int i = 0; i < m.partCount(); ++i)
            emit(*m.partAt(i), depth + 1, out);
        return;
    }
    if (n.type == "message/rfc822") {
        n.kind = 'C';
        out.push_back(n);
        LogNull log;
        MimeMessage2 inner;
        inner.loadFromText(m.body().view(), log);
        emit(inner, depth + 1, out);
        return;
    }
    if (m.isMultipart())
        n.kind = 'U';
    n.body = lf(m.body().view());
    out.push_back(n);
}

// The e-mail object decodes uuencoded bodies after parsing; Python does it when asked to decode.
void decodeUuencoded(MimeMessage2& m, LogBase& log) {
    m.decodeUuencodedBody(log);
    for (int i = 0; i < m.partCount(); ++i)
        decodeUuencoded(*m.partAt(i), log);
}

struct PythonFile {
    std::string path;
    std::vector<Node> nodes;
};

std::vector<PythonFile> runPython() {
    std::string text;
    EXPECT_EQ(test::runCommand("python3 " + std::string(NORVANE_SOURCE_DIR) +
                                   "/tests/interop/mime/python_tree.py",
                               &text),
              0);
    std::vector<PythonFile> files;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("F ")) {
            files.push_back({line.substr(2), {}});
            continue;
        }
        if (files.empty() || !line.starts_with("N "))
            continue;
        std::istringstream l(line.substr(2));
        Node n;
        std::string kind, payload;
        l >> n.depth >> n.type >> kind >> payload;
        n.kind = kind.empty() ? '?' : kind[0];
        if (n.kind == 'L' || n.kind == 'U') {
            DataBuffer d;
            ContentCoding::base64Decode(payload, d);
            n.body = d.toString();
        }
        files.back().nodes.push_back(n);
    }
    return files;
}

std::string describe(const std::vector<Node>& nodes) {
    std::string s;
    for (const Node& n : nodes)
        s += std::string(static_cast<size_t>(n.depth) * 2, ' ') + n.type + " " + n.kind + " " +
             std::to_string(n.body.size()) + "\n";
    return s;
}

// Messages on which the two parsers disagree by design. Our tree for each is pinned here (type,
// kind and body size of every node), so the difference stays the documented one.
struct KnownDifference {
    const char* file;
    const char* reason;
    const char* ours;
};

// Messages without a header, without a blank line after it, or with trailing blanks on their
// delimiter lines (msg_19, msg_35, msg_38, msg_39, msg_47) used to be listed here; they now
// parse as Python parses them and are compared like the rest.
const KnownDifference kKnownDifferences[] = {
    {"msg_15.txt",
     "The nested multipart/alternative reuses its parent's boundary, so its own body is empty: "
     "the line break before the next delimiter belongs to that delimiter (RFC 2046 5.1.1), "
     "where Python keeps it as a one-byte payload. Quoted-printable lines also lose their "
     "trailing blanks (RFC 2045 6.7, rule 3); Python keeps them.",
     "multipart/mixed C 0\n"
     "  multipart/alternative U 0\n"
     "  text/plain L 19\n"
     "  text/html L 98\n"},
    {"msg_42.txt",
     "The embedded multipart has a close delimiter but no part: its text is kept as one plain "
     "part rather than dropped; Python reports an empty multipart.",
     "multipart/mixed C 0\n"
     "  text/plain L 6\n"
     "  message/rfc822 C 0\n"
     "    multipart/mixed U 8\n"},
};

const KnownDifference* knownDifference(const std::string& path) {
    for (const KnownDifference& k : kKnownDifferences)
        if (path.ends_with(std::string("/") + k.file))
            return &k;
    return nullptr;
}

} // namespace

TEST(PythonCorpusTest, TreesMatchPythonsParse) {
    platform::setAnsiCodePage(65001);
    const std::vector<PythonFile> files = runPython();
    ASSERT_GE(files.size(), 40u) << "python3 with its test_email data is needed";
    size_t compared = 0;
    for (const PythonFile& f : files) {
        std::ifstream in(f.path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        LogNull log;
        MimeMessage2 m;
        m.loadFromText(text, log);
        decodeUuencoded(m, log);
        std::vector<Node> ours;
        emit(m, 0, ours);
        if (const KnownDifference* k = knownDifference(f.path)) {
            EXPECT_EQ(describe(ours), k->ours) << f.path << ": " << k->reason;
            continue;
        }
        ++compared;
        ASSERT_EQ(ours.size(), f.nodes.size()) << f.path << "\nours:\n"
                                               << describe(ours) << "python:\n"
                                               << describe(f.nodes);
        for (size_t i = 0; i < ours.size(); ++i)
            EXPECT_EQ(ours[i], f.nodes[i])
                << f.path << " node " << i << "\nours:   " << describe({ours[i]})
                << "python: " << describe({f.nodes[i]}) << "ours body:   " << ours[i].body
                << "\npython body: " << f.nodes[i].body;
    }
    EXPECT_EQ(compared + std::size(kKnownDifferences), files.size());
}
