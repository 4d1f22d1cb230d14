#include "transport/NtlmCrypto.h"

#include "transport/HmacMD5.h"

#include <nettle/des.h>
#include <nettle/md4.h>
#include <openssl/evp.h>

#include <chrono>

namespace norvane::ntlm {

namespace {

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input gives U+FFFD.
uint32_t nextCodePoint(std::string_view s, size_t& i) {
    auto b = static_cast<uint8_t>(s[i++]);
    if (b < 0x80)
        return b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0 || b >= 0xF8)
        return 0xFFFD;
    uint32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<uint8_t>(s[i]) & 0xC0) != 0x80)
            return 0xFFFD;
        cp = (cp << 6) | (static_cast<uint8_t>(s[i++]) & 0x3F);
    }
    return cp > 0x10FFFF ? 0xFFFD : cp;
}

void putUnit(std::vector<uint8_t>& out, uint32_t u) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
}

void desEncrypt(const uint8_t* key7, const Block8& data, uint8_t* out) {
    uint8_t key[8];
    key[0] = key7[0];
    key[1] = static_cast<uint8_t>((key7[0] << 7) | (key7[1] >> 1));
    key[2] = static_cast<uint8_t>((key7[1] << 6) | (key7[2] >> 2));
    key[3] = static_cast<uint8_t>((key7[2] << 5) | (key7[3] >> 3));
    key[4] = static_cast<uint8_t>((key7[3] << 4) | (key7[4] >> 4));
    key[5] = static_cast<uint8_t>((key7[4] << 3) | (key7[5] >> 5));
    key[6] = static_cast<uint8_t>((key7[5] << 2) | (key7[6] >> 6));
    key[7] = static_cast<uint8_t>(key7[6] << 1);
    des_fix_parity(8, key, key);
    des_ctx ctx;
    // A weak key (possible for the zero-padded last third) still encrypts; the protocol
    // defines the result regardless.
    (void)des_set_key(&ctx, key);
    des_encrypt(&ctx, 8, out, data.data());
}

std::span<const uint8_t> span(const std::vector<uint8_t>& v) {
    return v;
}

} // namespace

std::vector<uint8_t> utf16le(std::string_view utf8) {
    std::vector<uint8_t> out;
    out.reserve(utf8.size() * 2);
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            putUnit(out, 0xD800 + (cp >> 10));
            putUnit(out, 0xDC00 + (cp & 0x3FF));
        } else {
            putUnit(out, cp);
        }
    }
    return out;
}

std::string upperForNtlm(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        size_t start = i;
        uint32_t cp = nextCodePoint(utf8, i);
        if (cp >= 'a' && cp <= 'z') {
            out.push_back(static_cast<char>(cp - 32));
        } else if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) {
            cp -= 32;
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.append(utf8.substr(start, i - start));
        }
    }
    return out;
}

Hash16 ntowfV1(std::string_view password) {
    std::vector<uint8_t> u = utf16le(password);
    md4_ctx ctx;
    md4_init(&ctx);
    md4_update(&ctx, u.size(), u.data());
    Hash16 out{};
    md4_digest(&ctx, out.size(), out.data());
    return out;
}

Hash16 ntowfV2(std::string_view password, std::string_view user, std::string_view domain) {
    Hash16 v1 = ntowfV1(password);
    std::vector<uint8_t> id = utf16le(upperForNtlm(user) + std::string(domain));
    return HmacMD5::compute(v1, id);
}

std::array<uint8_t, 24> desl(const Hash16& key, const Block8& data) {
    uint8_t k[21] = {};
    std::copy(key.begin(), key.end(), k);
    std::array<uint8_t, 24> out{};
    desEncrypt(k, data, out.data());
    desEncrypt(k + 7, data, out.data() + 8);
    desEncrypt(k + 14, data, out.data() + 16);
    return out;
}

Responses ntlmV1(const Hash16& ntHash, const Block8& serverChallenge) {
    auto nt = desl(ntHash, serverChallenge);
    Responses r;
    r.nt.assign(nt.begin(), nt.end());
    r.lm = r.nt;
    return r;
}

Responses ntlmV1Ess(const Hash16& ntHash, const Block8& serverChallenge,
                    const Block8& clientChallenge) {
    uint8_t both[16];
    std::copy(serverChallenge.begin(), serverChallenge.end(), both);
    std::copy(clientChallenge.begin(), clientChallenge.end(), both + 8);
    uint8_t md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(both, sizeof both, md, &len, EVP_md5(), nullptr);
    Block8 sessionHash{};
    std::copy(md, md + 8, sessionHash.begin());
    auto nt = desl(ntHash, sessionHash);
    Responses r;
    r.nt.assign(nt.begin(), nt.end());
    r.lm.assign(clientChallenge.begin(), clientChallenge.end());
    r.lm.resize(24, 0);
    return r;
}

Responses ntlmV2(const Hash16& v2Hash, const Block8& serverChallenge, const Block8& clientChallenge,
                 uint64_t fileTime, std::span<const uint8_t> targetInfo, bool zeroLm) {
    // The blob: version 1.1, six reserved bytes, time stamp, client challenge, four reserved
    // bytes, the server's target information and four closing zero bytes.
    std::vector<uint8_t> blob = {1, 1, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        blob.push_back(static_cast<uint8_t>(fileTime >> (8 * i)));
    blob.insert(blob.end(), clientChallenge.begin(), clientChallenge.end());
    blob.insert(blob.end(), 4, 0);
    blob.insert(blob.end(), targetInfo.begin(), targetInfo.end());
    blob.insert(blob.end(), 4, 0);

    std::vector<uint8_t> input(serverChallenge.begin(), serverChallenge.end());
    input.insert(input.end(), blob.begin(), blob.end());
    HmacMD5::Digest proof = HmacMD5::compute(v2Hash, span(input));

    Responses r;
    r.nt.resize(proof.size() + blob.size());
    std::copy(proof.begin(), proof.end(), r.nt.begin());
    std::copy(blob.begin(), blob.end(), r.nt.begin() + static_cast<std::ptrdiff_t>(proof.size()));
    if (zeroLm) {
        r.lm.assign(24, 0);
    } else {
        std::vector<uint8_t> lmInput(serverChallenge.begin(), serverChallenge.end());
        lmInput.insert(lmInput.end(), clientChallenge.begin(), clientChallenge.end());
        HmacMD5::Digest lm = HmacMD5::compute(v2Hash, span(lmInput));
        r.lm.resize(lm.size() + clientChallenge.size());
        std::copy(lm.begin(), lm.end(), r.lm.begin());
        std::copy(clientChallenge.begin(), clientChallenge.end(), r.lm.begin() + 16);
    }
    return r;
}

uint64_t fileTimeNow() {
    using namespace std::chrono;
    auto since1970 = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    constexpr uint64_t kEpochDelta = 11644473600ULL; // seconds from 1601 to 1970
    return (static_cast<uint64_t>(since1970) + kEpochDelta * 1000000ULL) * 10ULL;
}

} // namespace norvane::ntlm
