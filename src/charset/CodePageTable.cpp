#include "charset/CodePageTable.h"

#include "charset/generated/CodePageData.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace norvane {

namespace {

constexpr char kTag[4] = {'N', 'V', 'C', 'T'};
// Far above the largest table (a full 64K double-byte grid); guards the allocation against a
// damaged header.
constexpr uint32_t kMaxUnpacked = 1u << 20;

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::vector<uint8_t> base64Decode(std::string_view s) {
    std::vector<uint8_t> out;
    out.reserve(s.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char c : s) {
        int v = base64Value(c);
        if (v < 0)
            continue; // padding
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
        }
    }
    return out;
}

bool unpack(std::string_view text, std::vector<uint8_t>& out, std::string& error) {
    if (text.empty()) {
        error = "empty table";
        return false;
    }
    std::vector<uint8_t> raw = base64Decode(text.substr(1));
    if (text[0] == 'x') {
        out = std::move(raw);
        return true;
    }
    if (raw.size() < 8 || std::memcmp(raw.data(), kTag, 4) != 0) {
        error = "bad table header";
        return false;
    }
    uint32_t len = raw[4] | (raw[5] << 8) | (raw[6] << 16) | (static_cast<uint32_t>(raw[7]) << 24);
    if (len > kMaxUnpacked) {
        error = "table too large";
        return false;
    }
    out.resize(len);
    unsigned int outLen = len;
    int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &outLen,
                                        reinterpret_cast<char*>(raw.data() + 8),
                                        static_cast<unsigned int>(raw.size() - 8), 0, 0);
    if (rc != BZ_OK || outLen != len) {
        error = "table does not decompress";
        return false;
    }
    return true;
}

// Bounds-checked reader over the unpacked bytes.
struct Reader {
    const std::vector<uint8_t>& d;
    size_t pos = 0;
    bool ok = true;
    uint8_t u8() {
        if (pos + 1 > d.size()) {
            ok = false;
            return 0;
        }
        return d[pos++];
    }
    uint16_t u16() {
        if (pos + 2 > d.size()) {
            ok = false;
            return 0;
        }
        uint16_t v = static_cast<uint16_t>(d[pos] | (d[pos + 1] << 8));
        pos += 2;
        return v;
    }
};

void readBitmap(Reader& r, std::array<bool, 256>& bits) {
    for (int i = 0; i < 32; ++i) {
        uint8_t b = r.u8();
        for (int k = 0; k < 8; ++k)
            bits[i * 8 + k] = (b >> k) & 1;
    }
}

CodePageTable::Utf8Bytes utf8Of(uint16_t u, bool mapped) {
    CodePageTable::Utf8Bytes e{};
    if (!mapped)
        return e;
    if (u < 0x80) {
        e.b[0] = static_cast<uint8_t>(u);
        e.len = 1;
    } else if (u < 0x800) {
        e.b[0] = static_cast<uint8_t>(0xC0 | (u >> 6));
        e.b[1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        e.len = 2;
    } else {
        e.b[0] = static_cast<uint8_t>(0xE0 | (u >> 12));
        e.b[1] = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
        e.b[2] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        e.len = 3;
    }
    return e;
}

struct Slot {
    std::once_flag once;
    std::unique_ptr<CodePageTable> table;
};

// One slot per built-in table; the array itself is created on first use (thread-safe static).
Slot* slots() {
    static std::unique_ptr<Slot[]> s(new Slot[kCodePageBlobCount]);
    return s.get();
}

const CodePageBlob* findBlob(int cp) {
    const CodePageBlob* end = kCodePageBlobs + kCodePageBlobCount;
    const CodePageBlob* it = std::lower_bound(
        kCodePageBlobs, end, cp, [](const CodePageBlob& b, int v) { return b.codePage < v; });
    return (it != end && it->codePage == cp) ? it : nullptr;
}

} // namespace

bool CodePageTable::hasTable(int cp) {
    return findBlob(cp) != nullptr;
}

