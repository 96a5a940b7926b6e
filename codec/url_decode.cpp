// DecodeUrl in one encoding. Code page 932 keeps Decode's pairing of an
// escape with the unit after it; UTF-8 and EUC-JP take every maximal run of
// escapes as bytes of the encoding and decode it, keeping all other text as
// it is.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/hex_digits.h"
#include "codec/eucjp.h"
#include "codec/exact_bytes.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/url_internal.h"
#include "codec/utf8.h"

namespace tessaly {
namespace {

using detail::kHighDigits;
using detail::kLowDigits;

// The byte of two hexadecimal digits, or a value above 0xFF when either is
// no digit (a unit above 0xFF keeps some of its high bits).
inline unsigned HexByte(char16_t high, char16_t low) {
    return kHighDigits[high & 0xFF] | kLowDigits[low & 0xFF] | ((high | low) & 0xFF00u);
}

inline bool IsHexDigit(char16_t c) { return HexByte(u'0', c) <= 0xFF; }

// HexByte of every two bytes, as the bytes read from memory in order make a
// 16-bit key.
constexpr std::array<std::uint16_t, 0x10000> BuildHexPairs() {
    std::array<std::uint16_t, 0x10000> bytes{};
    for (unsigned high = 0; high < 256; ++high) {
        for (unsigned low = 0; low < 256; ++low) {
            const unsigned key = std::endian::native == std::endian::little ? high | low << 8 : high << 8 | low;
            bytes[key] = static_cast<std::uint16_t>(kHighDigits[high] | kLowDigits[low]);
        }
    }
    return bytes;
}
constinit const std::array<std::uint16_t, 0x10000> kHexPairs = BuildHexPairs();

// HexByte of the two bytes at p, with one look-up of both.
class HexPairs {
public:
    static const HexPairs& Get() {
        static constexpr HexPairs pairs;
        return pairs;
    }
    unsigned Of(const unsigned char* p) const {
        std::uint16_t key;
        std::memcpy(&key, p, sizeof key);
        return kHexPairs[key];
    }
    // The same for the digits at p in bytes or in UTF-16 units, where
    // HexByte keeps a unit's high bits.
    template <class Unit>
    unsigned At(const Unit* p) const {
        if constexpr (std::is_same_v<Unit, unsigned char>) {
            return Of(p);
        } else {
            return HexByte(p[0], p[1]);
        }
    }
};

// The two units at p as one word, the first in its low half.
inline std::uint32_t DigitUnits(const char16_t* p) {
    std::uint32_t units;
    std::memcpy(&units, p, sizeof units);
    return std::endian::native == std::endian::little ? units : units >> 16 | units << 16;
}

// HexByte of the two units of DigitUnits where neither is above 0xFF (the
// caller checks their high bytes).
inline unsigned DigitsByte(std::uint32_t units) {
    if constexpr (std::endian::native == std::endian::little) return kHexPairs[(units | units >> 8) & 0xFFFF];
    return HexByte(static_cast<char16_t>(units), static_cast<char16_t>(units >> 16));
}

// ---------------------------------------------------------------------------
// Decoders of a run of escaped bytes

// A whole three-byte UTF-8 sequence at b (at least three bytes there): its
// character, or 0 when the bytes are anything else.
inline char16_t ThreeByteUtf8(const unsigned char* b) {
    const unsigned lead = b[0], b1 = b[1], b2 = b[2];
    const unsigned c = (lead & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
    const bool whole = (lead & 0xF0) == 0xE0 && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80 && c >= 0x800 &&
                       (c & 0xF800) != 0xD800;
    return whole ? static_cast<char16_t>(c) : char16_t{0};
}

struct RunRead {
    std::size_t consumed = 0;
    char16_t* out = nullptr;
    detail::Invalid invalid;  // offsets in bytes
};

// UTF-8 as the Encoding Standard decodes it: one U+FFFD for each maximal
// part of a sequence that cannot be completed. With final false, a sequence
// cut off by the end is left for later. Writes at most one unit per byte.
struct Utf8Run {
    // The first character of a run is decided by at most four bytes.
    static constexpr std::size_t kBatch = 4;

    // Decodes the whole, valid characters whose escapes start at p,
    // straight from the text; stops at anything else. An escape's two
    // digits are read as one 32-bit word: its low bytes look up the byte,
    // and any high byte set means a unit above 0xFF, no digit.
    static void Fast(const char16_t*& p, const char16_t* end, char16_t*& o) {
        constexpr std::uint32_t kHighBytes = 0xFF00FF00;
        while (end - p >= 3 && p[0] == u'%') {
            const std::uint32_t d0 = DigitUnits(p + 1);
            const unsigned b0 = DigitsByte(d0);
            if ((d0 & kHighBytes) != 0 || b0 > 0xFF) return;  // no escape: the run has ended
            if (b0 < 0x80) {
                *o++ = static_cast<char16_t>(b0);
                p += 3;
                continue;
            }
            if ((b0 & 0xF0) == 0xE0 && end - p >= 9 && p[3] == u'%' && p[6] == u'%') {
                const std::uint32_t d1 = DigitUnits(p + 4), d2 = DigitUnits(p + 7);
                const unsigned b1 = DigitsByte(d1);
                const unsigned b2 = DigitsByte(d2);
                const unsigned c = (b0 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
                // Digits and continuation bytes both: (b & ~0x3F) == 0x80,
                // which two units that are not both digits fail too (the
                // look-up gives them a value above 0xFF).
                if (((d1 | d2) & kHighBytes) == 0 && (b1 & ~0x3Fu) == 0x80 && (b2 & ~0x3Fu) == 0x80 && c >= 0x800 &&
                    (c & 0xF800) != 0xD800) {
                    *o++ = static_cast<char16_t>(c);
                    p += 9;
                    continue;
                }
            } else if (b0 >= 0xC2 && b0 <= 0xDF && end - p >= 6 && p[3] == u'%') {
                const std::uint32_t d1 = DigitUnits(p + 4);
                const unsigned b1 = DigitsByte(d1);
                if ((d1 & kHighBytes) == 0 && (b1 & ~0x3Fu) == 0x80) {
                    *o++ = static_cast<char16_t>((b0 & 0x1F) << 6 | (b1 & 0x3F));
                    p += 6;
                    continue;
                }
            }
            return;
        }
    }

    static std::size_t Stretches(const char16_t* p, std::size_t stop, std::size_t available, bool plus,
                                 char16_t*& o) {
        return detail::DecodeUtf8TextStretches(p, stop, available, plus, o);
    }

    RunRead Decode(const unsigned char* bytes, std::size_t n, bool final, char16_t* o) {
        RunRead read;
        std::size_t i = 0;
        while (i < n) {
            const unsigned lead = bytes[i];
            if (lead < 0x80) {
                *o++ = static_cast<char16_t>(lead);
                ++i;
                continue;
            }
            // The common case first: a whole three-byte sequence.
            if (i + 2 < n) {
                if (const char16_t c = ThreeByteUtf8(bytes + i)) {
                    *o++ = c;
                    i += 3;
                    continue;
                }
            }
            const Utf8Step step = ReadUtf8(bytes + i, bytes + n);
            if (step.cut && !final) {  // cut off: the rest is still to come
                read.consumed = i;
                read.out = o;
                return read;
            }
            const std::size_t start = i;
            char32_t c = step.c;
            i += step.length;
            if (!step.valid) {
                read.invalid.Add(1, start);
                *o++ = u'\uFFFD';
            } else if (c < 0x10000) {
                *o++ = static_cast<char16_t>(c);
            } else {
                c -= 0x10000;
                *o++ = static_cast<char16_t>(0xD800 + (c >> 10));
                *o++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
            }
        }
        read.consumed = n;
        read.out = o;
        return read;
    }
};

struct EucJpRun {
    // The first character of a run is decided by at most three bytes.
    static constexpr std::size_t kBatch = 4;

    const std::uint16_t* const pairs = eucjp::Jis0208Pairs();

    // Decodes the ASCII, the JIS X 0208 pairs and the half-width katakana
    // whose escapes start at p, straight from the text; stops at anything
    // else.
    void Fast(const char16_t*& p, const char16_t* end, char16_t*& o) const {
        constexpr std::uint32_t kHighBytes = 0xFF00FF00;
        while (end - p >= 3 && p[0] == u'%') {
            const std::uint32_t d0 = DigitUnits(p + 1);
            const unsigned b0 = DigitsByte(d0);
            if ((d0 & kHighBytes) != 0) return;
            if (b0 < 0x80) {
                *o++ = static_cast<char16_t>(b0);
                p += 3;
                continue;
            }
            if (end - p < 6 || p[3] != u'%') return;
            const std::uint32_t d1 = DigitUnits(p + 4);
            if ((d1 & kHighBytes) != 0) return;
            const unsigned b1 = DigitsByte(d1);
            if (b0 - 0xA1 < 94 && b1 - 0xA1 < 94) {
                const char16_t c = pairs[(b0 - 0xA1) * 94 + (b1 - 0xA1)];
                if (c == 0) return;
                *o++ = c;
            } else if (b0 == 0x8E && b1 - 0xA1 <= 0xDF - 0xA1) {
                *o++ = static_cast<char16_t>(0xFF61 - 0xA1 + b1);
            } else {
                return;
            }
            p += 6;
        }
    }

    static std::size_t Stretches(const char16_t* p, std::size_t stop, std::size_t available, bool plus,
                                 char16_t*& o) {
        return detail::DecodeEucJpTextStretches(p, stop, available, plus, o);
    }

    // eucjp::AppendText straight into o.
    static RunRead Decode(const unsigned char* bytes, std::size_t n, bool final, char16_t* o) {
        eucjp::Read r;
        RunRead read;
        o = eucjp::DecodeTo(o, std::string_view(reinterpret_cast<const char*>(bytes), n), final, r);
        read.consumed = r.consumed;
        read.invalid.Add(r.invalid, r.firstInvalid);
        read.out = o;
        return read;
    }
};

// Steps only on input of this many bytes or units. The EUC-JP shuffle steps
// set up a table of their input's escapes as they start, which costs more
// than they save on less (a line of a log that detection decodes on its
// own); the stretches gain nothing measurable there either.
constexpr std::size_t kStepsLeast = 1024;

// The steps give way once they have stopped this many times, on fewer bytes
// each on average.
constexpr struct {
    std::size_t stops = 2;
    std::size_t bytesEach = 512;
} kStepsGiveWay;

// Units that need a look besides plain copying: "%", and "&" or "+" when
// their option is on.
struct Specials {
    std::array<bool, 128> is{};
    Specials(bool amp, bool plus) {
        is['%'] = true;
        is['&'] = amp;
        is['+'] = plus;
    }
    bool operator()(char16_t c) const { return c < 128 && is[c]; }
};

// The options that change plain units: "&" as CR LF, "+" as a space.
struct PlainOptions {
    bool amp = false;
    bool plus = false;
};

// What Run::Fast decodes, and the plain units between (all but "%", with
// "&" and "+" as their options read them), while 16 units are left before
// end and fewer than outLimit - o units are written; o takes 8 units of
// scratch after that. In Japanese text escapes and plain units take turns
// about at random, and leaving the loop of escapes for each plain unit would
// cost more than the unit. kOptions false: both options are off.
template <bool kOptions, class Run>
void DecodeMixed(Run& run, const char16_t*& p, const char16_t* end, char16_t*& o, const char16_t* outLimit,
                 PlainOptions options = {}) {
    while (end - p >= 16 && o < outLimit) {
        if (*p != u'%') {
#ifdef __SSE2__
            __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i stops = _mm_cmpeq_epi16(units, _mm_set1_epi16(u'%'));
            if constexpr (kOptions) {
                const __m128i flip = _mm_set1_epi16(options.plus ? u'+' ^ u' ' : 0);
                stops = _mm_or_si128(stops, _mm_cmpeq_epi16(units, _mm_set1_epi16(options.amp ? u'&' : u'%')));
                units = _mm_xor_si128(units, _mm_and_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(u'+')), flip));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), units);
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
            const auto n = static_cast<unsigned>(__builtin_ctz(mask | 0x10000u)) / 2;
#else
            unsigned n = 0;
            for (; n < 8 && p[n] != u'%' && !(kOptions && options.amp && p[n] == u'&'); ++n) {
                o[n] = kOptions && options.plus && p[n] == u'+' ? u' ' : p[n];
            }
#endif
            if (kOptions && n == 0) {  // "&" with its option on
                *o++ = u'\r';
                *o++ = u'\n';
                ++p;
                continue;
            }
            p += n;
            o += n;
            continue;
        }
        // Run::Fast writes a unit for three units of text at most.
        const char16_t* const before = p;
        run.Fast(p, p + std::min<std::ptrdiff_t>(end - p, 3 * (outLimit - o)), o);
        if (p == before) return;
    }
}

// Decodes text with runs of escapes through Run. Output is at most one unit
// per unit of text, or two for "&" as CR LF.
template <class Run>
std::size_t DecodeRuns(std::u16string& out, std::u16string_view text, const DecodeOptions& options, bool final,
                       detail::Invalid* invalid) {
    constexpr std::size_t kRunBytes = 4096;  // bytes of a run decoded at a time, at most
    static_assert(Run::kBatch <= kRunBytes);
    Run run;
    const Specials special(options.crLfAsAmp, options.plusAsSpace);
    const std::size_t growth = options.crLfAsAmp ? 2 : 1;
    detail::ChunkedOutput<char16_t> output(out, growth * text.size() + 16);
    const char16_t* const begin = text.data();
    const char16_t* p = begin;
    const char16_t* const end = p + text.size();
    char16_t* o = output.Room(0);
    char16_t* limit = o;
    // Room for n more units at o.
    const auto ensure = [&](std::size_t n) {
        if (static_cast<std::size_t>(limit - o) >= n) return;
        output.Commit(o);
        // Short texts (a line at a time) get no more than they can use.
        const std::size_t more = n + growth * std::min<std::size_t>(detail::kChunkUnits, end - p);
        o = output.Room(more);
        limit = o + more;
    };
    unsigned char bytes[kRunBytes];
    const PlainOptions plain{options.crLfAsAmp, options.plusAsSpace};
    // Without "&" as CR LF, the stretches where the processor has them: from
    // wherever p reaches stretchesFrom (after a character that stopped them)
    // on; they give way as the byte route's steps do.
    bool stretches = !plain.amp && text.size() >= kStepsLeast && detail::CanDecodeInStretches();
    const char16_t* stretchesFrom = begin;
    std::size_t stepped = 0, stops = 0;
    while (p != end) {
        if (stretches && p >= stretchesFrom) {
            const std::size_t most = std::min<std::size_t>(detail::kChunkUnits, end - p);
            ensure(most);  // a unit written for each unit read at most
            const std::size_t read = Run::Stretches(p, most, static_cast<std::size_t>(end - p), plain.plus, o);
            p += read;
            stepped += read;
            if (static_cast<std::size_t>(end - p) < detail::kTextStretchReach) {
                stretches = false;  // the rest the usual way
            } else if (read + detail::kBlockUnits <= most) {
                // Stopped by a character they do not take.
                if (++stops >= kStepsGiveWay.stops && stepped < stops * kStepsGiveWay.bytesEach) stretches = false;
                stretchesFrom = p + 1;
            } else {
                continue;
            }
        }
        // Up to a chunk's units written, and the scratch after them; with
        // the stretches on, a few, for the character that stopped them.
        const std::size_t most = std::min<std::size_t>(stretches ? 4 : detail::kChunkUnits, end - p);
        ensure(most + 8);
        if (plain.amp || plain.plus) {
            DecodeMixed<true>(run, p, end, o, o + most, plain);
        } else {
            DecodeMixed<false>(run, p, end, o, o + most);
        }
        if (p == end) break;
        // Plain units, a chunk at a time.
        const char16_t* const stop = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        ensure(static_cast<std::size_t>(stop - p) + 2);
        while (p != stop && !special(*p)) *o++ = *p++;
        if (p == stop) continue;
        const char16_t c = *p;
        if (c == u'&') {
            *o++ = u'\r';
            *o++ = u'\n';
            ++p;
            continue;
        }
        if (c == u'+') {
            *o++ = u' ';
            ++p;
            continue;
        }
        // A "%": an escape starts a run, anything else stays.
        const std::size_t left = static_cast<std::size_t>(end - p);
        if (left < 3) {
            if (!final && (left == 1 || IsHexDigit(p[1]))) break;  // it may become an escape
            *o++ = *p++;
            continue;
        }
        unsigned b = HexByte(p[1], p[2]);
        if (b > 0xFF) {
            *o++ = *p++;
            continue;
        }
        // The run: what Run decodes straight at a character's start, and
        // else its bytes gathered and decoded Run::kBatch at a time; a
        // sequence cut off by a batch's end starts the next batch.
        const char16_t* batchStart = p;  // where bytes[0]'s escape is
        std::size_t n = 0;
        bool held = false;
        for (;;) {
            if (n == 0) {
                if (stretches && p >= stretchesFrom) break;  // the stretches go on
                // At a character's start: the common characters straight.
                ensure(detail::kChunkUnits);
                run.Fast(p, p + std::min<std::size_t>(end - p, 3 * detail::kChunkUnits), o);
                batchStart = p;
                if (end - p < 3 || p[0] != u'%' || (b = HexByte(p[1], p[2])) > 0xFF) break;  // the run ended
            }
            bytes[n++] = static_cast<unsigned char>(b);
            p += 3;
            const bool more = end - p >= 3 && p[0] == u'%' && (b = HexByte(p[1], p[2])) <= 0xFF;
            if (more && n < Run::kBatch) continue;
            // More text may lengthen a run that reaches the end of this one.
            const bool open = !final && !more &&
                              (p == end || (end - p < 3 && p[0] == u'%' && (end - p == 1 || IsHexDigit(p[1]))));
            ensure(n);
            const RunRead read = run.Decode(bytes, n, !more && !open, o);
            o = read.out;
            if (invalid != nullptr && read.invalid.count != 0) {
                invalid->Add(read.invalid.count, static_cast<std::size_t>(batchStart - begin) + 3 * read.invalid.first);
            }
            if (open) {
                p = batchStart + 3 * read.consumed;  // what the next piece completes
                held = true;
                break;
            }
            if (!more) break;
            // Carry the cut-off sequence into the next batch.
            std::memmove(bytes, bytes + read.consumed, n - read.consumed);
            batchStart += 3 * read.consumed;
            n -= read.consumed;
        }
        if (held) break;
    }
    output.Commit(o);
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

// ---------------------------------------------------------------------------
// Code page 932

// Counts the bytes of a piece that do not read back as themselves: each
// character as the reader splits the piece, with all its bytes. at[k] is the
// index of the escape or character that gave byte k.
void CountPiece(const unsigned char* piece, const std::size_t* at, std::size_t n, detail::Invalid& invalid) {
    const cp932::ExactTable& exact = cp932::ExactTable::Get();
    std::size_t k = 0;
    while (k < n) {
        const unsigned b = piece[k];
        if (cp932::IsLeadByte(static_cast<std::uint8_t>(b)) && k + 1 < n &&
            cp932::PairToText(static_cast<std::uint8_t>(b), piece[k + 1]) != 0) {
            if (!exact.Pair(b, piece[k + 1])) invalid.Add(2, at[k]);
            k += 2;
        } else {
            if (!exact.Single(b)) invalid.Add(1, at[k]);
            k += 1;
        }
    }
}

// For every byte pair as one piece: how many of its bytes do not read back
// (bits 0-1), and whether the first of them is the second byte (bit 2), as
// CountPiece counts them (worked out at compile time).
class PieceTable {
public:
    static const PieceTable& Get() {
        static constexpr PieceTable table;
        return table;
    }
    unsigned Of(unsigned b1, unsigned b2) const { return cp932::kPairLengthAndLoss[b1 << 8 | b2] >> 3; }
};

// The index of the first "%" at or after i, or n.
inline std::size_t FindUnit(const char16_t* t, std::size_t i, std::size_t n, char16_t unit) {
#ifdef __SSE2__
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    for (; i + 8 <= n; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted))) {
            return i + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        }
    }
