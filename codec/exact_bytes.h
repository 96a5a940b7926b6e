// Which characters of code page 932 bytes write back the bytes they were
// read from, as one table: the byte-loss check runs on it, alone or inside
// the conversion of the bytes to text.
#pragma once

#include <bitset>
#include <cstddef>

#include "codec/cp932.h"

namespace tessaly::cp932 {

// Whether each character as the reader splits the bytes comes back as the
// same bytes: one bit per byte pair (a lead byte and the byte after it) and
// per single byte. Built on first use from the code page tables.
class ExactTable {
public:
    static const ExactTable& Get() {
        static const ExactTable table;
        return table;
    }
    bool Single(unsigned byte) const { return single_[byte]; }
    bool Pair(unsigned lead, unsigned trail) const { return pair_[lead << 8 | trail]; }

private:
    ExactTable() {
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            const unsigned char one[1] = {static_cast<unsigned char>(b1)};
            single_[b1] = Exact(one, 1);
            for (unsigned b2 = 0; b2 < 256; ++b2) {
                const unsigned char two[2] = {static_cast<unsigned char>(b1), static_cast<unsigned char>(b2)};
                pair_[b1 << 8 | b2] = Exact(two, 2);
            }
        }
    }
    // Whether the first character of the n bytes at p writes back its bytes.
    static bool Exact(const unsigned char* p, std::size_t n) {
        char16_t c;
        const unsigned char* const next = ConvertCharacter(p, p + n, &c);
        if (static_cast<std::size_t>(next - p) != n) return true;  // not one pair: see Single
        unsigned char back[2];
        const unsigned char* const backEnd = PutBytes(UnitToBytes(c), back);
        return static_cast<std::size_t>(backEnd - back) == n && back[0] == p[0] && (n == 1 || back[1] == p[1]);
    }
    std::bitset<256> single_;
    std::bitset<0x10000> pair_;
};


}  // namespace tessaly::cp932
