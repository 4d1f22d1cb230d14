// Hostile and broken input: the parser returns the best tree it can, never crashes, and keeps
// what lies beyond its limits instead of dropping it.

#include "mime/MimeMessage2.h"

#include "common/Platform.h"
#include "mime/TextScan.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

class MimeMessage2BadInputTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setAnsiCodePage(65001); }
    LogNull log;
    std::unique_ptr<MimeMessage2> parse(std::string_view text, const MimeParseLimits& limits = {}) {
        auto m = std::make_unique<MimeMessage2>();
        m->loadFromText(text, log, limits);
        return m;
    }
};

std::string rendered(const MimeMessage2& m) {
    StringBuffer out;
    m.render(out);
    return out.str();
}

// Nested multiparts, each level with its own boundary, the innermost a text part.
std::string nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) {
        // "b<n>x": no boundary ends with another one.
        const std::string b = "b" + std::to_string(i) + "x";
        text += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n--" + b + "\r\n";
    }
    text += "Content-Type: text/plain\r\n\r\ninnermost";
    for (int i = levels - 1; i >= 0; --i)
        text += "\r\n--b" + std::to_string(i) + "x--\r\n";
    return text;
}

int depthOf(const MimeMessage2& m) {
    int d = 0;
    for (const MimeMessage2* p = &m; p->partCount() > 0; p = p->partAt(0))
        ++d;
    return d;
}

size_t nodeCount(const MimeMessage2& m) {
    size_t n = 1;
    for (int i = 0; i < m.partCount(); ++i)
        n += nodeCount(*m.partAt(i));
    return n;
}

} // namespace

TEST_F(MimeMessage2BadInputTest, EmptyAndBlankTexts) {
    auto m = parse("");
    EXPECT_EQ(m->header().fieldCount(), 0);
    EXPECT_TRUE(m->body().isEmpty());
    m->loadFromText("\r\n\r\n", log);
    EXPECT_EQ(m->header().fieldCount(), 0);
    EXPECT_EQ(m->body().toString(), "\r\n");
    // The first blank line ends the (empty) header; the rest is body.
    m->loadFromText("\n\n\n\n\n", log);
    EXPECT_EQ(m->header().fieldCount(), 0);
    EXPECT_EQ(m->body().toString(), "\r\n\r\n\r\n\r\n");
    EXPECT_EQ(rendered(*m), "\r\n\r\n\r\n\r\n\r\n");
}

TEST_F(MimeMessage2BadInputTest, NestingDeeperThanTheLimitStaysOpaque) {
    const std::string text = nested(150);
    auto m = parse(text);
    EXPECT_EQ(depthOf(*m), 100);
    const MimeMessage2* deepest = m.get();
    while (deepest->partCount() > 0)
        deepest = deepest->partAt(0);
    EXPECT_EQ(deepest->contentType(), "multipart/mixed");
    EXPECT_EQ(deepest->boundary(), "b100x");
    EXPECT_NE(deepest->body().view().find("innermost"), std::string_view::npos);

    // Nothing was lost: the rendering parses to the full depth with a higher limit.
    auto full = parse(rendered(*m), MimeParseLimits{200, 10000});
    EXPECT_EQ(depthOf(*full), 150);

    MimeParseLimits shallow;
    shallow.maxDepth = 3;
    auto cut = parse(text, shallow);
    EXPECT_EQ(depthOf(*cut), 3);
}

TEST_F(MimeMessage2BadInputTest, VeryDeepNestingDoesNotExhaustTheStack) {
    const std::string text = nested(20000);
    auto m = parse(text);
    EXPECT_EQ(depthOf(*m), 100);
    EXPECT_GT(rendered(*m).size(), text.size() / 2);
}

TEST_F(MimeMessage2BadInputTest, TooManyPartsKeepTheRestInTheLastOne) {
    std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 30; ++i)
        text += "--b\r\nX-N: " + std::to_string(i) + "\r\n\r\npart " + std::to_string(i) + "\r\n";
    text += "--b--\r\n";
    MimeParseLimits limits;
    limits.maxParts = 10;
    auto m = parse(text, limits);
    ASSERT_EQ(m->partCount(), 10);
    const std::string last = m->partAt(9)->body().toString();
    EXPECT_EQ(last.rfind("part 9\r\n--b\r\nX-N: 10", 0), 0u) << last.substr(0, 40);
    EXPECT_NE(last.find("part 29"), std::string::npos);
}

TEST_F(MimeMessage2BadInputTest, FiftyThousandEmptyParts) {
    std::string text = "Content-Type: multipart/mixed; boundary=e\r\n\r\n";
    for (int i = 0; i < 50000; ++i)
        text += "--e\r\n";
    text += "--e\r\nX-N: last\r\n\r\nbody\r\n--e--\r\n";
    auto m = parse(text);
    ASSERT_EQ(m->partCount(), 1);
    EXPECT_EQ(m->partAt(0)->body().toString(), "body");
}

TEST_F(MimeMessage2BadInputTest, FiftyThousandTinyPartsAreBoundedByThePartLimit) {
    std::string text = "Content-Type: multipart/mixed; boundary=e\r\n\r\n";
    for (int i = 0; i < 50000; ++i)
        text += "--e\r\nX: y\r\n\r\nz\r\n";
    text += "--e--\r\n";
    auto m = parse(text);
    EXPECT_EQ(nodeCount(*m), MimeParseLimits().maxParts + 1);
    EXPECT_NE(m->partAt(m->partCount() - 1)->body().view().find("--e\r\nX: y"),
              std::string_view::npos);
}