#endif
    while (i < n && t[i] != unit) ++i;
    return i;
}

inline std::size_t FindPercent(const char16_t* t, std::size_t i, std::size_t n) {
#ifdef __SSE2__
    const __m128i percent = _mm_set1_epi16(u'%');
    for (; i + 8 <= n; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, percent))) {
            return i + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        }
    }
#endif
    while (i < n && t[i] != u'%') ++i;
    return i;
}

inline std::size_t FindPercent(const unsigned char* t, std::size_t i, std::size_t n) {
#ifdef __SSE2__
    const __m128i percent = _mm_set1_epi8('%');
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, percent))) {
            return i + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (i < n && t[i] != '%') ++i;
    return i;
}

// The walk of Decode's plain loop (see percent_decode.cpp), counting
// instead of writing.
template <class Char, bool kLimited = false>
std::size_t CountCp932(std::basic_string_view<Char> text, bool final, detail::Invalid& invalid,
                       [[maybe_unused]] std::uint64_t limit = 0) {
    const PieceTable& pieces = PieceTable::Get();
    const std::size_t n = text.size();
    const Char* const t = text.data();
    std::size_t i = 0;
    while (i < n) {
        if constexpr (kLimited) {
            if (invalid.count > limit) return n;
        }
        if (t[i] != u'%') i = FindPercent(t, i, n);  // escapes often come one after another
        if (i == n) break;
        if (n - i >= 7) {
            // Away from the end, no end rule applies: the unit is two
            // escapes, or an escape and the unit after it.
            const unsigned b1 = HexByte(t[i + 1], t[i + 2]);
            const char16_t c3 = t[i + 3];
            if (b1 <= 0xFF && c3 < 0x80) {
                // Which of the two it is is as good as random in encoded
                // Japanese: no branch on it.
                const unsigned b2 = HexByte(t[i + 4], t[i + 5]);
                const unsigned two = unsigned{c3 == u'%'} & unsigned{b2 <= 0xFF};
                const unsigned second = c3 ^ ((b2 ^ c3) & (0u - two));
                if (const unsigned entry = pieces.Of(b1, second & 0xFF)) invalid.Add(entry & 3, i + 3 * (entry >> 2));
                i += 4 + 2 * two;
                continue;
            }
        }
        ++i;
        const std::size_t escape = i - 1;
        if (n - i <= 2) return final ? n : escape;
        const unsigned b1 = HexByte(t[i], t[i + 1]);
        if (b1 > 0xFF) continue;
        const char16_t c3 = t[i + 2];
        i += 3;
        const std::size_t left = n - i;
        if (c3 == u'%' && left < 2) {
            if (!final) return escape;
            if (left == 1) return n;  // "%hh%h" ends the text: copied as it is
        }
        const unsigned b2 = left >= 2 ? HexByte(t[i], t[i + 1]) : 0x100;
        unsigned second;  // the byte paired with b1
        if (c3 == u'%' && b2 <= 0xFF) {
            second = b2;
            i += 2;
        } else if (c3 < 0x80) {
            second = c3;  // ASCII is its own byte
        } else {
            // A character as b1's literal partner, when it survives the
            // code page.
            unsigned char piece[3] = {static_cast<unsigned char>(b1)};
            const std::size_t at[3] = {escape, escape + 3, escape + 3};
            const std::uint16_t bytes = cp932::UnitToBytes(c3);
            const std::size_t length =
                cp932::BytesToChar(bytes) != c3
                    ? 1
                    : static_cast<std::size_t>(cp932::PutBytes(bytes, piece + 1) - piece);
            CountPiece(piece, at, length, invalid);
            continue;
        }
        if (const unsigned entry = pieces.Of(b1, second)) invalid.Add(entry & 3, escape + 3 * (entry >> 2));
    }
    return n;
}

