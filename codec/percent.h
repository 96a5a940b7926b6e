// URL encoding and decoding of text through its code page 932 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/fidelity.h"

namespace tessaly {

// Every code-page byte outside printable ASCII becomes "%XX". With crLfAsAmp,
// CR LF becomes "&".
std::u16string Encode(std::u16string_view text, bool crLfAsAmp);

// Reverses Encode: an escape is decoded together with the unit after it (a
// second escape or one literal character). With crLfAsAmp, "&" outside an
// escape unit becomes CR LF.
std::u16string Decode(std::u16string_view text, bool crLfAsAmp);

// The same conversions a piece at a time, appending to out. With final
// false, text is not the end of the input: what the rules cannot decide yet
// (a high surrogate or, with crLfAsAmp, a CR waiting for the next unit; an
// escape waiting for the unit that completes it) is left unconverted. Return
// the units converted; the caller puts the rest in front of the next piece.
// Pieces converted this way give exactly what the whole text gives.
std::size_t EncodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp,
                         bool final);
std::size_t DecodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp,
                         bool final);
// The same, also counting into loss the decoded bytes that code page 932
// does not read back as themselves, as DecodeAsciiToBytesAppend below does
// (offsets are indices in text).
std::size_t DecodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp,
                         bool final, ByteLoss& loss);

// DecodeAppend on the text whose units are the bytes, each byte the unit of
// its value (ISO 8859-1). Code page 932 reads its bytes below 0x80 as those
// units, so for such bytes this is DecodeAppend(out, ToText(bytes), ...)
// without the text in between.
std::size_t DecodeLatin1Append(std::u16string& out, std::string_view bytes, bool crLfAsAmp,
                               bool final);

// For code page 932 bytes all below 0x80 (precondition), the bytes of the
// decoded text: CodePageBridge::ToBytes of what DecodeLatin1Append gives,
// without the text in between.
std::size_t DecodeAsciiToBytesAppend(std::string& out, std::string_view ascii, bool crLfAsAmp,
                                     bool final);

// The same, also counting into loss the decoded bytes that code page 932
// does not read back as themselves, each piece as the decoder writes it:
// all the bytes of every character the reader splits the piece into, at the
// offset in ascii of the escape that gave the character's first byte (of the
// literal partner when that gave it). Added to, not reset; with final false,
// only what is converted is counted.
std::size_t DecodeAsciiToBytesAppend(std::string& out, std::string_view ascii, bool crLfAsAmp,
                                     bool final, ByteLoss& loss);

// DecodeAppend and DecodeAsciiToBytesAppend on the text with each "+" in it
// a space (form data), with loss, when given, counted as they count it.
std::size_t DecodePlusAsSpaceAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp, bool final,
                                   ByteLoss* loss = nullptr);
std::size_t DecodeAsciiPlusAsSpaceToBytesAppend(std::string& out, std::string_view ascii, bool crLfAsAmp, bool final,
                                               ByteLoss* loss = nullptr);

// Encode from code page 932 bytes to the bytes of the encoded text in one
// pass: appends to out exactly what
// CodePageBridge::ToBytes(Encode(CodePageBridge::ToText(bytes), crLfAsAmp))
// gives, and with loss counts what FindByteLoss counts (offsets within
// bytes; added to, not reset). With final false, what the text route would
// hold back is left unconverted: a lead byte that ends bytes (not taken as a
// trail byte) and, with crLfAsAmp, a CR that no converted character follows.
// Returns the bytes converted; pieces converted this way give what the whole
// gives.
std::size_t EncodeBytesAppend(std::string& out, std::string_view bytes, bool crLfAsAmp, bool final,
                              ByteLoss* loss = nullptr);

namespace detail {
// For tests: how many ways EncodeBytesAppend has on this processor to take
// bytes many at a time (the fastest first, by the instructions each needs),
// and which it takes from now on (0, the fastest, unless told).
int EncodeBlockWays();
void UseEncodeBlockWay(int way);

// EncodeBytesAppend's blocks with the forms of an escape set (each form up
// to three bytes, their count in the top byte): every byte from 0x80 up and
// each byte below it that the set does not keep as "%XX", the others as
// themselves or, a space, as "+".
struct SetBlocks {
    static constexpr bool kPrintable = false;
    // Bytes the blocks may write past what they keep.
    static constexpr std::size_t kScratch = 3 * 64 + 16;

    explicit SetBlocks(const std::array<std::uint32_t, 256>& setForms);
    // From p, which starts a character, while a block starts before
    // chunkEnd with 65 bytes before stop, up to a character the blocks do
    // not do (one that does not write back its own bytes, a CR with
    // crLfAsAmp); returns where they stopped, where a character starts. p
    // when the forms are not ones the blocks write.
    const unsigned char* Encode(const unsigned char* p, const unsigned char* chunkEnd, const unsigned char* stop,
                                bool crLfAsAmp, unsigned char*& o) const;
    // The same for UTF-8 text: from p, which starts a character, while a
    // block starts before chunkEnd with 67 bytes before stop, up to a
    // character that is not valid UTF-8 (or a CR with crLfAsAmp).
    const unsigned char* EncodeUtf8(const unsigned char* p, const unsigned char* chunkEnd, const unsigned char* stop,
                                    bool crLfAsAmp, unsigned char*& o) const;
    static constexpr std::size_t kUtf8Reach = 67;
    bool Keeps(unsigned b) const { return b < 0x80 && (byLow[b & 15] >> (b >> 4) & 1) != 0; }

    const std::array<std::uint32_t, 256>* forms;
    // Whether the set keeps a byte: a bit for each high nibble (0-7) at
    // each low nibble.
    alignas(16) std::array<std::uint8_t, 16> byLow{};
    bool spaceAsPlus = false;
    bool usable = true;
};
}  // namespace detail

}  // namespace tessaly