std::vector<int> CodePageTable::tableCodePages() {
    std::vector<int> cps;
    for (size_t i = 0; i < kCodePageBlobCount; ++i)
        cps.push_back(kCodePageBlobs[i].codePage);
    return cps;
}

const CodePageTable* CodePageTable::get(int cp) {
    const CodePageBlob* blob = findBlob(cp);
    if (!blob)
        return nullptr;
    Slot& slot = slots()[blob - kCodePageBlobs];
    std::call_once(slot.once, [&] {
        std::string text;
        for (const char* const* p = blob->pieces; *p; ++p)
            text += *p;
        std::string error;
        slot.table = load(text, error);
    });
    return slot.table.get();
}

std::unique_ptr<CodePageTable> CodePageTable::load(std::string_view text, std::string& error) {
    std::vector<uint8_t> data;
    if (!unpack(text, data, error))
        return nullptr;
    auto t = std::unique_ptr<CodePageTable>(new CodePageTable());
    if (!t->parse(data, error))
        return nullptr;
    return t;
}

void CodePageTable::addReverse(uint16_t u, uint16_t code) {
    uint16_t& block = revIndex_[u >> 8];
    if (block == 0) {
        block = static_cast<uint16_t>(rev_.size() / 256);
        rev_.resize(rev_.size() + 256, 0);
    }
    uint16_t& slot = rev_[(static_cast<size_t>(block) << 8) | (u & 0xFF)];
    if (slot == 0) // a listed duplicate never reaches here; otherwise the lowest code wins
        slot = code;
}

bool CodePageTable::parse(const std::vector<uint8_t>& d, std::string& error) {
    Reader r{d};
    uint8_t kind = r.u8();
    uint8_t layout = r.u8();
    if ((kind != 'a' && kind != 'n') || (layout != 'u' && layout != 'd')) {
        error = "unknown table layout";
        return false;
    }
    ascii_ = kind == 'a';
    doubleByte_ = layout == 'd';
    int first = ascii_ ? 0x80 : 0;
    for (int b = 0; b < first; ++b)
        single_[b] = static_cast<uint16_t>(b);
    for (int b = first; b < 256; ++b)
        single_[b] = r.u16();
    if (doubleByte_) {
        readBitmap(r, lead_);
        readBitmap(r, trail_);
        pairs_.assign(65536, 0);
        for (int lead = 0; lead < 256 && r.ok; ++lead) {
            if (!lead_[lead])
                continue;
            uint8_t firstTrail = r.u8();
            uint16_t count = r.u16();
            if (firstTrail + count > 256) {
                error = "bad row";
                return false;
            }
            uint16_t prev = 0;
            for (unsigned k = 0; k < count; ++k) {
                auto u = static_cast<uint16_t>(prev + r.u16());
                if (u != 0) {
                    pairs_[(lead << 8) | (firstTrail + k)] = u;
                    prev = u;
                }
            }
        }
    }
    std::vector<uint16_t> duplicates(r.u16());
    for (auto& c : duplicates)
        c = r.u16();
    if (!r.ok || r.pos != d.size()) {
        error = "table length mismatch";
        return false;
    }
    std::sort(duplicates.begin(), duplicates.end());
    auto isDuplicate = [&](uint16_t c) {
        return std::binary_search(duplicates.begin(), duplicates.end(), c);
    };
    for (int b = 0; b < 256; ++b) {
        bool mapped = (single_[b] != 0 || b == 0) && !lead_[b];
        singleUtf8_[b] = utf8Of(single_[b], mapped);
        if (mapped && b != 0 && !isDuplicate(static_cast<uint16_t>(b)))
            addReverse(single_[b], static_cast<uint16_t>(b));
    }
    for (size_t c = 0; c < pairs_.size(); ++c)
        if (pairs_[c] != 0 && !isDuplicate(static_cast<uint16_t>(c)))
            addReverse(pairs_[c], static_cast<uint16_t>(c));
    return true;
}

} // namespace norvane