// ---------------------------------------------------------------------------
// From the bytes of the encoded text to the bytes of the decoded text

// Writers of the decoded text's bytes: the text's literal characters from
// 0x80 up as the text route reads and writes them back, and decoded
// characters.
// The code-page bytes of every unit that code page 932 writes (as
// UnitToBytes gives them), 0 for the others (and for U+0000, which is then
// taken the longer way): one look-up for both.
class WritableBytes {
public:
    static const WritableBytes& Get() {
        static constexpr WritableBytes table;
        return table;
    }
    std::uint16_t Of(char16_t unit) const { return detail::kCp932WritableBytes[unit]; }
};

struct Cp932Side {
    const cp932::ExactTable& exact = cp932::ExactTable::Get();
    const detail::Cp932LossTable& table = detail::Cp932LossTable::Get();
    const WritableBytes& writable = WritableBytes::Get();

    static unsigned char* PutUnit(char16_t unit, unsigned char* o) {
        const std::uint16_t bytes = cp932::UnitToBytes(unit);
        const bool two = cp932::IsDoubleByte(bytes);
        o[0] = static_cast<unsigned char>(two ? bytes >> 8 : bytes);
        o[1] = static_cast<unsigned char>(bytes);
        return o + 1 + two;
    }
    // The literal character at p; returns its length, 0 when the end cut it
    // (and final is false).
    unsigned Literal(const unsigned char* p, const unsigned char* end, bool final, unsigned char*& o,
                     ByteLoss& input, std::size_t at) const {
        if (!final && p + 1 == end && cp932::IsLeadByte(*p)) return 0;
        char16_t c;
        const unsigned length = static_cast<unsigned>(cp932::ConvertCharacter(p, end, &c) - p);
        if (length == 2 ? exact.Pair(p[0], p[1]) : exact.Single(p[0])) {
            o[0] = p[0];
            o[1] = p[length - 1];
            o += length;
        } else {
            detail::AddLoss(input, length, at);
            o = PutUnit(c, o);
        }
        return length;
    }
    // A decoded character of the BMP that code page 932 writes; false
    // (nothing written) for any other.
    bool PutWritable(char16_t c, unsigned char*& o) const {
        const std::uint16_t bytes = writable.Of(c);
        if (bytes == 0) return false;
        const bool two = cp932::IsDoubleByte(bytes);
        o[0] = static_cast<unsigned char>(two ? bytes >> 8 : bytes);
        o[1] = static_cast<unsigned char>(bytes);
        o += 1 + two;
        return true;
    }
    // A decoded character (U+FFFD for invalid bytes); returns whether code
    // page 932 cannot write it.
    bool Put(char32_t c, unsigned char*& o) const {
        if (c >= 0x10000) {  // a surrogate pair: one '?'
            o = PutUnit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)), o);
            return true;
        }
        o = PutUnit(static_cast<char16_t>(c), o);
        return c != 0xFFFD && table.Lost(static_cast<char16_t>(c));
    }
};

