// Code page 932 tables and the allocation-free conversions of one character
// or one short byte piece built on them. CodePageBridge, Encode and Decode
// all go through these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessaly::cp932 {

inline constexpr char16_t kDefaultChar = u'\u30FB';  // what an invalid byte gives
inline constexpr unsigned kFirstTrail = 0x40;
inline constexpr unsigned kTrailCount = 0xFC - 0x40 + 1;
inline constexpr std::size_t kLeadByteCount = 60;

// Generated tables (see tools/gen_cp932_table.py and cp932_table.inc).
extern const std::uint16_t kSingleByteToText[256];
extern const std::uint8_t kLeadRow[256];
extern const std::uint16_t kDoubleByteToText[kLeadByteCount][kTrailCount];
// Code-page bytes of every UTF-16 code unit: a single byte below 0x100, else
// lead byte << 8 | trail byte. Unmapped units, surrogates included, give '?'.
extern const std::array<std::uint16_t, 0x10000> kTextToBytes;

// Whether each character as the reader splits the bytes writes back the
// bytes it was read from, a bit each: see ExactTable.
struct ExactBits {
    std::array<std::uint64_t, 256 / 64> singles;
    std::array<std::uint64_t, 0x10000 / 64> pairs;
};
extern const ExactBits kExact;

// Every byte pair b1 b2 (at b1 << 8 | b2) read as one piece of two bytes:
// the two units the piece's text is written as (the first in the low half),
// its pair's character and 0xFFFF, which no byte reads as, when the two
// bytes form one, else each byte's own character.
extern const std::array<std::uint32_t, 0x10000> kPairUnits;

// The same pieces written back as code-page bytes: the bytes of their text
// packed from the low byte up; their count (bits 0-2) and, above it, how
// many of the two bytes do not read back as themselves (bits 3-4) and
// whether the first of those is the second byte (bit 5); and, at
// b1 | b2 << 8, 1 when the piece gives back b1 b2 with nothing lost.
extern const std::array<std::uint32_t, 0x10000> kPairBytes;
extern const std::array<std::uint8_t, 0x10000> kPairLengthAndLoss;
extern const std::array<std::uint8_t, 0x10000> kPairSame;

// The bytes of one UTF-16 code unit, as described for kTextToBytes.
inline std::uint16_t UnitToBytes(char16_t unit) { return kTextToBytes[unit]; }

inline bool IsDoubleByte(std::uint16_t bytes) { return bytes >= 0x100; }

inline bool IsLeadByte(std::uint8_t byte) { return kLeadRow[byte] != 0; }

// A byte converted on its own; a lead byte gives U+30FB.
inline char16_t SingleByteToText(std::uint8_t byte) {
    return static_cast<char16_t>(kSingleByteToText[byte]);
}

// The character of a lead byte and the byte after it, or 0 when that byte
// cannot trail (then the lead byte stands alone).
inline char16_t PairToText(std::uint8_t lead, std::uint8_t trail) {
    const unsigned offset = unsigned{trail} - kFirstTrail;
    if (offset >= kTrailCount) return 0;
    return static_cast<char16_t>(kDoubleByteToText[kLeadRow[lead] - 1][offset]);
}

// The text of what UnitToBytes gave (always a valid single byte or pair).
inline char16_t BytesToChar(std::uint16_t bytes) {
    if (!IsDoubleByte(bytes)) return SingleByteToText(static_cast<std::uint8_t>(bytes));
    return PairToText(static_cast<std::uint8_t>(bytes >> 8), static_cast<std::uint8_t>(bytes));
}

// Whether unit comes back unchanged from bytes and back to text.
inline bool RoundTrips(char16_t unit) { return BytesToChar(UnitToBytes(unit)) == unit; }

// Converts the character that starts at p (a single byte, or a lead byte and
// the byte after it when that byte can trail) into *out; returns where the
// next character starts.
inline const unsigned char* ConvertCharacter(const unsigned char* p, const unsigned char* end,
                                             char16_t* out) {
    const std::uint8_t byte = *p++;
    if (IsLeadByte(byte) && p != end) {
        if (const char16_t c = PairToText(byte, *p)) {
            *out = c;
            return p + 1;
        }
    }
    *out = SingleByteToText(byte);
    return p;
}

// Converts the bytes [p, end) to text at out, at most one unit per byte;
// returns the new end of out.
inline char16_t* AppendBytesAsText(const unsigned char* p, const unsigned char* end,
                                   char16_t* out) {
    while (p != end) p = ConvertCharacter(p, end, out++);
    return out;
}

// Writes the bytes of what UnitToBytes gave to out; returns the new end.
inline unsigned char* PutBytes(std::uint16_t bytes, unsigned char* out) {
    if (IsDoubleByte(bytes)) *out++ = static_cast<unsigned char>(bytes >> 8);
    *out++ = static_cast<unsigned char>(bytes);
    return out;
}

inline bool IsHighSurrogate(char16_t unit) { return (unit & 0xFC00) == 0xD800; }
inline bool IsLowSurrogate(char16_t unit) { return (unit & 0xFC00) == 0xDC00; }

}  // namespace tessaly::cp932
