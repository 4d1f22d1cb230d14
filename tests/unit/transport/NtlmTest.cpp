// NTLM computations and messages checked against the published protocol test vectors
// (user "User", domain "Domain", password "Password", server challenge 0123456789abcdef,
// client challenge aaaaaaaaaaaaaaaa, time stamp 0).

#include "common/LogBase.h"
#include "support/Bytes.h"
#include "transport/NtlmCrypto.h"
#include "transport/NtlmMessages.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::ntlm;
using namespace norvane::test;

namespace {

const Block8 kServerChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const Block8 kClientChallenge = {0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};

// Target information of the vectors: NetBIOS domain "Domain", NetBIOS computer "Server".
std::vector<uint8_t> vectorTargetInfo() {
    std::vector<uint8_t> t = {0x02, 0x00, 0x0c, 0x00};
    auto d = utf16le("Domain");
    t.insert(t.end(), d.begin(), d.end());
    t.insert(t.end(), {0x01, 0x00, 0x0c, 0x00});
    auto s = utf16le("Server");
    t.insert(t.end(), s.begin(), s.end());
    t.insert(t.end(), {0, 0, 0, 0});
    return t;
}

// A challenge message: header, target name "Server", flags, challenge, target info.
std::vector<uint8_t> challengeMessage(uint32_t flags, const std::vector<uint8_t>& info) {
    std::vector<uint8_t> m = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 2, 0, 0, 0};
    auto name = utf16le("Server");
    auto put16 = [&](uint16_t v) {
        m.push_back(static_cast<uint8_t>(v));
        m.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            m.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put16(static_cast<uint16_t>(name.size()));
    put16(static_cast<uint16_t>(name.size()));
    put32(48);
    put32(flags);
    m.insert(m.end(), kServerChallenge.begin(), kServerChallenge.end());
    m.insert(m.end(), 8, 0);
    put16(static_cast<uint16_t>(info.size()));
    put16(static_cast<uint16_t>(info.size()));
    put32(static_cast<uint32_t>(48 + name.size()));
    m.insert(m.end(), name.begin(), name.end());
    m.insert(m.end(), info.begin(), info.end());
    return m;
}

uint16_t le16(const std::vector<uint8_t>& m, size_t at) {
    return m[at] | (m[at + 1] << 8);
}
uint32_t le32(const std::vector<uint8_t>& m, size_t at) {
    return m[at] | (m[at + 1] << 8) | (m[at + 2] << 16) | (static_cast<uint32_t>(m[at + 3]) << 24);
}
std::vector<uint8_t> payload(const std::vector<uint8_t>& m, size_t field) {
    uint16_t len = le16(m, field);
    uint32_t off = le32(m, field + 4);
    return std::vector<uint8_t>(m.begin() + off, m.begin() + off + len);
}

} // namespace

TEST(NtlmCryptoTest, UserNameIsUpperCasedButDomainIsNot) {
    EXPECT_EQ(ntowfV2("Password", "user", "Domain"), ntowfV2("Password", "USER", "Domain"));
    EXPECT_NE(ntowfV2("Password", "User", "domain"), ntowfV2("Password", "User", "Domain"));
    EXPECT_EQ(upperForNtlm("gr\xc3\xbc\xc3\x9f"
                           "e"),
              "GR\xc3\x9c\xc3\x9f"
              "E");
}

TEST(NtlmCryptoTest, Utf16CoversSurrogatePairsAndBadBytes) {
    EXPECT_EQ(hexOf(utf16le("A\xc3\xa9")), "4100e900");
    EXPECT_EQ(hexOf(utf16le("\xf0\x9f\x98\x80")), "3dd800de");
    EXPECT_EQ(hexOf(utf16le("\xff")), "fdff");
}

TEST(NtlmMessagesTest, NegotiateMessageAsksForNoExtendedSessionSecurity) {
    std::vector<uint8_t> m = negotiateMessage();
    ASSERT_EQ(m.size(), 32u);
    EXPECT_EQ(std::string(m.begin(), m.begin() + 8), std::string("NTLMSSP\0", 8));
    EXPECT_EQ(le32(m, 8), 1u);
    EXPECT_EQ(le32(m, 12) & kNegotiateExtendedSessionSecurity, 0u);
    EXPECT_NE(le32(m, 12) & kNegotiateNtlm, 0u);
}

TEST(NtlmMessagesTest, LyingLengthsAndOffsetsAreRefused) {
    LogNull log;
    auto good = challengeMessage(kNegotiateUnicode, vectorTargetInfo());
    // Target info offset past the end.
    auto m = good;
    m[44] = 0xff;
    EXPECT_FALSE(parseChallenge(m, log));
    // Target info length past the end.
    m = good;
    m[40] = 0xff;
    m[41] = 0x7f;
    EXPECT_FALSE(parseChallenge(m, log));
    // Target name offset inside the header and length past the end.
    m = good;
    m[16] = 4;
    m[12] = 0xff;
    EXPECT_FALSE(parseChallenge(m, log));
    // An AV pair whose length runs past its field.
    auto info = vectorTargetInfo();
    info[2] = 0x40;
    EXPECT_FALSE(parseChallenge(challengeMessage(kNegotiateUnicode, info), log));
    // Too short, wrong type, and offsets near 2^32 that would wrap a 32-bit sum.
    EXPECT_FALSE(parseChallenge(std::vector<uint8_t>(good.begin(), good.begin() + 31), log));
    m = good;
    m[8] = 3;
    EXPECT_FALSE(parseChallenge(m, log));
    m = good;
    m[44] = m[45] = m[46] = m[47] = 0xff;
    EXPECT_FALSE(parseChallenge(m, log));
    // Every truncation of a valid message fails cleanly or parses within bounds.
    for (size_t n = 0; n < good.size(); ++n)
        (void)parseChallenge(std::vector<uint8_t>(good.begin(), good.begin() + n), log);
}