struct Utf8Side {
    static unsigned Literal(const unsigned char* p, const unsigned char* end, bool final, unsigned char*& o,
                            ByteLoss& input, std::size_t at) {
        const Utf8Step step = ReadUtf8(p, end);
        if (step.cut && !final) return 0;
        if (step.valid) {
            std::memcpy(o, p, step.length);
            o += step.length;
        } else {
            detail::AddLoss(input, 1, at);
            o = reinterpret_cast<unsigned char*>(PutUtf8(reinterpret_cast<char*>(o), 0xFFFD));
        }
        return step.length;
    }
    static bool PutWritable(char16_t c, unsigned char*& o) {
        o = reinterpret_cast<unsigned char*>(PutUtf8(reinterpret_cast<char*>(o), c));
        return true;
    }
    static bool Put(char32_t c, unsigned char*& o) {
        o = reinterpret_cast<unsigned char*>(PutUtf8(reinterpret_cast<char*>(o), c));
        return false;
    }
};

// The readers of one character of escaped bytes (at most four), as at the
// end of the bytes; c is U+FFFD for bytes that do not form one.
// Character gives the common characters straight from the escapes at p,
// whose first byte b0 is from 0x80 up: the character and the length of its
// escapes, or 0 for anything else (inlined into every loop that calls it,
// which the compiler stops doing by itself once there are many).
struct Utf8Bytes {
    const HexPairs& hex = HexPairs::Get();
    static Utf8Step Read(const unsigned char* b, const unsigned char* end) { return ReadUtf8(b, end); }
    template <class Side>
    static bool CanSteps(bool) {
        return detail::CanDecodeInStretches();
    }
    template <class Side>
    static std::size_t Steps(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                             unsigned char*& out) {
        if constexpr (std::is_same_v<Side, Cp932Side>) {
            return detail::DecodeUtf8Stretches(text, stop, available, plus, out);
        }
        return detail::DecodeUtf8StretchesAsUtf8(text, stop, available, plus, out);
    }
    [[gnu::always_inline]] unsigned Character(const unsigned char* p, const unsigned char* end, unsigned b0,
                                              char16_t& c) const {
        if ((b0 & 0xF0) == 0xE0 && end - p >= 9 && p[3] == '%' && p[6] == '%') {
            const unsigned b1 = hex.Of(p + 4);
            const unsigned b2 = hex.Of(p + 7);
            const unsigned u = (b0 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
            // Digits and continuation bytes both: (b & 0x1C0) == 0x80.
            if ((b1 & 0x1C0) != 0x80 || (b2 & 0x1C0) != 0x80 || u < 0x800 || (u & 0xF800) == 0xD800) return 0;
            c = static_cast<char16_t>(u);
            return 9;
        }
        if (b0 >= 0xC2 && b0 <= 0xDF && end - p >= 6 && p[3] == '%') {
            const unsigned b1 = hex.Of(p + 4);
            if ((b1 & 0x1C0) != 0x80) return 0;
            c = static_cast<char16_t>((b0 & 0x1F) << 6 | (b1 & 0x3F));
            return 6;
        }
        return 0;
    }
};

struct EucJpBytes {
    const HexPairs& hex = HexPairs::Get();
    const std::uint16_t* const pairs = eucjp::Jis0208Pairs();
    [[gnu::always_inline]] unsigned Character(const unsigned char* p, const unsigned char* end, unsigned b0,
                                              char16_t& c) const {
        if (end - p < 6 || p[3] != '%') return 0;
        const unsigned b1 = hex.Of(p + 4);
        if (b0 - 0xA1 < 94 && b1 - 0xA1 < 94) {
            c = pairs[(b0 - 0xA1) * 94 + (b1 - 0xA1)];
            return c != 0 ? 6 : 0;
        }
        if (b0 == 0x8E && b1 - 0xA1 <= 0xDF - 0xA1) {
            c = static_cast<char16_t>(0xFF61 - 0xA1 + b1);
            return 6;
        }
        return 0;
    }
    static Utf8Step Read(const unsigned char* b, const unsigned char* end) {
        const eucjp::Step step = eucjp::ReadCharacter(b, end);
        return {step.c != 0 ? char32_t{step.c} : char32_t{0xFFFD}, step.length, step.c != 0, step.cut};
    }
    // Into code page 932 by the stretches or (without "+" as a space) the
    // steps; into UTF-8 by the stretches only.
    template <class Side>
    static bool CanSteps(bool plus) {
        if constexpr (std::is_same_v<Side, Cp932Side>) {
            return detail::CanDecodeInStretches() || (!plus && detail::CanDecodeEucJpSteps());
        } else {
            return detail::CanDecodeInStretches();
        }
    }
    template <class Side>
    static std::size_t Steps(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                             unsigned char*& out) {
        if constexpr (std::is_same_v<Side, Utf8Side>) {
            return detail::DecodeEucJpStretchesAsUtf8(text, stop, available, plus, out);
        } else {
            return detail::CanDecodeInStretches() ? detail::DecodeEucJpStretches(text, stop, available, plus, out)
                                                : detail::DecodeEucJpSteps(text, stop, available, out);
        }
    }
};

// Decodes the common characters whose escapes start at p straight, while
// side writes them, up to stop; stops at anything else.
template <class Reader, class Side>
[[gnu::always_inline]] inline void DecodeCommon(const Reader& reader, const Side& side, const unsigned char*& p,
                                                const unsigned char* end, const unsigned char* stop,
                                                unsigned char*& o) {
    while (p < stop && end - p >= 3 && p[0] == '%') {
        const unsigned b0 = HexByte(p[1], p[2]);
        if (b0 < 0x80) {
            *o++ = static_cast<unsigned char>(b0);
            p += 3;
            continue;
        }
        if (b0 > 0xFF) return;  // no escape: the run has ended
        char16_t c;
        const unsigned length = reader.Character(p, end, b0, c);
        if (length == 0 || !side.PutWritable(c, o)) return;
        p += length;
    }
}

// DecodeCommon through the plain bytes between escapes too (ASCII but "%",
// with "&" and "+" as their options read them), up to stop and while 16
// bytes are left before end: in Japanese text escapes and plain bytes take
// turns about at random, and leaving this loop for each would cost more than
// the bytes. Plain bytes are copied up to 16 at a time, 16 written.
// kOptions false: both options are off.
template <bool kOptions, class Reader, class Side>
[[gnu::always_inline]] inline void DecodeMixed(const Reader& reader, const Side& side, const unsigned char*& p,
                                               const unsigned char* end, const unsigned char* stop, unsigned char*& o,
                                               PlainOptions options = {}) {
    if (end - p < 16) return;
    const unsigned char* const last = std::min(stop, end - 16);
    while (p < last) {
        if (*p != '%') {
#ifdef __SSE2__
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('%')), b);
            if constexpr (kOptions) {
                const __m128i flip = _mm_set1_epi8(options.plus ? '+' ^ ' ' : 0);
                stops = _mm_or_si128(stops, _mm_cmpeq_epi8(b, _mm_set1_epi8(options.amp ? '&' : '%')));
                b = _mm_xor_si128(b, _mm_and_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('+')), flip));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), b);
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
            const auto n = static_cast<unsigned>(__builtin_ctz(mask | 0x10000u));
