#include "transport/SmtpWire.h"
#include "support/TestDirs.h"
#include "transport/DistributionList.h"
#include "transport/SmtpAuthFlags.h"

#include "common/FileAccess.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(SmtpWireTest, FrameDataStuffsDotLinesAndMakesEveryLineEndCrLf) {
    EXPECT_EQ(smtp::frameData(".first\r\nmid\r\n.\r\n..two\r\nend"),
              "..first\r\nmid\r\n..\r\n...two\r\nend");
    // A bare LF or CR would let a peer that reads lines see "." on its own before the end.
    EXPECT_EQ(smtp::frameData("a\n.\nb\r.\rc\r\n"), "a\r\n..\r\nb\r\n..\r\nc\r\n");
    EXPECT_EQ(smtp::frameData("\r\r\n\n"), "\r\n\r\n\r\n");
    EXPECT_EQ(smtp::frameData(""), "");
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += ".line\n";
    std::string expected;
    for (int i = 0; i < 20000; ++i)
        expected += "..line\r\n";
    EXPECT_TRUE(smtp::frameData(text) == expected);
}

TEST(SmtpWireTest, FramingInPiecesEqualsFramingTheWhole) {
    for (std::string_view text : {".a\r\n.b\n.c\r.d\r\n", "x\r\n\r\n..\r\ny", "\r\r\n\n.", ""}) {
        const std::string whole = smtp::frameData(text);
        EXPECT_EQ(smtp::framedSize(text), whole.size()) << text;
        EXPECT_EQ(smtp::endOfData(text), smtp::endOfData(whole)) << text;
        // Piece sizes that cut inside every CR LF pair and after every line start.
        for (size_t piece : {1, 2, 3, 5}) {
            std::string joined;
            EXPECT_TRUE(smtp::frameDataInPieces(text, piece, [&](std::string_view p) {
                joined.append(p);
                return true;
            }));
            EXPECT_EQ(joined, whole) << text << " in pieces of " << piece;
        }
    }
}

TEST(SmtpWireTest, LineBreakAndNulAreDetected) {
    EXPECT_TRUE(smtp::hasLineBreakOrNul("a@b\r\nRCPT TO:<c@d>"));
    EXPECT_TRUE(smtp::hasLineBreakOrNul("a@b\n"));
    EXPECT_TRUE(smtp::hasLineBreakOrNul(std::string_view("a\0b", 3)));
    EXPECT_FALSE(smtp::hasLineBreakOrNul("Name <a@b>"));
}

TEST(SmtpWireTest, ReplyCodesAndContinuations) {
    EXPECT_EQ(smtp::replyCode("250-SIZE\r\n"), 250);
    EXPECT_EQ(smtp::replyCode("25"), 0);
    EXPECT_EQ(smtp::replyCode("2x0 ok"), 0);
    EXPECT_TRUE(smtp::isContinuation("250-x"));
    EXPECT_FALSE(smtp::isContinuation("250 x"));
    EXPECT_FALSE(smtp::isContinuation("250\r\n"));
}

TEST(SmtpWireTest, BareAddressesFromListText) {
    auto a = smtp::bareAddresses("\"Doe, John\" <john@x.test>; mary@y.test, (c) no-at, "
                                 "Ann <ann@z.test>");
    EXPECT_EQ(a, (std::vector<std::string>{"john@x.test", "mary@y.test", "ann@z.test"}));
    EXPECT_TRUE(smtp::bareAddresses("nobody").empty());
}

TEST(SmtpAuthFlagsTest, NamesCountOnlyAfterABlank) {
    SmtpAuthFlags f;
    f.scanEhloLine("250-AUTH=LOGIN PLAIN\r\n");
    EXPECT_FALSE(f.login);
    EXPECT_TRUE(f.plain);
    SmtpAuthFlags g;
    g.scanEhloLine("250-auth LOGIN plain CRAM-MD5 ntlm MSN DIGEST-MD5 GSSAPI\r\n");
    EXPECT_TRUE(g.login && g.plain && g.cramMd5 && g.ntlm && g.msn && g.digestMd5 && g.gssapi);
    SmtpAuthFlags h;
    h.scanEhloLine("250-SIZE 1000 LOGIN\r\n");
    EXPECT_FALSE(h.login);
}

