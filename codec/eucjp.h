// EUC-JP as the Encoding Standard's decoder and encoder give it (the bytes
// browsers put into URLs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::eucjp {

struct Read {
    static constexpr std::size_t npos = std::string_view::npos;
    std::size_t consumed = 0;         // bytes converted
    std::uint64_t invalid = 0;        // U+FFFD written
    std::size_t firstInvalid = npos;  // offset of the bytes that gave the first
};

// One character of EUC-JP bytes as the decoder reads it.
struct Step {
    char16_t c;       // 0 when the bytes do not form one (read as U+FFFD)
    unsigned length;  // bytes taken
    bool cut;         // the end cut the sequence: more bytes may complete it
};

// ReadCharacter's step in one word: c in bits 0-15, length in 16-23, cut in
// bit 24 (a word comes back in a register, where the struct would be put
// together through memory).
std::uint32_t ReadCharacterWord(const unsigned char* p, const unsigned char* end);

// Reads the character that starts at p (p < end), as at the end of the input.
inline Step ReadCharacter(const unsigned char* p, const unsigned char* end) {
    const std::uint32_t word = ReadCharacterWord(p, end);
    return {static_cast<char16_t>(word), word >> 16 & 0xFF, (word >> 24) != 0};
}

// Appends the text of EUC-JP bytes to out. With final false, a sequence cut
// off by the end of bytes is left unconverted (not in consumed).
Read AppendText(std::u16string& out, std::string_view bytes, bool final = true);

// AppendText into out, which has room for a unit for each byte; returns the
// end of what it wrote, and in read what AppendText returns.
char16_t* DecodeTo(char16_t* out, std::string_view bytes, bool final, Read& read);

// The JIS X 0208 characters of the pairs of row bytes (0xA1 to 0xFE each),
// 94 to a row: [(lead - 0xA1) * 94 + trail - 0xA1], 0 where there is none.
const std::uint16_t* Jis0208Pairs();

// The U+FFFD AppendText (final) writes for bytes, counted without writing;
// the count stops once it passes limit.
std::uint64_t CountInvalid(std::string_view bytes, std::uint64_t limit);

struct Write {
    static constexpr std::size_t npos = std::u16string_view::npos;
    std::size_t consumed = 0;      // units converted
    std::uint64_t lost = 0;        // characters written as "&#N;"
    std::size_t firstLost = npos;  // index of the first one
};

// Appends the EUC-JP bytes of text to out; a character EUC-JP cannot hold
// (a lone surrogate included) is written as "&#N;", N its code point in
// decimal. With final false, a high surrogate that ends text is left
// unconverted.
Write AppendBytes(std::string& out, std::u16string_view text, bool final = true);

// The bytes EUC-JP writes each UTF-16 unit as, indexed by the unit: one
// byte below 0x100, else first byte << 8 | second byte; 0 when it cannot
// hold the unit (a surrogate included), and for unit 0.
const std::uint16_t* UnitBytes();

// The row (1 to 94) of the bytes EUC-JP writes c as when they are a JIS X
// 0208 pair, else 0 (ASCII, half-width katakana, characters it cannot hold).
// Rows 16 to 47 are the common kanji, 48 to 84 the rarer ones.
unsigned Jis0208Row(char16_t c);

}  // namespace tessaly::eucjp