#else
            unsigned n = 0;
            for (; n < 16 && p[n] < 0x80 && p[n] != '%' && !(kOptions && options.amp && p[n] == '&'); ++n) {
                o[n] = kOptions && options.plus && p[n] == '+' ? ' ' : p[n];
            }
#endif
            if (n == 0) {
                if (!kOptions || *p != '&') return;  // a byte from 0x80 up
                *o++ = '\r';  // "&" with its option on
                *o++ = '\n';
                ++p;
                continue;
            }
            p += n;
            o += n;
            continue;
        }
        const unsigned b0 = reader.hex.Of(p + 1);
        if (b0 < 0x80) {
            *o++ = static_cast<unsigned char>(b0);
            p += 3;
            continue;
        }
        if (b0 > 0xFF) return;  // no escape
        char16_t c;
        const unsigned length = reader.Character(p, end, b0, c);
        if (length == 0 || !side.PutWritable(c, o)) return;
        p += length;
    }
}

// The first byte at or after p that is not copied as it is: a "%", "&" or
// "+" when their option is on, a byte from 0x80 up; or end.
inline const unsigned char* FindSpecial(const unsigned char* p, const unsigned char* end, bool amp, bool plus) {
#ifdef __SSE2__
    const __m128i percent = _mm_set1_epi8('%');
    const __m128i ampersand = _mm_set1_epi8(amp ? '&' : '%');
    const __m128i plusSign = _mm_set1_epi8(plus ? '+' : '%');
    for (; end - p >= 16; p += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, percent), _mm_cmpeq_epi8(b, ampersand)),
                                         _mm_cmpeq_epi8(b, plusSign));
        if (const int mask = _mm_movemask_epi8(_mm_or_si128(hit, b))) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
    }
#endif
    while (p != end && *p < 0x80 && *p != '%' && !(amp && *p == '&') && !(plus && *p == '+')) ++p;
    return p;
}

// Copies the bytes from p that FindSpecial passes over to o and moves both
// past them; o takes up to 16 bytes of scratch after them.
inline void CopyPlain(const unsigned char*& p, const unsigned char* end, bool amp, bool plus, unsigned char*& o) {
#ifdef __SSE2__
    const __m128i percent = _mm_set1_epi8('%');
    const __m128i ampersand = _mm_set1_epi8(amp ? '&' : '%');
    const __m128i plusSign = _mm_set1_epi8(plus ? '+' : '%');
    for (; end - p >= 16; p += 16, o += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), b);
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, percent), _mm_cmpeq_epi8(b, ampersand)),
                                         _mm_cmpeq_epi8(b, plusSign));
        if (const int mask = _mm_movemask_epi8(_mm_or_si128(hit, b))) {
            const auto n = static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask)));
            p += n;
            o += n;
            return;
        }
    }
#endif
    const unsigned char* const plain = FindSpecial(p, end, amp, plus);
    std::memcpy(o, p, static_cast<std::size_t>(plain - p));
    o += plain - p;
    p = plain;
}