TEST(SmtpAuthFlagsTest, OverrideKeepsOnlyTheNamedMechanism) {
    SmtpAuthFlags f;
    f.scanEhloLine("250 AUTH LOGIN PLAIN NTLM");
    f.applyOverride(" cram-md5 ");
    EXPECT_TRUE(f.cramMd5);
    EXPECT_FALSE(f.login || f.plain || f.ntlm);
    EXPECT_EQ(f.select(false), SmtpMechanism::CramMd5);
    f.applyOverride("NONE");
    EXPECT_EQ(f.select(false), SmtpMechanism::None);
    SmtpAuthFlags g;
    g.login = true;
    g.applyOverride("SCRAM-SHA-1");
    EXPECT_TRUE(g.login);
    // With a token the token mechanisms go first; without one they come last.
    g.scanEhloLine("250 AUTH LOGIN XOAUTH2 OAUTHBEARER");
    EXPECT_EQ(g.select(true, true), SmtpMechanism::XOAuth2);
    EXPECT_EQ(g.select(true, false), SmtpMechanism::Login);
    g.applyOverride("oauthbearer");
    EXPECT_EQ(g.select(true, false), SmtpMechanism::OAuthBearer);
}

TEST(SmtpWireTest, RepliesExtensionsAndDsnValues) {
    const smtp::Reply r = smtp::parseReply("550-5.1.1 no such\r\n550 5.1.1 user\r\n", true);
    EXPECT_EQ(r.code, 550);
    EXPECT_EQ(r.enhancedCode, "5.1.1");
    EXPECT_EQ(r.text, "no such user");
    EXPECT_EQ(smtp::parseReply("250 2.1.5 ok\r\n", false).text, "2.1.5 ok");
    EXPECT_EQ(smtp::parseReply("250 2.1 ok\r\n", true).enhancedCode, "");
    smtp::Extensions e;
    for (const char* line : {"250-SIZE 1048576\r\n", "250-8bitmime\r\n", "250 SMTPUTF8\r\n"})
        smtp::scanExtension(line, e);
    EXPECT_TRUE(e.size && e.eightBitMime && e.smtpUtf8 && !e.dsn);
    EXPECT_EQ(e.sizeLimit, 1048576u);
    EXPECT_EQ(smtp::dsnNotify(" success, delay,SUCCESS"), "SUCCESS,DELAY");
    EXPECT_FALSE(smtp::dsnNotify("NEVER,FAILURE"));
    EXPECT_FALSE(smtp::dsnNotify("SOMETIMES"));
    EXPECT_EQ(smtp::dsnRet("hdrs"), "HDRS");
    EXPECT_FALSE(smtp::dsnRet("BODY"));
    EXPECT_EQ(smtp::xtext("a+b=c d\xC3"), "a+2Bb+3Dc+20d+C3");
}

TEST(SmtpAuthFlagsTest, CramMd5GoesBeforeCleartextMechanismsWithoutEncryption) {
    SmtpAuthFlags f;
    f.scanEhloLine("250 AUTH PLAIN LOGIN CRAM-MD5");
    EXPECT_EQ(f.select(false), SmtpMechanism::CramMd5);
    EXPECT_EQ(f.select(true), SmtpMechanism::Login);
    f.ntlm = true;
    EXPECT_EQ(f.select(false), SmtpMechanism::Ntlm);
    SmtpAuthFlags only;
    only.digestMd5 = true;
    EXPECT_EQ(only.select(false), SmtpMechanism::DigestMd5);
}

TEST(DistributionListTest, AddTrimsRequiresAtAndMergesCase) {
    DistributionList l;
    EXPECT_TRUE(l.add("  a@x.test "));
    EXPECT_TRUE(l.add("A@X.TEST"));
    EXPECT_FALSE(l.add("no-at"));
    ASSERT_EQ(l.count(), 1u);
    EXPECT_EQ(l.item(0), "a@x.test");
    EXPECT_EQ(l.item(5), "");
}

TEST(DistributionListTest, LoadFileKeepsLinesWithAnAt) {
    test::TempDir dir;
    std::string path = dir.file("list.txt");
    ASSERT_TRUE(file::writeWholeFile(
        path, std::string_view("a@x\r\n\r\n  b@y \nnot an address\n\tc@z\r\na@x\n"), nullptr));
    DistributionList l;
    LogNull log;
    EXPECT_EQ(l.loadFile(path, log), 4);
    EXPECT_EQ(l.entries(), (std::vector<std::string>{"a@x", "b@y", "c@z", "a@x"}));
    EXPECT_EQ(l.loadFile(dir.file("missing"), log), -1);
    EXPECT_EQ(l.count(), 0u);
}
