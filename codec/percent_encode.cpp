// Encode: one pass from UTF-16 units through their code-page bytes to the
// escaped text, without building the byte string in between.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

using cp932::UnitToBytes;

// The encoded form of one byte: itself when printable, else "%XX". Written
// with one 8-byte store; the unit after the form is scratch that the next
// form overwrites.
struct ByteForm {
    char16_t units[3];
    char16_t length;
};
static_assert(sizeof(ByteForm) == 8);

constexpr unsigned kMostUnitsPerUnit = 6;  // a double-byte character as "%XX%XX"
constexpr std::size_t kScratchUnits = 8;  // the last store's spill, and one unit read past a chunk

constexpr bool IsPrintable(unsigned byte) { return byte - 0x20 < 0x7F - 0x20; }

// Forms of every byte value. For the high byte of a code (a lead byte or, for
// a single-byte code, 0), 0 has the empty form.
constexpr std::array<ByteForm, 256> MakeForms(bool highByte) {
    constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
    std::array<ByteForm, 256> forms{};
    for (unsigned b = 0; b < 256; ++b) {
        if (highByte && b == 0) {
            forms[b] = {{0, 0, 0}, 0};
        } else if (IsPrintable(b)) {
            forms[b] = {{static_cast<char16_t>(b), 0, 0}, 1};
        } else {
            forms[b] = {{u'%', kHexDigits[b >> 4], kHexDigits[b & 0xF]}, 3};
        }
    }
    return forms;
}
constexpr std::array<ByteForm, 256> kHighByteForms = MakeForms(true);
constexpr std::array<ByteForm, 256> kLowByteForms = MakeForms(false);

char16_t* PutForm(const ByteForm& form, char16_t* out) {
    std::memcpy(out, &form, sizeof form);
    return out + form.length;
}

// A surrogate pair is one character and converts to a single '?': after the
// high half, step over the low half.
const char16_t* SkipLowSurrogate(char16_t unit, const char16_t* p, const char16_t* end) {
    if (cp932::IsHighSurrogate(unit) && p != end && cp932::IsLowSurrogate(*p)) ++p;
    return p;
}

}  // namespace

std::size_t EncodeAppend(std::u16string& out, std::u16string_view text, bool crLfAsAmp,
                         bool final) {
    detail::ChunkedOutput<char16_t> output(out, kMostUnitsPerUnit * text.size() + kScratchUnits);
    const char16_t* const begin = text.data();
    const char16_t* p = begin;
    const char16_t* const end = p + text.size();
    while (p != end) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        char16_t* o = output.Room(kMostUnitsPerUnit * static_cast<std::size_t>(chunkEnd - p) +
                                  kScratchUnits);
        while (p < chunkEnd) {
            const char16_t unit = *p++;
            const std::uint16_t bytes = UnitToBytes(unit);
            if (bytes == '?') {
                if (p == end && !final && cp932::IsHighSurrogate(unit)) {
                    p -= 1;  // its low half may follow
                    output.Commit(o);
                    output.Finish();
                    return static_cast<std::size_t>(p - begin);
                }
                p = SkipLowSurrogate(unit, p, end);
            } else if (bytes == '\r' && crLfAsAmp) {
                if (p == end) {
                    if (!final) {
                        p -= 1;  // an LF may follow
                        break;
                    }
                    *o++ = u'\r';
                    break;
                }
                const char16_t next = *p++;
                const std::uint16_t nextBytes = UnitToBytes(next);
                if (nextBytes == '\n') {
                    *o++ = u'&';
                } else {
                    if (p == end && !final && nextBytes == '?' && cp932::IsHighSurrogate(next)) {
                        p -= 2;  // the low half of the character after the CR may follow
                        break;
                    }
                    // The CR and the next character's bytes go out raw; a
                    // double-byte character keeps both its bytes, so it stays
                    // whole when the output bytes become text again.
                    *o++ = u'\r';
                    *o++ = cp932::BytesToChar(nextBytes);
                    if (nextBytes == '?') p = SkipLowSurrogate(next, p, end);
                }
                continue;
            }
            o = PutForm(kHighByteForms[bytes >> 8], o);
            o = PutForm(kLowByteForms[bytes & 0xFF], o);
        }
        output.Commit(o);
        if (p < chunkEnd) break;  // held back at the end
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

std::u16string Encode(std::u16string_view text, bool crLfAsAmp) {
    std::u16string out;
    EncodeAppend(out, text, crLfAsAmp, true);
    return out;
}

}  // namespace tessaly