// kSteps: without "&" as CR LF, by the reader's steps (UTF-8 and EUC-JP
// into either side), the usual way taking each character that stops them.
// When they stop again soon, they give way (gaveWay), and the caller goes
// on from the position returned without them: text that stops them often
// goes faster the usual way, and their loop kept apart leaves the usual one
// as the compiler lays it out alone.
template <class Side, class Reader, bool kSteps = false>
std::size_t DecodeBytes(std::string& out, std::string_view bytes, const DecodeOptions& options, bool final,
                        BytesReport* report, [[maybe_unused]] bool* gaveWay = nullptr) {
    const Side side;
    const Reader reader;
    const bool amp = options.crLfAsAmp;
    const bool plus = options.plusAsSpace;
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    // Three bytes an input byte at most: U+FFFD's UTF-8 for one invalid byte.
    detail::ChunkedOutput<char> output(out, 3 * bytes.size() + 16);
    ByteLoss input, escapes, unwritable;
    const unsigned char* p = begin;
    [[maybe_unused]] const unsigned char* stepsFrom = begin;  // where the steps go on
    [[maybe_unused]] std::size_t stepped = 0, stops = 0;
    bool held = false;
    bool gave = false;
    while (p != end && !held && !gave) {
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(end - p, 4 * detail::kChunkUnits);
        auto* o = reinterpret_cast<unsigned char*>(output.Room(3 * static_cast<std::size_t>(chunkEnd - p) + 16));
        while (p < chunkEnd) {
            if (amp || (plus && !kSteps)) {
                DecodeMixed<true>(reader, side, p, end, chunkEnd, o, {amp, plus});
            } else if constexpr (!kSteps) {
                DecodeMixed<false>(reader, side, p, end, chunkEnd, o);
            } else {
                if (p >= stepsFrom) {
                    // Their last step may go past the chunk, as DecodeMixed's.
                    const std::size_t read = Reader::template Steps<Side>(
                        p, static_cast<std::size_t>(chunkEnd - p) + 16, static_cast<std::size_t>(end - p), plus, o);
                    p += read;
                    if (p >= chunkEnd) break;
                    // Stopped by a character they do not take: they give
                    // way when that happens more than once every so often.
                    stepped += read;
                    if (++stops >= kStepsGiveWay.stops && stepped < stops * kStepsGiveWay.bytesEach) {
                        gave = true;
                        break;
                    }
                    stepsFrom = p + 1;  // after that character
                }
                const unsigned char* const stop = p + 1;
                if (plus) {
                    DecodeMixed<true>(reader, side, p, end, stop, o, {false, true});
                } else {
                    DecodeMixed<false>(reader, side, p, end, stop, o);
                }
            }
            if (p >= chunkEnd) break;  // its last step may go past the chunk
            CopyPlain(p, chunkEnd, amp, plus, o);
            if (p == chunkEnd) break;
            const unsigned c = *p;
            if (c >= 0x80) {
                const unsigned length = side.Literal(p, end, final, o, input, static_cast<std::size_t>(p - begin));
                if (length == 0) {
                    held = true;
                    break;
                }
                p += length;
                continue;
            }
            if (c == '&') {
                *o++ = '\r';
                *o++ = '\n';
                ++p;
                continue;
            }
            if (c == '+') {
                *o++ = ' ';
                ++p;
                continue;
            }
            // A "%": an escape starts a run, anything else stays.
            const std::size_t left = static_cast<std::size_t>(end - p);
            if (left < 3) {
                if (!final && (left == 1 || IsHexDigit(p[1]))) {  // it may become an escape
                    held = true;
                    break;
                }
                *o++ = *p++;
                continue;
            }
            if (HexByte(p[1], p[2]) > 0xFF) {
                *o++ = *p++;
                continue;
            }
            // The run of escapes a character at a time: its bytes, as many
            // as decide it.
            for (;;) {
                DecodeCommon(reader, side, p, end, chunkEnd, o);
                if (p >= chunkEnd) break;
                unsigned char run[4];
                unsigned n = 0;
                const unsigned char* q = p;
                unsigned b;
                while (n < 4 && end - q >= 3 && q[0] == '%' && (b = HexByte(q[1], q[2])) <= 0xFF) {
                    run[n++] = static_cast<unsigned char>(b);
                    q += 3;
                }
                if (n == 0) break;
                const Utf8Step step = reader.Read(run, run + n);
                // A run that reaches the end may go on in more text.
                if (step.cut && !final &&
                    (q == end || (end - q < 3 && q[0] == '%' && (end - q == 1 || IsHexDigit(q[1]))))) {
                    held = true;
                    break;
                }
                const auto at = static_cast<std::size_t>(p - begin);
                if (!step.valid) detail::AddLoss(escapes, 1, at);
                if (side.Put(step.c, o)) detail::AddLoss(unwritable, 1, at);
                p += 3 * step.length;
                if (p >= chunkEnd) break;
            }
            if (held) break;
        }
        output.Commit(reinterpret_cast<char*>(o));
    }
    output.Finish();
    if (report != nullptr) detail::AddLosses(*report, {input, escapes, unwritable});
    if constexpr (kSteps) *gaveWay = gave;
    return static_cast<std::size_t>(p - begin);
}

// DecodeBytes by the reader's steps where they can go, and without them from
// where they gave way.
template <class Side, class Reader>
std::size_t DecodeBytesBySteps(std::string& out, std::string_view bytes, const DecodeOptions& options, bool final,
                               BytesReport* report) {
    bool gaveWay = false;
    const std::size_t used = DecodeBytes<Side, Reader, true>(out, bytes, options, final, report, &gaveWay);
    if (!gaveWay) return used;
    // The rest the usual way, its losses at offsets in the whole.
    BytesReport rest;
    const std::size_t more =
        DecodeBytes<Side, Reader>(out, bytes.substr(used), options, final, report != nullptr ? &rest : nullptr);
    if (report != nullptr) detail::AddLosses(*report, rest, used);
    return used + more;
}

template <class Side>
std::size_t DecodeBytesTo(std::string& out, std::string_view bytes, const DecodeOptions& options, bool final,
                          BytesReport* report) {
    const bool utf8 = options.charset == Charset::kUtf8;
    const bool plus = options.plusAsSpace;
    if (bytes.size() >= kStepsLeast && !options.crLfAsAmp) {
        if (utf8) {
            if (Utf8Bytes::CanSteps<Side>(plus)) {
                return DecodeBytesBySteps<Side, Utf8Bytes>(out, bytes, options, final, report);
            }
        } else if (EucJpBytes::CanSteps<Side>(plus)) {
            return DecodeBytesBySteps<Side, EucJpBytes>(out, bytes, options, final, report);
        }
    }
    return utf8 ? DecodeBytes<Side, Utf8Bytes>(out, bytes, options, final, report)
                : DecodeBytes<Side, EucJpBytes>(out, bytes, options, final, report);
}

// The length of the character whose bytes start at b (end the run's end),
// or 0 for bytes that form none: in UTF-8, and in EUC-JP.
unsigned Utf8Length(const unsigned char* b, const unsigned char* end) {
    // The common case first: a whole three-byte sequence.
    if (end - b > 2 && ThreeByteUtf8(b) != 0) return 3;
    const Utf8Step step = ReadUtf8(b, end);
    return step.valid ? step.length : 0;
}

// The JIS X 0208 pairs, looked up once rather than for each character.
const std::uint16_t* const kEucJpPairs = eucjp::Jis0208Pairs();