// The challenge's fields (server challenge, target info, no time stamp) are what the vectors
// are computed over: a field parsed wrongly changes the responses checked here.
TEST(NtlmMessagesTest, AuthenticateMessageCarriesV2ResponsesAndUnicodeNames) {
    LogNull log;
    auto c = parseChallenge(
        challengeMessage(kNegotiateUnicode | kNegotiateTargetInfo, vectorTargetInfo()), log);
    ASSERT_TRUE(c);
    auto m =
        authenticateMessage(*c, {"Domain", "User", "Password"}, Version::V2, kClientChallenge, 0);
    ASSERT_GE(m.size(), 64u);
    EXPECT_EQ(le32(m, 8), 3u);
    EXPECT_EQ(payload(m, 28), utf16le("Domain"));
    EXPECT_EQ(payload(m, 36), utf16le("User"));
    EXPECT_EQ(hexOf(payload(m, 12)), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
    auto nt = payload(m, 20);
    EXPECT_EQ(hexOf(std::span(nt).first(16)), "68cd0ab851e51c96aabc927bebef6a1c");
    // The rest is the blob: version, reserved, time, client challenge, reserved, info, zeros.
    EXPECT_EQ(hexOf(std::span(nt).subspan(16)), "0101000000000000"
                                                "0000000000000000"
                                                "aaaaaaaaaaaaaaaa"
                                                "00000000" +
                                                    hexOf(vectorTargetInfo()) + "00000000");
    uint32_t flags = le32(m, 60);
    EXPECT_NE(flags & kNegotiateUnicode, 0u);
    EXPECT_EQ(flags & kNegotiateExtendedSessionSecurity, 0u);
}

TEST(NtlmMessagesTest, V1UsesExtendedSessionSecurityOnlyWhenTheServerAsks) {
    LogNull log;
    auto plain = parseChallenge(challengeMessage(kNegotiateUnicode, {}), log);
    auto ess = parseChallenge(
        challengeMessage(kNegotiateUnicode | kNegotiateExtendedSessionSecurity, {}), log);
    ASSERT_TRUE(plain && ess);
    auto m1 =
        authenticateMessage(*plain, {"", "User", "Password"}, Version::V1, kClientChallenge, 0);
    EXPECT_EQ(hexOf(payload(m1, 20)), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    // The LM field repeats the NT response: the LM hash is never computed.
    EXPECT_EQ(payload(m1, 12), payload(m1, 20));
    EXPECT_EQ(le32(m1, 60) & kNegotiateExtendedSessionSecurity, 0u);
    auto m2 = authenticateMessage(*ess, {"", "User", "Password"}, Version::V1, kClientChallenge, 0);
    EXPECT_EQ(hexOf(payload(m2, 20)), "7537f803ae367128ca458204bde7caf81e97ed2683267232");
    EXPECT_EQ(hexOf(payload(m2, 12)), "aaaaaaaaaaaaaaaa00000000000000000000000000000000");
    EXPECT_NE(le32(m2, 60) & kNegotiateExtendedSessionSecurity, 0u);
}

TEST(NtlmMessagesTest, OemNamesWhenTheServerDoesNotNegotiateUnicode) {
    LogNull log;
    auto c = parseChallenge(challengeMessage(kNegotiateOem, {}), log);
    ASSERT_TRUE(c);
    auto m = authenticateMessage(*c, {"Dom", "bob", "pw"}, Version::V2, kClientChallenge, 0);
    EXPECT_EQ(payload(m, 36), std::vector<uint8_t>({'b', 'o', 'b'}));
    EXPECT_NE(le32(m, 60) & kNegotiateOem, 0u);
}

TEST(NtlmMessagesTest, ServerTimestampIsUsedAndLmv2Zeroed) {
    LogNull log;
    auto info = vectorTargetInfo();
    // Insert MsvAvTimestamp before the closing pair.
    std::vector<uint8_t> ts = {0x07, 0x00, 0x08, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    info.insert(info.end() - 4, ts.begin(), ts.end());
    auto c = parseChallenge(challengeMessage(kNegotiateUnicode | kNegotiateTargetInfo, info), log);
    ASSERT_TRUE(c && c->timestamp);
    EXPECT_EQ(*c->timestamp, 0x0807060504030201ULL);
    auto m =
        authenticateMessage(*c, {"Domain", "User", "Password"}, Version::V2, kClientChallenge, 99);
    EXPECT_EQ(payload(m, 12), std::vector<uint8_t>(24, 0));
    auto nt = payload(m, 20);
    EXPECT_EQ(hexOf(std::span<const uint8_t>(nt).subspan(24, 8)), "0102030405060708");
}
