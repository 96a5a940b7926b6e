// Which characters of code page 932 bytes write back the bytes they were
// read from, as one table: the byte-loss check runs on it, alone or inside
// the conversion of the bytes to text.
#pragma once

#include "codec/cp932.h"

namespace tessaly::cp932 {

// Whether each character as the reader splits the bytes comes back as the
// same bytes: one bit per byte pair (a lead byte and the byte after it) and
// per single byte, worked out from the code page tables at compile time.
class ExactTable {
public:
    static const ExactTable& Get() {
        static constexpr ExactTable table;
        return table;
    }
    bool Single(unsigned byte) const { return (kExact.singles[byte / 64] >> (byte % 64) & 1) != 0; }
    bool Pair(unsigned lead, unsigned trail) const {
        const unsigned i = lead << 8 | trail;
        return (kExact.pairs[i / 64] >> (i % 64) & 1) != 0;
    }
};

}  // namespace tessaly::cp932
