#pragma once

// One built-in single- or double-byte code page: byte (or lead/trail pair) → UTF-16 code unit,
// and the reverse index. Tables are decoded from their compressed text constants the first
// time a code page is used, once per process even when threads race, and kept until exit.
//
// Unpacked layout (the generator writes it, load() reads it):
//   byte 0   'a' when bytes below 0x80 are ASCII (only 0x80-0xFF are stored), else 'n'
//   byte 1   'u' single-byte, 'd' double-byte
//   entries  uint16 LE code units for the single bytes (128 or 256 of them; 0 = unmapped)
//   'd' only: 32-byte lead-byte bitmap, 32-byte trail-byte bitmap, then per lead byte in
//            order: first trail byte (uint8), count (uint16 LE), count deltas (uint16 LE):
//            unit = previous non-zero unit of the row + delta, 0 meaning unmapped
//   tail     uint16 LE count, then that many codes that decode but are not the code written
//            for their character (duplicates; the reverse index skips them)

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class CodePageTable {
public:
    // The table of cp, loaded on first use; null when cp has no built-in table (or its data
    // is damaged, which the tests rule out).
    [[nodiscard]] static const CodePageTable* get(int cp);
    [[nodiscard]] static bool hasTable(int cp);
    // Every code page with a built-in table, ascending.
    [[nodiscard]] static std::vector<int> tableCodePages();

    // Decodes a table's text constant (the pieces joined); null and a reason when it is bad.
    [[nodiscard]] static std::unique_ptr<CodePageTable> load(std::string_view text,
                                                             std::string& error);

    [[nodiscard]] bool isDoubleByte() const { return doubleByte_; }
    [[nodiscard]] bool isAsciiBased() const { return ascii_; }
    [[nodiscard]] bool isLead(uint8_t b) const { return lead_[b]; }
    [[nodiscard]] bool isTrail(uint8_t b) const { return trail_[b]; }
    // UTF-16 unit of a single byte; 0 for unmapped bytes and lead bytes (and for byte 0).
    [[nodiscard]] uint16_t single(uint8_t b) const { return single_[b]; }
    // UTF-16 unit of a lead/trail pair; 0 when unmapped.
    [[nodiscard]] uint16_t pair(uint8_t lead, uint8_t trail) const {
        return pairs_[(static_cast<unsigned>(lead) << 8) | trail];
    }
    // The code written for u: a byte (< 0x100) or lead << 8 | trail; -1 when unmapped.
    [[nodiscard]] int encode(uint16_t u) const {
        uint16_t c = rev_[(static_cast<size_t>(revIndex_[u >> 8]) << 8) | (u & 0xFF)];
        return (c != 0 || u == 0) ? c : -1;
    }

    // Precomputed UTF-8 of each single byte, for the hot table → UTF-8 loop.
    struct Utf8Bytes {
        uint8_t b[3];
        uint8_t len; // 0 = unmapped
    };
    [[nodiscard]] const Utf8Bytes* singleUtf8() const { return singleUtf8_.data(); }

private:
    bool parse(const std::vector<uint8_t>& d, std::string& error);
    void addReverse(uint16_t u, uint16_t code);

    bool ascii_ = false;
    bool doubleByte_ = false;
    std::array<uint16_t, 256> single_{};
    std::array<bool, 256> lead_{};
    std::array<bool, 256> trail_{};
    std::array<Utf8Bytes, 256> singleUtf8_{};
    std::vector<uint16_t> pairs_;          // 65536 entries for double-byte tables
    std::array<uint16_t, 256> revIndex_{}; // block number per high byte; block 0 is empty
    std::vector<uint16_t> rev_ = std::vector<uint16_t>(256, 0);
};

} // namespace norvane