unsigned EucJpLength(const unsigned char* b, const unsigned char* end) {
    const unsigned lead = b[0];
    // The common cases first: a JIS X 0208 pair, a half-width katakana.
    if (end - b > 1 && lead - 0xA1 < 94 && b[1] - 0xA1u < 94 && kEucJpPairs[(lead - 0xA1) * 94 + (b[1] - 0xA1)] != 0) {
        return 2;
    }
    if (lead == 0x8E && end - b > 1 && b[1] - 0xA1u <= 0xDF - 0xA1) return 2;
    const eucjp::Step step = eucjp::ReadCharacter(b, end);
    return step.c == 0 ? 0 : step.length;
}

// Whether the first bytes of the first run form characters by length (one
// of the two above). Bytes of another encoding seldom get far, so they are
// tried before the rest of the runs is gathered and anything is written.
bool FirstBytesRead(const detail::Runs& runs, unsigned (*length)(const unsigned char*, const unsigned char*)) {
    const unsigned char* const bytes = runs.bytes.data();
    const std::size_t firstEnd = runs.count == 0 ? 0 : runs.ends[0];
    for (std::size_t i = 0; i < std::min<std::size_t>(firstEnd, 8);) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const unsigned n = length(bytes + i, bytes + firstEnd);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace

std::size_t DecodeUrlBytesAppend(std::string& out, std::string_view bytes, TextBytes side,
                                 const DecodeOptions& options, bool final, BytesReport* report) {
    return side == TextBytes::kCp932 ? DecodeBytesTo<Cp932Side>(out, bytes, options, final, report)
                                     : DecodeBytesTo<Utf8Side>(out, bytes, options, final, report);
}

namespace detail {

template <class Char>
std::size_t CountCp932Within(std::basic_string_view<Char> text, bool final, Invalid& invalid, std::uint64_t limit) {
    if (limit == ~std::uint64_t{0}) return CountCp932<Char>(text, final, invalid);
    return CountCp932<Char, true>(text, final, invalid, limit);
}

// "&" is a unit of its own either way, never part of an escape's unit.
std::size_t CountCp932Invalid(std::u16string_view text, bool, bool final, Invalid& invalid) {
    return CountCp932Within(text, final, invalid, ~std::uint64_t{0});
}

std::size_t CountCp932Invalid(std::string_view ascii, bool, bool final, Invalid& invalid) {
    return CountCp932Invalid(ascii, final, invalid, ~std::uint64_t{0});
}

std::size_t CountCp932Invalid(std::u16string_view text, bool final, Invalid& invalid, std::uint64_t limit) {
    return CountCp932Within(text, final, invalid, limit);
}

std::size_t CountCp932Invalid(std::string_view ascii, bool final, Invalid& invalid, std::uint64_t limit) {
    return CountCp932Within(std::basic_string_view<unsigned char>(reinterpret_cast<const unsigned char*>(ascii.data()),
                                                                  ascii.size()),
                            final, invalid, limit);
}

template <class Char>
bool HasHighEscapeIn(std::basic_string_view<Char> text) {
    for (std::size_t i = text.find(Char{'%'}); i != text.npos; i = text.find(Char{'%'}, i + 1)) {
        if (i + 2 < text.size() && HexByte(text[i + 1], text[i + 2]) >= 0x80 &&
            HexByte(text[i + 1], text[i + 2]) <= 0xFF) {
            return true;
        }
    }
    return false;
}

bool HasHighEscape(std::u16string_view text) { return HasHighEscapeIn(text); }
bool HasHighEscape(std::string_view ascii) { return HasHighEscapeIn(ascii); }

std::size_t FindLineFeed(std::u16string_view text) {
    const std::size_t at = FindUnit(text.data(), 0, text.size(), u'\n');
    return at == text.size() ? std::u16string_view::npos : at;
}

enum class Gather { kFromStart, kOnward };

// Gathers the runs of text, from its start or on from where the last call
// stopped, up to most runs in all.
template <class Char>
void GatherRunsIn(std::basic_string_view<Char> text, Runs& runs, Gather gather, std::size_t most) {
    std::size_t count = 0;
    std::size_t used = 0;
    std::size_t i = 0;
    if (gather == Gather::kOnward) {
        if (runs.resume == Runs::kAll || runs.count >= most) return;
        count = runs.count;
        used = runs.ByteOf(count);
        i = runs.resume;
    } else if (runs.bytes.size() < text.size() / 3) {
        // The most there can be: a byte for three units.
        runs.bytes.resize(text.size() / 3);
    }
    unsigned char* const bytes = runs.bytes.data();
    // The runs' places grow with the runs found rather than for the most
    // there could be (a run for four units): a long line of text in pieces
    // would otherwise take five times its size for every piece.
    std::size_t capacity = runs.ends.size();
    std::size_t* ends = runs.ends.data();
    std::size_t* starts = runs.starts.data();
    std::uint16_t* partners = runs.partners.data();
    const auto grow = [&] {
        capacity = std::max<std::size_t>(64, 2 * capacity);
        runs.ends.resize(capacity);
        runs.starts.resize(capacity);
        runs.partners.resize(capacity);
        ends = runs.ends.data();
        starts = runs.starts.data();
        partners = runs.partners.data();
    };
    using Unit = std::conditional_t<std::is_same_v<Char, char>, unsigned char, Char>;
    const auto* const t = reinterpret_cast<const Unit*>(text.data());
    const std::size_t n = text.size();
    const HexPairs& hex = HexPairs::Get();
    runs.resume = Runs::kAll;
    for (;;) {
        i = FindPercent(t, i, n);
        if (n - i < 3) break;
        unsigned b = hex.At(t + i + 1);
        if (b > 0xFF) {
            ++i;
            continue;
        }
        const std::size_t start = used;
        unsigned high = 0;
        do {
            bytes[used++] = static_cast<unsigned char>(b);
            high |= b;
            i += 3;
        } while (n - i >= 3 && t[i] == u'%' && (b = hex.At(t + i + 1)) <= 0xFF);
        if (high < 0x80) {  // ASCII reads alike in both
            used = start;
            continue;
        }
        if (count == capacity) grow();
        ends[count] = used;
        starts[count] = i - 3 * (used - start);
        std::uint16_t partner = Runs::kNoPartner;
        if ((used - start) % 2 != 0) partner = i < n && t[i] < 0x80 ? t[i] : Runs::kOtherPartner;
        partners[count++] = partner;
        if (count == most) {
            runs.resume = i;
            break;
        }
    }
    runs.count = count;
}

constexpr std::size_t kEveryRun = ~std::size_t{0};
void GatherRuns(std::u16string_view text, Runs& runs) { GatherRunsIn(text, runs, Gather::kFromStart, kEveryRun); }
void GatherRuns(std::string_view ascii, Runs& runs) { GatherRunsIn(ascii, runs, Gather::kFromStart, kEveryRun); }
void GatherFirstRun(std::u16string_view text, Runs& runs) { GatherRunsIn(text, runs, Gather::kFromStart, 1); }
void GatherFirstRun(std::string_view ascii, Runs& runs) { GatherRunsIn(ascii, runs, Gather::kFromStart, 1); }
void GatherRestOfRuns(std::u16string_view text, Runs& runs) { GatherRunsIn(text, runs, Gather::kOnward, kEveryRun); }
void GatherRestOfRuns(std::string_view ascii, Runs& runs) { GatherRunsIn(ascii, runs, Gather::kOnward, kEveryRun); }
void GatherMoreRuns(std::u16string_view text, Runs& runs, std::size_t most) {
    GatherRunsIn(text, runs, Gather::kOnward, most);
}
void GatherMoreRuns(std::string_view ascii, Runs& runs, std::size_t most) {
    GatherRunsIn(ascii, runs, Gather::kOnward, most);
}

bool FirstRunMayRead(const Runs& runs, Charset charset) {
    return FirstBytesRead(runs, charset == Charset::kUtf8 ? Utf8Length : EucJpLength);
}

bool CountCp932RunsInvalid(const Runs& runs, std::uint64_t& invalid, std::uint64_t limit, std::size_t first) {
    // The decoder pairs a run's escapes from its start, the last of an odd
    // count with the unit after the run; a pair of ASCII bytes reads back.
    const PieceTable& pieces = PieceTable::Get();
    const unsigned char* const bytes = runs.bytes.data();
    invalid = 0;
    std::size_t start = 0;
    for (std::size_t r = 0; r < std::min(first, runs.count); ++r) {
        const std::size_t end = runs.ends[r];
        const std::uint16_t partner = runs.partners[r];
        if (partner == Runs::kOtherPartner) return false;
        if (invalid > limit) break;  // checked a run at a time: past the limit, any count will do
        std::size_t k = start;
        for (; k + 1 < end; k += 2) invalid += pieces.Of(bytes[k], bytes[k + 1]) & 3;
        if (k < end) invalid += pieces.Of(bytes[k], partner) & 3;
        start = end;
    }
    return true;
}

// The counts below go through the bytes of all runs in one loop, each run
// still read on its own: a sequence never reaches past the end of its run.
// Short runs are the rule, and a call for each would cost more than it
// counts.

std::uint64_t CountUtf8RunsInvalid(const Runs& runs, std::uint64_t limit, std::size_t from) {
    const unsigned char* const bytes = runs.bytes.data();
    std::uint64_t invalid = 0;
    std::size_t i = runs.ByteOf(from);
    for (std::size_t r = from; r < runs.count; ++r) {
        const std::size_t end = runs.ends[r];
        while (i < end) {
            const unsigned lead = bytes[i];
            if (lead < 0x80) {
                ++i;
                continue;
            }
            // The common case first: a whole three-byte sequence.
            if (end - i > 2 && ThreeByteUtf8(bytes + i) != 0) {
                i += 3;
                continue;
            }
            const Utf8Step step = ReadUtf8(bytes + i, bytes + end);
            i += step.length;
            if (!step.valid && ++invalid > limit) return invalid;
        }
    }
    return invalid;
}

std::uint64_t CountEucJpRunsInvalid(const Runs& runs, std::uint64_t limit, std::size_t from) {
    const unsigned char* const bytes = runs.bytes.data();
    const std::uint16_t* const pairs = eucjp::Jis0208Pairs();
    std::uint64_t invalid = 0;
    std::size_t i = runs.ByteOf(from);
    for (std::size_t r = from; r < runs.count; ++r) {
        const std::size_t end = runs.ends[r];
        while (i < end) {
            const unsigned lead = bytes[i];
            if (lead < 0x80) {
                ++i;
                continue;
            }
            // The common cases first: a JIS X 0208 pair, a half-width katakana.
            if (end - i > 1 && lead - 0xA1 < 94 && bytes[i + 1] - 0xA1u < 94 &&
                pairs[(lead - 0xA1) * 94 + (bytes[i + 1] - 0xA1)] != 0) {
                i += 2;
                continue;
            }
            if (lead == 0x8E && end - i > 1 && bytes[i + 1] - 0xA1u <= 0xDF - 0xA1) {
                i += 2;
                continue;
            }
            if (lead != 0x8E && lead != 0x8F) {
                // No character: a byte that starts none, or a row byte
                // without a pair (the next byte taken too from 0x80 up).
                const bool taken = lead - 0xA1 < 94 && end - i > 1 && bytes[i + 1] >= 0x80;
                i += 1 + unsigned{taken};
                if (++invalid > limit) return invalid;
                continue;
            }
            const eucjp::Step step = eucjp::ReadCharacter(bytes + i, bytes + end);
            i += step.length;
            if (step.c == 0 && ++invalid > limit) return invalid;
        }
    }
    return invalid;
}

// Lower bounds of the counts above, a table look-up a byte and no branch:
// what text in another encoding is full of costs a mispredicted branch a
// byte in the counts. Each invalid sequence lies within its run, so the
// bound of some whole runs bounds their count.
//
// UTF-8: a continuation byte (0x80-0xBF) is invalid on its own unless a
// lead takes it, and a lead takes at most its length less one; 0xC0, 0xC1
// and 0xF5 up are always invalid on their own.
// EUC-JP: a byte 0x80-0xA0 (but 0x8E and 0x8F) is in no character, and it
// ends whatever invalid sequence it is in (it is never a lead's second
// byte), so each is in an invalid sequence of its own.
constexpr std::array<std::int8_t, 256> kUtf8InvalidWeights = [] {
    std::array<std::int8_t, 256> w{};
    for (unsigned b = 0x80; b < 0x100; ++b) {
        w[b] = b < 0xC2 || b > 0xF4 ? 1 : b < 0xE0 ? -1 : b < 0xF0 ? -2 : -3;
    }
    return w;
}();
constexpr std::array<std::int8_t, 256> kEucJpInvalidWeights = [] {
    std::array<std::int8_t, 256> w{};
    for (unsigned b = 0x80; b <= 0xA0; ++b) w[b] = b != 0x8E && b != 0x8F;
    return w;
}();

std::uint64_t RunsInvalidAtLeast(const Runs& runs, std::size_t from, const std::array<std::int8_t, 256>& weights) {
    std::int64_t sum = 0;
    for (std::size_t i = runs.ByteOf(from); i < runs.ByteOf(runs.count); ++i) sum += weights[runs.bytes[i]];
    return sum > 0 ? static_cast<std::uint64_t>(sum) : 0;
}

std::uint64_t Utf8RunsInvalidAtLeast(const Runs& runs, std::size_t from) {
    return RunsInvalidAtLeast(runs, from, kUtf8InvalidWeights);
}

std::uint64_t EucJpRunsInvalidAtLeast(const Runs& runs, std::size_t from) {
    return RunsInvalidAtLeast(runs, from, kEucJpInvalidWeights);
}

std::size_t DecodeInCharset(std::u16string& out, std::u16string_view text, Charset charset,
                            const DecodeOptions& options, bool final, Invalid* invalid) {
    switch (charset) {
        case Charset::kShiftJis: {
            const bool amp = options.crLfAsAmp;
            if (invalid == nullptr) {
                return options.plusAsSpace ? DecodePlusAsSpaceAppend(out, text, amp, final)
                                           : DecodeAppend(out, text, amp, final);
            }
            ByteLoss loss;  // counted as the text is decoded
            const std::size_t used = options.plusAsSpace ? DecodePlusAsSpaceAppend(out, text, amp, final, &loss)
                                                         : DecodeAppend(out, text, amp, final, loss);
            invalid->Add(loss.count, loss.first);
            return used;
        }
        case Charset::kUtf8:
            return DecodeRuns<Utf8Run>(out, text, options, final, invalid);
        case Charset::kEucJp:
            return DecodeRuns<EucJpRun>(out, text, options, final, invalid);
    }
    return 0;
}

}  // namespace detail

}  // namespace tessaly