TEST_F(MimeMessage2BadInputTest, TenMegabyteHeaderLine) {
    const std::string subject(10 * 1024 * 1024, 'a');
    auto m = parse("Subject: " + subject + "\r\n\r\nbody");
    ASSERT_EQ(m->header().fieldCount(), 1);
    EXPECT_EQ(m->header().fieldAt(0)->value().size(), subject.size());
    EXPECT_EQ(m->body().toString(), "body");
    const std::string out = rendered(*m);
    EXPECT_EQ(out.size(), 9 + subject.size() + 4 + 4);
}

TEST_F(MimeMessage2BadInputTest, BoundariesThatArePrefixesOfEachOther) {
    for (auto [outer, inner] : {std::pair<std::string, std::string>{"=_a", "=_a1"},
                                std::pair<std::string, std::string>{"=_a1", "=_a"}}) {
        const std::string text =
            "Content-Type: multipart/mixed; boundary=\"" + outer + "\"\r\n\r\n--" + outer +
            "\r\nContent-Type: multipart/alternative; boundary=\"" + inner + "\"\r\n\r\n--" +
            inner + "\r\n\r\none\r\n--" + inner + "\r\n\r\ntwo\r\n--" + inner + "--\r\n--" + outer +
            "\r\nContent-Type: text/plain\r\n\r\nthree\r\n--" + outer + "--\r\n";
        auto m = parse(text);
        ASSERT_EQ(m->partCount(), 2) << outer;
        ASSERT_EQ(m->partAt(0)->partCount(), 2) << outer;
        EXPECT_EQ(m->partAt(0)->partAt(1)->body().toString(), "two");
        EXPECT_EQ(m->partAt(1)->body().toString(), "three");
    }
}

TEST_F(MimeMessage2BadInputTest, BoundaryThatEndsAnotherStillGivesATree) {
    // The outer delimiter "b\r\n" also matches inside the inner "--ab\r\n": a best-effort split.
    const std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                             "Content-Type: multipart/mixed; boundary=ab\r\n\r\n--ab\r\n\r\nx\r\n"
                             "--ab--\r\n--b--\r\n";
    auto m = parse(text);
    EXPECT_GE(m->partCount(), 1);
    EXPECT_FALSE(rendered(*m).empty());
}

TEST_F(MimeMessage2BadInputTest, LongRepetitiveBoundaryInARepetitiveBody) {
    // A naive substring search would compare most of the boundary at every position.
    const std::string boundary(100000, 'a');
    const std::string body(2000000, 'a');
    auto m = parse("Content-Type: multipart/mixed; boundary=" + boundary + "\r\n\r\n" + body +
                   "\r\n--" + boundary + "\r\n\r\nx\r\n--" + boundary + "--\r\n");
    ASSERT_EQ(m->partCount(), 1);
    EXPECT_EQ(m->partAt(0)->body().toString(), "x");
}

TEST_F(MimeMessage2BadInputTest, BoundaryNeverClosed) {
    auto m = parse("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                   "Content-Type: multipart/mixed; boundary=c\r\n\r\n--c\r\n\r\ndeep text\r\n");
    ASSERT_EQ(m->partCount(), 1);
    ASSERT_EQ(m->partAt(0)->partCount(), 1);
    EXPECT_EQ(m->partAt(0)->partAt(0)->body().toString(), "deep text\r\n");
}

// A NUL may not stand in a header (RFC 5322 2.2), so there it reads as a space.
TEST_F(MimeMessage2BadInputTest, NulBytesAreOrdinaryBodyBytes) {
    const std::string text("Subject: a\0b\r\nX: y\r\n\r\nbo\0dy", 27);
    auto m = parse(text);
    EXPECT_EQ(m->header().fieldAt(0)->value(), "a b");
    EXPECT_EQ(m->body().toString(), std::string("bo\0dy", 5));
}

TEST_F(MimeMessage2BadInputTest, BareCarriageReturns) {
    auto m = parse("Subject: a\rb\r\n\r\nbody\rmore\r");
    EXPECT_EQ(m->header().fieldAt(0)->value(), "a b"); // a bare CR is no line end here
    EXPECT_EQ(m->body().toString(), "body\rmore\r");
}

TEST_F(MimeMessage2BadInputTest, EightBitHeadersInUnknownCharsets) {
    auto m = parse("Subject: \xFF\xFE\x80 test\r\nX-W: =?x-unknown?Q?=FF=00?=\r\n"
                   "Content-Type: text/plain; charset=x-unknown\r\n\r\n\xFF\xFE");
    ASSERT_EQ(m->header().fieldCount(), 3);
    for (int i = 0; i < m->header().fieldCount(); ++i)
        EXPECT_NE(m->header().fieldAt(i)->value(), "");
    EXPECT_TRUE(text_scan::isValidUtf8(m->header().fieldAt(0)->value()));
    EXPECT_EQ(m->charset().getCodePage(), 0);
    EXPECT_EQ(m->body().toString(), "\xFF\xFE");
    EXPECT_FALSE(rendered(*m).empty());
}
