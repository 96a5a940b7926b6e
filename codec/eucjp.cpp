// EUC-JP: the decoder and encoder of the Encoding Standard, on direct tables.
#include "codec/eucjp.h"

#include <algorithm>
#include <array>

#include "codec/chunked_output.h"

namespace tessaly::eucjp {

#include "codec/eucjp_table.inc"

namespace {

constexpr unsigned kRows = 94;
constexpr char16_t kReplacement = 0xFFFD;

constexpr bool InRange(unsigned byte, unsigned low, unsigned high) { return byte - low <= high - low; }
constexpr bool IsRowByte(unsigned byte) { return InRange(byte, 0xA1, 0xFE); }
constexpr unsigned Pointer(unsigned lead, unsigned trail) { return (lead - 0xA1) * kRows + (trail - 0xA1); }

// The encoder's bytes of every UTF-16 unit of 0x80 and up: a single byte
// below 0x100, else first byte << 8 | second byte; 0 when EUC-JP cannot
// hold the unit (surrogates included). A character's lowest pointer wins,
// so the table is filled from the highest pointer down.
constexpr std::array<std::uint16_t, 0x10000> BuildTextToBytes() {
    std::array<std::uint16_t, 0x10000> table{};
    for (unsigned pointer = kRows * kRows; pointer-- > 0;) {
        if (const std::uint16_t c = kJis0208[pointer]) {
            table[c] = static_cast<std::uint16_t>((pointer / kRows + 0xA1) << 8 | (pointer % kRows + 0xA1));
        }
    }
    table[0x2212] = table[0xFF0D];
    table[0x00A5] = 0x5C;
    table[0x203E] = 0x7E;
    for (unsigned c = 0xFF61; c <= 0xFF9F; ++c) {
        table[c] = static_cast<std::uint16_t>(0x8E00 | (c - 0xFF61 + 0xA1));
    }
    for (unsigned c = 0; c < 0x80; ++c) table[c] = static_cast<std::uint16_t>(c);
    return table;
}

constinit const std::array<std::uint16_t, 0x10000> kTextToBytes = BuildTextToBytes();

// "&#N;" for a code point N.
char* PutReference(char* out, char32_t c) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + c % 10);
        c /= 10;
    } while (c != 0);
    *out++ = '&';
    *out++ = '#';
    while (count > 0) *out++ = digits[--count];
    *out++ = ';';
    return out;
}

constexpr std::size_t kMostBytesPerUnit = 8;  // "&#55296;" for a lone surrogate
constexpr std::size_t kChunkUnits = 4096;

}  // namespace

std::uint32_t ReadCharacterWord(const unsigned char* p, const unsigned char* end) {
    const unsigned char* const start = p;
    const unsigned lead = *p++;
    if (lead < 0x80) return lead | 1u << 16;
    char16_t c = 0;
    bool cut = false;
    if (lead == 0x8E || lead == 0x8F || IsRowByte(lead)) {
        if (p == end) {
            cut = true;
        } else {
            unsigned second = *p;
            const std::uint16_t* index = kJis0208;
            unsigned row = lead;
            if (lead == 0x8E && InRange(second, 0xA1, 0xDF)) {
                c = static_cast<char16_t>(0xFF61 - 0xA1 + second);
                ++p;
            } else if (lead == 0x8F && IsRowByte(second)) {
                ++p;
                cut = p == end;
                index = kJis0212;
                row = second;
                second = p != end ? *p : 0x80;  // at the end: not a row byte, not ASCII
            }
            if (c == 0) {
                // A byte that cannot complete the sequence: an ASCII byte
                // is read again on its own, any other is taken.
                if (IsRowByte(row) && IsRowByte(second)) c = index[Pointer(row, second)];
                if (p != end && *p >= 0x80) ++p;
            }
        }
    }
    return c | static_cast<std::uint32_t>(p - start) << 16 | std::uint32_t{cut} << 24;
}

char16_t* DecodeTo(char16_t* out, std::string_view bytes, bool final, Read& read) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = begin;
    const auto* const end = p + bytes.size();
    char16_t* o = out;
    while (p != end) {
        if (*p < 0x80) {
            *o++ = *p++;
            continue;
        }
        const Step step = ReadCharacter(p, end);
        if (step.cut && !final) break;  // its other bytes are still to come
        if (step.c == 0 && read.invalid++ == 0) read.firstInvalid = static_cast<std::size_t>(p - begin);
        *o++ = step.c == 0 ? kReplacement : step.c;
        p += step.length;
    }
    read.consumed = static_cast<std::size_t>(p - begin);
    return o;
}

Read AppendText(std::u16string& out, std::string_view bytes, bool final) {
    Read read;
    detail::ChunkedOutput<char16_t> output(out, bytes.size());  // at most one unit per byte
    output.Commit(DecodeTo(output.Room(bytes.size()), bytes, final, read));
    output.Finish();
    return read;
}

const std::uint16_t* Jis0208Pairs() { return kJis0208; }

std::uint64_t CountInvalid(std::string_view bytes, std::uint64_t limit) {
    std::uint64_t invalid = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p != end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        // The common case first: a JIS X 0208 pair.
        if (end - p >= 2 && IsRowByte(p[0]) && IsRowByte(p[1]) && kJis0208[Pointer(p[0], p[1])] != 0) {
            p += 2;
            continue;
        }
        const Step step = ReadCharacter(p, end);
        p += step.length;
        if (step.c == 0 && ++invalid > limit) return invalid;
    }
    return invalid;
}

Write AppendBytes(std::string& out, std::u16string_view text, bool final) {
    Write write;
    detail::ChunkedOutput<char> output(out, 2 * text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t chunkEnd = std::min(text.size(), i + kChunkUnits);
        // A pair cut by the chunk's end writes its reference in this chunk.
        char* o = output.Room(kMostBytesPerUnit * (chunkEnd - i + 1));
        for (; i < chunkEnd; ++i) {
            const char16_t unit = text[i];
            if (unit < 0x80) {
                *o++ = static_cast<char>(unit);
                continue;
            }
            if (const std::uint16_t bytes = kTextToBytes[unit]) {
                if (bytes >= 0x100) *o++ = static_cast<char>(bytes >> 8);
                *o++ = static_cast<char>(bytes);
                continue;
            }
            char32_t c = unit;
            if ((unit & 0xFC00) == 0xD800) {
                if (i + 1 == text.size() && !final) break;  // its low half may follow
                if (i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                }
            }
            if (write.lost++ == 0) write.firstLost = i;
            o = PutReference(o, c);
            if (c >= 0x10000) ++i;  // a pair takes two units; the chunk may end between them
        }
        output.Commit(o);
        if (i < chunkEnd) break;
    }
    output.Finish();
    write.consumed = i;
    return write;
}

const std::uint16_t* UnitBytes() { return kTextToBytes.data(); }

unsigned Jis0208Row(char16_t c) {
    const unsigned bytes = kTextToBytes[c];
    return bytes >= 0xA100 ? (bytes >> 8) - 0xA0 : 0;
}

}  // namespace tessaly::eucjp
