// EncodeUrl: the text's bytes in the chosen encoding, each byte the escape
// set keeps as itself, every other one as "%XX". One pass from UTF-16 units
// to the escaped text; for UTF-8 and EUC-JP, the common units through a
// table of their escapes.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/escape_avx512.h"
#include "codec/eucjp.h"
#include "codec/pair_bits.h"
#include "codec/exact_bytes.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/url_internal.h"
#include "codec/utf8.h"

namespace tessaly {
namespace {

// The encoded form of one byte, written with one 8-byte store; the unit
// after the form is scratch that the next form overwrites.
struct Form {
    char16_t units[3];
    char16_t length;
};
static_assert(sizeof(Form) == 8);

constexpr bool IsAlphanumeric(unsigned b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

constexpr bool IsOneOf(unsigned b, const char* chars) {
    for (; *chars != 0; ++chars) {
        if (b == static_cast<unsigned char>(*chars)) return true;
    }
    return false;
}

// Whether the set writes byte b as itself.
constexpr bool Keeps(EscapeSet set, unsigned b) {
    switch (set) {
        case EscapeSet::kPrintable:
            return b >= 0x20 && b <= 0x7E;
        case EscapeSet::kComponent:
            return IsAlphanumeric(b) || IsOneOf(b, "-_.!~*'()");
        case EscapeSet::kForm:
            return IsAlphanumeric(b) || IsOneOf(b, "*-._");
    }
    return false;
}

constexpr std::array<Form, 256> MakeForms(EscapeSet set, bool keepAny) {
    constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
    std::array<Form, 256> forms{};
    for (unsigned b = 0; b < 256; ++b) {
        if (keepAny && set == EscapeSet::kForm && b == ' ') {
            forms[b] = {{u'+', 0, 0}, 1};
        } else if (keepAny && Keeps(set, b)) {
            forms[b] = {{static_cast<char16_t>(b), 0, 0}, 1};
        } else {
            forms[b] = {{u'%', kHexDigits[b >> 4], kHexDigits[b & 0xF]}, 3};
        }
    }
    return forms;
}

constexpr std::array<std::array<Form, 256>, 3> kSetForms = {
    MakeForms(EscapeSet::kPrintable, true), MakeForms(EscapeSet::kComponent, true),
    MakeForms(EscapeSet::kForm, true)};
// "%XX" for every byte (the bytes from 0x80 up, which no set keeps).
constexpr std::array<Form, 256> kEscapes = MakeForms(EscapeSet::kPrintable, false);

// The same forms as bytes, packed with their length in the top byte; the
// last table escapes every byte.
constexpr std::array<std::uint32_t, 256> PackForms(const std::array<Form, 256>& forms) {
    std::array<std::uint32_t, 256> packed{};
    for (unsigned b = 0; b < 256; ++b) {
        const Form& f = forms[b];
        packed[b] = static_cast<std::uint32_t>(f.units[0]) | static_cast<std::uint32_t>(f.units[1]) << 8 |
                    static_cast<std::uint32_t>(f.units[2]) << 16 | std::uint32_t{f.length} << 24;
    }
    return packed;
}
constexpr std::array<std::array<std::uint32_t, 256>, 4> kByteForms = {
    PackForms(kSetForms[0]), PackForms(kSetForms[1]), PackForms(kSetForms[2]), PackForms(kEscapes)};

// The blocks that write each set's forms (worked out once, not for each
// piece of a stream).
const detail::SetBlocks& SetBlocksOf(EscapeSet set) {
    static const detail::SetBlocks blocks[3] = {detail::SetBlocks(kByteForms[0]), detail::SetBlocks(kByteForms[1]),
                                                detail::SetBlocks(kByteForms[2])};
    return blocks[static_cast<unsigned>(set)];
}

char* PutBytes(std::uint32_t form, char* out) {
    std::memcpy(out, &form, 4);  // the top byte is scratch
    return out + (form >> 24);
}

char16_t* Put(const Form& form, char16_t* out) {
    std::memcpy(out, &form, sizeof form);
    return out + form.length;
}

constexpr std::size_t kScratchUnits = 8;

// What "&" for CR LF makes of the unit or byte at p: a CR LF is written as
// one "&" (kAmp); a CR that ends text that more may follow waits for the
// next piece (kWait); anything else is a character like any other.
enum class CrLf { kOther, kAmp, kWait };
template <class Unit>
inline CrLf CrLfAt(const Unit* p, const Unit* end, bool final) {
    if (*p != '\r') return CrLf::kOther;
    if (p + 1 == end) return final ? CrLf::kOther : CrLf::kWait;
    return p[1] == '\n' ? CrLf::kAmp : CrLf::kOther;
}

using detail::Cp932LossTable;

// Where a loss was, as EncodeReport counts them.
struct Lost {
    std::uint64_t count = 0;
    std::size_t first = EncodeReport::npos;
    const Cp932LossTable* table = nullptr;  // for code page 932
    void Add(std::size_t at) {
        if (count++ == 0) first = at;
    }
};

// FindTextLoss's count on the table: a surrogate pair is one loss.
void FindCp932Loss(std::u16string_view text, Lost& lost) {
    const Cp932LossTable& table = Cp932LossTable::Get();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (cp932::IsHighSurrogate(unit) && i + 1 < text.size() && cp932::IsLowSurrogate(text[i + 1])) {
            lost.Add(i++);
        } else if (table.Lost(unit)) {
            lost.Add(i);
        }
    }
}

// The encoders of one unit (and the units after it that belong to it) for
// code page 932 and UTF-8, with the set's forms. Each returns the input
// position after what it took, or nullptr when it must wait for more text.
struct Cp932Units {
    template <bool kReport>
    static const char16_t* Put(const std::array<Form, 256>& forms, const char16_t* p, const char16_t* end,
                               bool final, char16_t*& o, Lost& lost, const char16_t* begin) {
        const char16_t* const start = p;
        const char16_t unit = *p++;
        const std::uint16_t bytes = cp932::UnitToBytes(unit);
        if (cp932::IsHighSurrogate(unit)) {
            if (p == end && !final) return nullptr;  // its low half may follow
            // A surrogate pair is one character and gives one '?'.
            if (p != end && cp932::IsLowSurrogate(*p)) ++p;
        }
        if constexpr (kReport) {
            if (lost.table->Lost(unit)) lost.Add(static_cast<std::size_t>(start - begin));
        }
        if (cp932::IsDoubleByte(bytes)) o = ::tessaly::Put(forms[bytes >> 8], o);
        o = ::tessaly::Put(forms[bytes & 0xFF], o);
        return p;
    }
};

struct Utf8Units {
    template <bool kReport>
    static const char16_t* Put(const std::array<Form, 256>& forms, const char16_t* p, const char16_t* end,
                               bool final, char16_t*& o, Lost& lost, const char16_t* begin) {
        char32_t c = *p++;
        if (c < 0x80) {
            o = ::tessaly::Put(forms[c], o);
            return p;
        }
        if (c < 0x800) {
            o = ::tessaly::Put(kEscapes[0xC0 | c >> 6], o);
            o = ::tessaly::Put(kEscapes[0x80 | (c & 0x3F)], o);
            return p;
        }
        if ((c & 0xF800) == 0xD800) {
            if (c < 0xDC00 && p == end && !final) return nullptr;  // its low half may follow
            if (c < 0xDC00 && p != end && cp932::IsLowSurrogate(*p)) {
                c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00u);
                o = ::tessaly::Put(kEscapes[0xF0 | c >> 18], o);
                o = ::tessaly::Put(kEscapes[0x80 | (c >> 12 & 0x3F)], o);
                o = ::tessaly::Put(kEscapes[0x80 | (c >> 6 & 0x3F)], o);
                o = ::tessaly::Put(kEscapes[0x80 | (c & 0x3F)], o);
                return p;
            }
            lost.Add(static_cast<std::size_t>(p - 1 - begin));  // a lone surrogate: U+FFFD
            c = 0xFFFD;
        }
        o = ::tessaly::Put(kEscapes[0xE0 | c >> 12], o);
        o = ::tessaly::Put(kEscapes[0x80 | (c >> 6 & 0x3F)], o);
        o = ::tessaly::Put(kEscapes[0x80 | (c & 0x3F)], o);
        return p;
    }
};

// ---------------------------------------------------------------------------
// From the bytes of the text to the bytes of the encoded text

// One character of the text's bytes from 0x80 up, read as the text route
// reads it.
struct SourceChar {
    char32_t c;       // U+FFFD for invalid UTF-8
    unsigned length;  // bytes
    bool exact;       // the bytes are text that writes them back
    bool cut;         // the end cut it: more bytes may complete it
};

struct Cp932Source {
    static constexpr bool kCp932 = true;
    const cp932::ExactTable& exact = cp932::ExactTable::Get();
    SourceChar Read(const unsigned char* p, const unsigned char* end) const {
        char16_t c;
        const unsigned length = static_cast<unsigned>(cp932::ConvertCharacter(p, end, &c) - p);
        const bool lead = cp932::IsLeadByte(p[0]);
        return {c, length, length == 2 ? exact.Pair(p[0], p[1]) : exact.Single(p[0]), lead && p + 1 == end};
    }
};

struct Utf8Source {
    static constexpr bool kCp932 = false;
    static SourceChar Read(const unsigned char* p, const unsigned char* end) {
        const Utf8Step step = ReadUtf8(p, end);
        return {step.c, step.length, step.valid, step.cut};
    }
};

// Up to three bytes of a character, the first in the low byte, and their
// count in the top byte.
constexpr std::uint32_t Pack(std::uint32_t bytes, unsigned count) { return (bytes & 0xFFFFFF) | count << 24; }

inline char* PutPacked(const std::array<std::uint32_t, 256>& forms, std::uint32_t packed, char* o) {
    const unsigned count = packed >> 24;
    o = PutBytes(forms[packed & 0xFF], o);
    if (count > 1) o = PutBytes(forms[packed >> 8 & 0xFF], o);
    if (count > 2) o = PutBytes(forms[packed >> 16 & 0xFF], o);
    return o;
}

// Writers of one character's encoded bytes through the set's forms; Put
// returns whether the encoding cannot hold the character.
struct Utf8Target {
    static constexpr bool kUtf8 = true;
    static std::uint32_t Bytes(char32_t c) {
        if (c >= 0x10000) return 0;
        char bytes[4] = {};
        const auto n = static_cast<unsigned>(PutUtf8(bytes, c) - bytes);
        std::uint32_t packed;
        std::memcpy(&packed, bytes, 4);
        return Pack(packed, n);
    }
    static bool Put(const std::array<std::uint32_t, 256>& forms, const SourceChar& ch, char*& o) {
        char bytes[4];
        const char* const bytesEnd = PutUtf8(bytes, ch.c);
        for (const char* b = bytes; b != bytesEnd; ++b) o = PutBytes(forms[static_cast<unsigned char>(*b)], o);
        return false;
    }
};

struct EucJpTarget {
    static constexpr bool kUtf8 = false;
    const std::uint16_t* const unitBytes = eucjp::UnitBytes();
    // The bytes of c packed as Packed() packs them, 0 when EUC-JP cannot
    // hold it.
    std::uint32_t Bytes(char32_t c) const {
        if (c < 0x80) return Pack(static_cast<std::uint32_t>(c), 1);
        if (c >= 0x10000) return 0;
        const std::uint16_t bytes = unitBytes[c];
        if (bytes == 0) return 0;
        return bytes >= 0x100 ? Pack(static_cast<std::uint32_t>(bytes >> 8 | (bytes & 0xFF) << 8), 2)
                              : Pack(bytes, 1);
    }
    bool Put(const std::array<std::uint32_t, 256>& forms, const SourceChar& ch, char*& o) const {
        if (const std::uint32_t bytes = Bytes(ch.c)) {
            o = PutPacked(forms, bytes, o);
            return false;
        }
        // "&#N;", N the code point in decimal.
        char digits[8];
        int count = 0;
        for (char32_t c = ch.c; count == 0 || c != 0; c /= 10) digits[count++] = static_cast<char>('0' + c % 10);
        o = PutBytes(forms['&'], o);
        o = PutBytes(forms['#'], o);
        while (count > 0) o = PutBytes(forms[static_cast<unsigned char>(digits[--count])], o);
        o = PutBytes(forms[';'], o);
        return true;
    }
};

// What a character of the tables below writes: the escapes of its bytes in
// the target (or an ASCII byte as the set writes it), put down with one
// 16-byte store; length 0 for a character the tables leave to the slow
// route. Code page 932 characters are in them when they write back their
// own bytes; in any case, only when the target writes them as bytes from
// 0x80 up (escaped in every set) or as ASCII.
struct alignas(16) Escaped {
    char text[15];
    std::uint8_t length;
};
static_assert(sizeof(Escaped) == 16);

// The escapes of bytes packed as Pack packs them, when every one is from
// 0x80 up (escaped in every set); else empty.
inline Escaped EscapeHighBytes(std::uint32_t packed) {
    Escaped e{};
    const unsigned count = packed >> 24;
    for (unsigned k = 0; k < count; ++k) {
        const unsigned b = packed >> (8 * k) & 0xFF;
        if (b < 0x80) return Escaped{};
        char* const o = e.text + 3 * k;
        PutBytes(kByteForms[3][b], o);
    }
    e.length = static_cast<std::uint8_t>(3 * count);
    return e;
}

// Every byte below 0x80 through the set's forms, for the tables' ASCII
// (with crLfAsAmp, a CR is left to the slow route).
inline std::array<Escaped, 0x80> AsciiEscapes(const std::array<std::uint32_t, 256>& forms, bool crLfAsAmp) {
    std::array<Escaped, 0x80> ascii{};
    for (unsigned b = 0; b < 0x80; ++b) {
        PutBytes(forms[b], ascii[b].text);
        ascii[b].length = static_cast<std::uint8_t>(forms[b] >> 24);
    }
    if (crLfAsAmp) ascii['\r'] = Escaped{};
    return ascii;
}

// Which table of single bytes a set and crLfAsAmp take.
constexpr unsigned kSingleTables = 3 * 2;
constexpr unsigned SingleTable(EscapeSet set, bool crLfAsAmp) { return 2 * static_cast<unsigned>(set) + crLfAsAmp; }

// Lead bytes (0x81-0x9F, 0xE0-0xFC) without their top bit are 0x01-0x1F
// and 0x60-0x7C: the rows of the single bytes sit between them.
constexpr unsigned kFirstSingleRow = 0x20;
static_assert(kFirstSingleRow + kSingleTables <= 0x60);

template <class Target>
class Cp932Direct {
public:
    static const Cp932Direct& Get() {
        static const Cp932Direct table;
        return table;
    }
    // A row of 256 entries for each lead byte without its top bit, the
    // pairs it starts indexed by their trail byte; and from row
    // kFirstSingleRow, one for each SingleTable, every byte that is not a
    // lead byte on its own (ASCII as the set writes it; with crLfAsAmp, a
    // CR left to the slow route).
    const Escaped* Entries() const { return entries_.get(); }
    // The same rows with the target's bytes of each entry, the first in the
    // low byte, the bytes after the last 0: none of them is 0, so 0 is an
    // empty entry (and NUL is left to the slow route). For the blocks that
    // escape the bytes themselves; null where the processor has none.
    const std::uint32_t* Bytes() const { return bytes_.get(); }

private:
    Cp932Direct()
        : entries_(static_cast<Escaped*>(std::calloc(kRows * 256, sizeof(Escaped)))),
          bytes_(detail::CanEscapeAvx512()
                     ? static_cast<std::uint32_t*>(std::calloc(kRows * 256, sizeof(std::uint32_t)))
                     : nullptr) {
        if (entries_ == nullptr || (bytes_ == nullptr && detail::CanEscapeAvx512())) throw std::bad_alloc();
        const cp932::ExactTable& exact = cp932::ExactTable::Get();
        const Target target;
        std::array<Escaped, 256> singles{};
        std::array<std::uint32_t, 256> singleBytes{};
        for (unsigned lead = 0x80; lead < 0x100; ++lead) {
            if (!cp932::IsLeadByte(static_cast<std::uint8_t>(lead))) {
                const char16_t c = cp932::SingleByteToText(static_cast<std::uint8_t>(lead));
                if (exact.Single(lead)) {
                    const std::uint32_t bytes = target.Bytes(c);
                    singles[lead] = EscapeHighBytes(bytes);
                    if (singles[lead].length != 0) singleBytes[lead] = bytes & 0xFFFFFF;
                }
                continue;
            }
            Escaped* const row = entries_.get() + (lead & 0x7F) * 256;
            std::uint32_t* const bytesRow = bytes_ ? bytes_.get() + (lead & 0x7F) * 256 : nullptr;
            for (unsigned trail = cp932::kFirstTrail; trail < cp932::kFirstTrail + cp932::kTrailCount; ++trail) {
                const char16_t c = cp932::PairToText(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail));
                if (c != 0 && exact.Pair(lead, trail)) {
                    const std::uint32_t bytes = target.Bytes(c);
                    row[trail] = EscapeHighBytes(bytes);
                    if (bytesRow != nullptr && row[trail].length != 0) bytesRow[trail] = bytes & 0xFFFFFF;
                }
            }
        }
        for (const EscapeSet set : {EscapeSet::kPrintable, EscapeSet::kComponent, EscapeSet::kForm}) {
            for (const bool amp : {false, true}) {
                const std::array<Escaped, 0x80> ascii = AsciiEscapes(kByteForms[static_cast<unsigned>(set)], amp);
                std::copy(ascii.begin(), ascii.end(), singles.begin());
                const unsigned row = (kFirstSingleRow + SingleTable(set, amp)) * 256;
                std::copy(singles.begin(), singles.end(), entries_.get() + row);
                // ASCII is its own byte in the target; the set decides as the
                // bytes are escaped.
                for (unsigned b = 0; b < 0x80; ++b) singleBytes[b] = ascii[b].length != 0 ? b : 0;
                if (bytes_) std::copy(singleBytes.begin(), singleBytes.end(), bytes_.get() + row);
            }
        }
    }
    static constexpr unsigned kRows = 0x80;
    // calloc's memory comes zeroed from the system without being written,
    // so the rows no byte reaches (between the single rows and the second
    // run of lead bytes) are never touched: half the table's pages.
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<Escaped, Free> entries_;
    std::unique_ptr<std::uint32_t, Free> bytes_;
};

// For each byte, where the escapes of the characters that start with it
// are: a lead byte's row of pairs, indexed by the byte after it, or (mask 0)
// the byte's own entry of the singles.
class LeadRows {
public:
    LeadRows(const Escaped* entries, unsigned singleTable) {
        for (unsigned b = 0; b < 256; ++b) {
            rows_[b] = cp932::IsLeadByte(static_cast<std::uint8_t>(b))
                           ? Row{entries + (b & 0x7F) * 256, 0xFF}
                           : Row{entries + (kFirstSingleRow + singleTable) * 256 + b, 0};
        }
    }
    // The character at p (two bytes readable there).
    const Escaped* At(const unsigned char* p) const {
        const Row& row = rows_[p[0]];
        return row.first + (p[1] & row.mask);
    }
    bool IsLead(unsigned b) const { return rows_[b].mask != 0; }

private:
    struct Row {
        const Escaped* first;
        std::size_t mask;
    };
    std::array<Row, 256> rows_;
};

// ---------------------------------------------------------------------------
// The text route into UTF-8 and EUC-JP escapes, and code page 932 with an
// escape set: the common units through a table of their escapes, the others
// one at a time.

// The entry of unit c (from 0x80 up, no surrogate) in the table below: the
// escapes of the target's bytes when it writes them all from 0x80 up, else
// empty (units it cannot hold or writes as ASCII).
template <class Target>
Escaped UnitEntry(const Target& target, char32_t c, const std::array<std::uint32_t, 256>&) {
    return EscapeHighBytes(target.Bytes(c));
}

// Code page 932 with an escape set (not the printable one, which Encode
// takes): the forms of the bytes of every unit that code page 932 writes
// back, its trail bytes below 0x80 kept or escaped as the set says; empty for
// the units it loses.
struct Cp932Target {
    static constexpr bool kUtf8 = false;
};
Escaped UnitEntry(const Cp932Target&, char32_t c, const std::array<std::uint32_t, 256>& forms) {
    Escaped e{};
    if (Cp932LossTable::Get().Lost(static_cast<char16_t>(c))) return e;
    const std::uint16_t bytes = cp932::UnitToBytes(static_cast<char16_t>(c));
    char* o = e.text;
    if (cp932::IsDoubleByte(bytes)) o = PutBytes(forms[bytes >> 8], o);
    o = PutBytes(forms[bytes & 0xFF], o);
    e.length = static_cast<std::uint8_t>(o - e.text);
    return e;
}

// The escapes of every UTF-16 unit from 0x80 up in the target, with the set's
// forms (UTF-8 and EUC-JP write no byte below 0x80 there, so one table serves
// every set); empty for surrogates and the units UnitEntry leaves out.
template <class Target, EscapeSet kSet = EscapeSet::kPrintable>
class UnitEscapes {
public:
    static const Escaped* Get() {
        static const UnitEscapes table;
        return table.units_.get();
    }

private:
    UnitEscapes() : units_(new Escaped[0x10000]()) {
        const Target target;
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            if ((c & 0xF800) != 0xD800) units_[c] = UnitEntry(target, c, kByteForms[static_cast<unsigned>(kSet)]);
        }
    }
    std::unique_ptr<Escaped[]> units_;
};

template <class Target>
const Escaped* TableOf(EscapeSet set) {
    if constexpr (std::is_same_v<Target, Cp932Target>) {
        switch (set) {
            case EscapeSet::kPrintable: return UnitEscapes<Cp932Target, EscapeSet::kPrintable>::Get();
            case EscapeSet::kComponent: return UnitEscapes<Cp932Target, EscapeSet::kComponent>::Get();
            case EscapeSet::kForm: break;
        }
        return UnitEscapes<Cp932Target, EscapeSet::kForm>::Get();
    } else {
        return UnitEscapes<Target>::Get();
    }
}

// The entries of the units below 0x80 with the set's forms (with
// crLfAsAmp, a CR left to the slow route); in code page 932, a unit it does
// not write as its own byte, or loses, is left to the encoder of one unit.
template <class Target>
std::array<Escaped, 0x80> AsciiTable(const EncodeOptions& options) {
    std::array<Escaped, 0x80> ascii =
        AsciiEscapes(kByteForms[static_cast<unsigned>(options.escape)], options.crLfAsAmp);
    if constexpr (std::is_same_v<Target, Cp932Target>) {
        for (char16_t c = 0; c < 0x80; ++c) {
            if (cp932::UnitToBytes(c) != c || Cp932LossTable::Get().Lost(c)) ascii[c] = Escaped{};
        }
    }
    return ascii;
}

// Units from p up to end through the tables while they hold them, their
// escapes at o, each entry widened into units as it is stored (16 units
// whatever its length); returns where it stopped.
using TableUnitsFunction = const char16_t* (*)(const Escaped* units, const Escaped* ascii, const char16_t* p,
                                               const char16_t* end, char16_t*& o);

template <class Store>
inline const char16_t* EncodeTableUnits(const Escaped* units, const Escaped* ascii, const char16_t* p,
                                        const char16_t* end, char16_t*& out) {
    char16_t* o = out;
    for (; p != end; ++p) {
        const unsigned c = *p;
        const Escaped* const e = c < 0x80 ? ascii + c : units + c;
        const unsigned length = e->length;
        if (length == 0) break;
        Store::Widen(e->text, o);
        o += length;
    }
    out = o;
    return p;
}

struct PlainStore {
    static void Widen(const char* bytes, char16_t* o) {
        for (std::size_t k = 0; k < sizeof(Escaped); ++k) o[k] = static_cast<unsigned char>(bytes[k]);
    }
};
const char16_t* EncodeTableUnitsPlain(const Escaped* units, const Escaped* ascii, const char16_t* p,
                                      const char16_t* end, char16_t*& o) {
    return EncodeTableUnits<PlainStore>(units, ascii, p, end, o);
}

#if defined(__SSE2__)
struct Sse2Store {
    static void Widen(const char* bytes, char16_t* o) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, _mm_setzero_si128()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(v, _mm_setzero_si128()));
    }
};
const char16_t* EncodeTableUnitsSse2(const Escaped* units, const Escaped* ascii, const char16_t* p,
                                     const char16_t* end, char16_t*& o) {
    return EncodeTableUnits<Sse2Store>(units, ascii, p, end, o);
}
#endif

#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
struct Avx2Store {
    __attribute__((target("avx2"))) static void Widen(const char* bytes, char16_t* o) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_cvtepu8_epi16(v));
    }
};
__attribute__((target("avx2"), flatten)) const char16_t* EncodeTableUnitsAvx2(
    const Escaped* units, const Escaped* ascii, const char16_t* p, const char16_t* end, char16_t*& o) {
    return EncodeTableUnits<Avx2Store>(units, ascii, p, end, o);
}
#endif

// The table loop the way chosen takes (below).
TableUnitsFunction ChosenTableUnits();

// Units past what the slow route writes that the widening may write.
constexpr std::size_t kWidenScratch = sizeof(Escaped);

// One character that the table does not hold, through EUC-JP's encoder:
// its bytes, or "&#N;" for one it cannot hold. Returns the input position
// after it, or nullptr when it must wait for more text.
const char16_t* PutEucJpCharacter(const std::array<Form, 256>& forms, const char16_t* p,
                                  const char16_t* end, bool final, std::string& bytes, char16_t*& o, Lost& lost,
                                  const char16_t* begin) {
    std::size_t units = 1;
    if (cp932::IsHighSurrogate(*p) && p + 1 != end && cp932::IsLowSurrogate(p[1])) units = 2;
    bytes.clear();
    const eucjp::Write w =
        eucjp::AppendBytes(bytes, std::u16string_view(p, units), final || p + units != end);
    if (w.consumed == 0) return nullptr;
    if (w.lost != 0) lost.Add(static_cast<std::size_t>(p - begin));
    for (const char b : bytes) o = Put(forms[static_cast<unsigned char>(b)], o);
    return p + w.consumed;
}

// Encodes text into UTF-8, EUC-JP, or code page 932 with an escape set:
// runs of the units the table holds at once, the others one at a time. With
// crLfAsAmp, CR LF gives "&"; a CR without an LF after it is escaped like any
// other byte.
template <class Target>
std::size_t EncodeTextThroughTable(std::u16string& out, std::u16string_view text, const EncodeOptions& options,
                                   bool final, Lost& lost) {
    const std::array<Form, 256>& unitForms = kSetForms[static_cast<unsigned>(options.escape)];
    const std::array<Escaped, 0x80> ascii = AsciiTable<Target>(options);
    const Escaped* const units = TableOf<Target>(options.escape);
    const TableUnitsFunction tableUnits = ChosenTableUnits();
    const bool amp = options.crLfAsAmp;
    // What one unit writes at most: in UTF-8, a lone surrogate's U+FFFD; in
    // EUC-JP, a character of the table (after "&#N;", which may write more,
    // the room is asked for again).
    constexpr std::size_t kMostPerUnit = Target::kUtf8 ? 9 : 6;
    // The most "&#N;" writes ("&#1114111;", each byte escaped), and the
    // scratch of the stores.
    constexpr std::size_t kScratch = 3 * 10 + kWidenScratch + kScratchUnits;
    detail::ChunkedOutput<char16_t> output(out, kMostPerUnit * text.size() + kScratch);
    const char16_t* const begin = text.data();
    const char16_t* p = begin;
    const char16_t* const end = p + text.size();
    std::string bytes;
    bool held = false;
    while (p != end && !held) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        char16_t* o = output.Room(kMostPerUnit * static_cast<std::size_t>(chunkEnd - p) + kScratch);
        while (p < chunkEnd) {
            p = tableUnits(units, ascii.data(), p, chunkEnd, o);
            if (p == chunkEnd) break;
            if (amp) {
                const CrLf crLf = CrLfAt(p, end, final);
                if (crLf == CrLf::kWait) {
                    held = true;
                    break;
                }
                if (crLf == CrLf::kAmp) {
                    *o++ = u'&';
                    p += 2;
                    continue;
                }
            }
            const char16_t* next;
            if constexpr (std::is_same_v<Target, Cp932Target>) {
                next = Cp932Units::Put<true>(unitForms, p, end, final, o, lost, begin);
            } else if constexpr (Target::kUtf8) {
                next = Utf8Units::Put<true>(unitForms, p, end, final, o, lost, begin);
            } else {
                next = PutEucJpCharacter(unitForms, p, end, final, bytes, o, lost, begin);
                // "&#N;" may take more than the chunk's room gave its units:
                // room again for the rest.
                if (next != nullptr) {
                    output.Commit(o);
                    o = output.Room(kMostPerUnit * static_cast<std::size_t>(chunkEnd - next) + kScratch);
                }
            }
            if (next == nullptr) {
                held = true;
                break;
            }
            p = next;
        }
        output.Commit(o);
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

// The most output bytes one character gives: "&#128512;" with every byte
// escaped.
constexpr std::size_t kMostBytesPerCharacter = 27 + 16;  // and a store's scratch

// The most a block of 64 bytes writes: nine bytes for each byte and a
// 64-byte store's scratch.
constexpr std::size_t kBlockOutput = 9 * 64 + 64;

// Bytes a block may read past its start: its 64, and the 16-byte copies of
// a run that ends at its end.
constexpr std::ptrdiff_t kBlockRead = 64 + 16;

// What the blocks of code page 932 bytes take their escapes from: the
// entries of Cp932Direct and which SingleTable; with copyRuns, runs of
// printable ASCII are copied as they are.
struct BlockTables {
    const Escaped* entries;
    unsigned singleTable;
    bool copyRuns;
    // The target's bytes of the same entries (Cp932Direct::Bytes), and the
    // set that escapes them (for the blocks that take the bytes; null
    // where they cannot).
    const std::uint32_t* bytes = nullptr;
    const detail::SetBlocks* set = nullptr;
};

using BlocksFunction = const unsigned char* (*)(const BlockTables&, const unsigned char*, const unsigned char*,
                                                char*&, const char*);

// Which of 64 bytes are code page 932 lead bytes (0x81-0x9F, 0xE0-0xFC) and
// which printable ASCII (0x20-0x7E), a bit a byte.
struct BlockBits {
    std::uint64_t lead;
    std::uint64_t printable;
};

#ifdef __SSE2__
// A lead byte's row in Cp932Direct's entries: the byte without its top bit.
constexpr unsigned char kLeadRowBits = 0x7F;

inline __m128i InRange(__m128i bytes, unsigned char low, unsigned char high) {
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(low)));
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(static_cast<char>(high - low))), offset);
}

// The block's bits, and twice the index in Cp932Direct's entries of the
// character each of its bytes would start (so that it fits an address's
// scale of 8).
inline BlockBits ScanBlock(const unsigned char* p, unsigned singleTable, std::uint16_t* indices) {
    static_assert(sizeof(Escaped) == 16);
    const __m128i singleRow = _mm_set1_epi8(static_cast<char>(kFirstSingleRow + singleTable));
    const __m128i rowBits = _mm_set1_epi8(kLeadRowBits);
    BlockBits bits{0, 0};
    for (unsigned k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k + 1));
        const __m128i lead = _mm_or_si128(InRange(v, 0x81, 0x9F), InRange(v, 0xE0, 0xFC));
        bits.lead |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(lead))} << (16 * k);
        const __m128i printable = InRange(v, 0x20, 0x7E);
        bits.printable |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(printable))} << (16 * k);
        const __m128i row =
            _mm_or_si128(_mm_and_si128(lead, _mm_and_si128(v, rowBits)), _mm_andnot_si128(lead, singleRow));
        const __m128i column = _mm_or_si128(_mm_and_si128(lead, next), _mm_andnot_si128(lead, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(indices + 16 * k),
                         _mm_slli_epi16(_mm_unpacklo_epi8(column, row), 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(indices + 16 * k + 8),
                         _mm_slli_epi16(_mm_unpackhi_epi8(column, row), 1));
    }
    return bits;
}
#endif

#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) inline __m256i InRange32(__m256i bytes, unsigned char low, unsigned char high) {
    const __m256i offset = _mm256_sub_epi8(bytes, _mm256_set1_epi8(static_cast<char>(low)));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(offset, _mm256_set1_epi8(static_cast<char>(high - low))), offset);
}

// ScanBlock 32 bytes at a time.
__attribute__((target("avx2"))) inline BlockBits ScanBlockAvx2(const unsigned char* p, unsigned singleTable,
                                                               std::uint16_t* indices) {
    const __m256i singleRow = _mm256_set1_epi8(static_cast<char>(kFirstSingleRow + singleTable));
    const __m256i rowBits = _mm256_set1_epi8(kLeadRowBits);
    BlockBits bits{0, 0};
    for (unsigned k = 0; k < 2; ++k) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k + 1));
        const __m256i lead = _mm256_or_si256(InRange32(v, 0x81, 0x9F), InRange32(v, 0xE0, 0xFC));
        bits.lead |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(lead))} << (32 * k);
        bits.printable |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(InRange32(v, 0x20, 0x7E)))}
                          << (32 * k);
        const __m256i row = _mm256_blendv_epi8(singleRow, _mm256_and_si256(v, rowBits), lead);
        const __m256i column = _mm256_blendv_epi8(v, next, lead);
        // The unpacks work within each half: bytes 0-7 and 16-23, then 8-15
        // and 24-31.
        const __m256i low = _mm256_slli_epi16(_mm256_unpacklo_epi8(column, row), 1);
        const __m256i high = _mm256_slli_epi16(_mm256_unpackhi_epi8(column, row), 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(indices + 32 * k), _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(indices + 32 * k + 16),
                            _mm256_permute2x128_si256(low, high, 0x31));
    }
    return bits;
}
#endif

#ifdef __SSE2__
// Where pairs start in a block that starts a character: in a run of lead
// bytes, the first and every second one after it.
inline std::uint64_t PairStarts(std::uint64_t lead) { return detail::PairStartBits(lead); }

// The characters of a block's todo bits (a character starting at each)
// through the table; returns the bit of one it does not hold, else 64.
template <bool kRuns>
inline unsigned PutBlockCharacters(const char* entries, const std::uint16_t* indices, std::uint64_t todo,
                                   std::uint64_t printable, std::uint64_t longRuns, const unsigned char* p,
                                   char*& out) {
    char* o = out;
    while (todo != 0) {
        const auto i = static_cast<std::uint32_t>(std::countr_zero(todo));
        if (kRuns && (longRuns >> i & 1) != 0) [[unlikely]] {
            const auto run = static_cast<unsigned>(std::countr_one(printable >> i));
            for (unsigned k = 0; k < run; k += 16) std::memcpy(o + k, p + i + k, 16);
            o += run;
            todo &= ~std::uint64_t{0} << (i + run);  // i + run < 64
            continue;
        }
        const char* const e = entries + std::size_t{indices[i]} * 8;
        const auto length = static_cast<unsigned char>(e[offsetof(Escaped, length)]);
        if (length == 0) {
            out = o;
            return i;
        }
        std::memcpy(o, e, sizeof(Escaped));
        o += length;
        todo &= todo - 1;
    }
    out = o;
    return 64;
}

// The characters of code page 932 text from a character boundary p through
// the tables, 64 bytes at a time: where the characters of a block start,
// and where in the table each is, is worked out for the block at once, so no
// character waits on the one before it; with copyRuns, runs of printable
// ASCII copied as they are. Stops before a character the tables do not
// hold, near the end of the text, or when out reaches limit.
template <class Scan>
inline const unsigned char* EncodeBlocks(const BlockTables& tables, const unsigned char* p, const unsigned char* end,
                                         char*& out, const char* limit) {
    constexpr std::uint64_t kFirst63 = ~std::uint64_t{0} >> 1;
    alignas(32) std::uint16_t indices[64];
    const char* const table = reinterpret_cast<const char*>(tables.entries);
    char* o = out;
    while (end - p >= kBlockRead && o + kBlockOutput <= limit) {
        const BlockBits bits = Scan::Block(p, tables.singleTable, indices);
        const std::uint64_t starts = ~(PairStarts(bits.lead) << 1);
        // The characters that start before byte 63 (a pair there ends past
        // the block); the next block starts after the last of them.
        const std::uint64_t todo = starts & kFirst63;
        const unsigned blockEnd = (starts >> 63 & 1) != 0 ? 63 : 64;
        // Runs of at least 8 printable bytes, at their first byte (printable
        // bytes are each a character).
        const std::uint64_t printable = tables.copyRuns ? bits.printable & kFirst63 : 0;
        std::uint64_t longRuns = printable & printable >> 1;
        longRuns &= longRuns >> 2;
        longRuns &= longRuns >> 4;
        const unsigned stop = longRuns != 0
                                  ? PutBlockCharacters<true>(table, indices, todo, printable, longRuns, p, o)
                                  : PutBlockCharacters<false>(table, indices, todo, printable, longRuns, p, o);
        if (stop != 64) {
            out = o;
            return p + stop;
        }
        p += blockEnd;
    }
    out = o;
    return p;
}
#endif


#ifdef __SSE2__
struct Sse2Scan {
    static BlockBits Block(const unsigned char* p, unsigned singleTable, std::uint16_t* indices) {
        return ScanBlock(p, singleTable, indices);
    }
};
const unsigned char* EncodeBlocksSse2(const BlockTables& tables, const unsigned char* p, const unsigned char* end,
                                      char*& out, const char* limit) {
    return EncodeBlocks<Sse2Scan>(tables, p, end, out, limit);
}
#endif

#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
struct Avx2Scan {
    __attribute__((target("avx2"))) static BlockBits Block(const unsigned char* p, unsigned singleTable,
                                                           std::uint16_t* indices) {
        return ScanBlockAvx2(p, singleTable, indices);
    }
};
// Compiled for processors with AVX2 and BMI, with everything it calls.
__attribute__((target("avx2,bmi"), flatten)) const unsigned char* EncodeBlocksAvx2(
    const BlockTables& tables, const unsigned char* p, const unsigned char* end, char*& out, const char* limit) {
    return EncodeBlocks<Avx2Scan>(tables, p, end, out, limit);
}

#endif

#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start some results from an undefined vector,
// which its flow analysis takes for an uninitialised read.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Escapes the target bytes from q to qEnd at o, 63 at a time: each byte the
// set keeps as itself (a space as "+" where the set says so), every other
// one as "%XX". Writes up to 64 bytes past the escapes; reads up to 64 bytes
// from any byte before qEnd.
TESSALY_AVX512_ESCAPES inline char* EscapeBytesAvx512(const detail::SetBlocks& set, const unsigned char* q,
                                                     const unsigned char* qEnd, char* o) {
    alignas(16) static constexpr std::uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128};
    const __m512i byLow = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(set.byLow.data())));
    const __m512i bits = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(kBits)));
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    while (q < qEnd) {
        const auto n = static_cast<unsigned>(std::min<std::ptrdiff_t>(qEnd - q, 3 * detail::kEscapeStep));
        const __m512i x = _mm512_loadu_si512(q);
        // Kept: the bit of the high nibble in the low nibble's entry (none
        // for bytes from 0x80 up, which the shuffle gives as 0).
        const __m512i high = _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble);
        const std::uint64_t kept =
            _mm512_test_epi8_mask(_mm512_shuffle_epi8(byLow, x), _mm512_shuffle_epi8(bits, high));
        o = detail::EscapeKeptAvx512(x, n, kept, set.spaceAsPlus, o);
        q += n;
    }
    return o;
}

// Code page 932 bytes into the escapes of their bytes in the target, with no
// loop over characters: for each block of 64 bytes, the target bytes
// (Cp932Direct::Bytes) of the characters that start in it are gathered 16
// bytes' worth at a time (a lane for each byte, those that start no
// character left out),
// and their bytes put one after another in a buffer; the buffer is escaped
// once it holds up to 16 blocks. Stops before a character the table does
// not hold, near the end of the text, or when out nears limit.
TESSALY_AVX512_ESCAPES const unsigned char* EncodeBlocksAvx512(const BlockTables& tables, const unsigned char* p,
                                                              const unsigned char* end, char*& out,
                                                              const char* limit) {
    if (tables.bytes == nullptr || tables.set == nullptr || !tables.set->usable) return p;
    constexpr unsigned kChunkBlocks = 32;
    // A block gives at most 63 characters of 3 bytes; one 64-byte store's
    // scratch after them.
    constexpr std::size_t kMostBlockBytes = 3 * 63;
    alignas(64) unsigned char bytes[kChunkBlocks * kMostBlockBytes + 64];
    // For each 16 bytes of the block, lane i: byte i of the first vector
    // (the column), byte i of the second (the row), two zeros.
    alignas(64) static constexpr auto kIndices = [] {
        std::array<std::array<std::uint8_t, 64>, 4> order{};
        for (unsigned quarter = 0; quarter < 4; ++quarter) {
            for (unsigned i = 0; i < 16; ++i) {
                order[quarter][4 * i] = static_cast<std::uint8_t>(16 * quarter + i);
                order[quarter][4 * i + 1] = static_cast<std::uint8_t>(64 + 16 * quarter + i);
            }
        }
        return order;
    }();
    constexpr std::uint64_t kIndexBytes = 0x3333333333333333ULL;
    const __m512i singleRow = _mm512_set1_epi8(static_cast<char>(kFirstSingleRow + tables.singleTable));
    const int* const table = reinterpret_cast<const int*>(tables.bytes);
    constexpr std::uint64_t kFirst63 = ~std::uint64_t{0} >> 1;
    char* o = out;
    bool stopped = false;
    while (!stopped && end - p >= kBlockRead && limit - o >= static_cast<std::ptrdiff_t>(kBlockOutput)) {
        // As many blocks as the text leaves (the blocks step 63 or 64
        // bytes), up to kChunkBlocks.
        const auto text = static_cast<std::size_t>(end - p - kBlockRead) / 64 + 1;
        const std::size_t blocks = std::min<std::size_t>(kChunkBlocks, text);
        const auto room = static_cast<std::size_t>(limit - o);
        unsigned char* b = bytes;
        // Each byte escapes to at most 3, and a store's scratch follows: a
        // block only while the room holds the most it can add.
        for (std::size_t k = 0; k < blocks && !stopped && 3 * (b - bytes + kMostBlockBytes) + 64 <= room; ++k) {
            const __m512i v = _mm512_loadu_si512(p);
            const __m512i next = _mm512_loadu_si512(p + 1);
            const std::uint64_t lead = detail::InRange64(v, 0x81, 0x9F) | detail::InRange64(v, 0xE0, 0xFC);
            const std::uint64_t starts = ~(PairStarts(lead) << 1);
            // The characters that start before byte 63 (a pair there ends
            // past the block); the next block starts after the last of them.
            const std::uint64_t todo = starts & kFirst63;
            const unsigned blockEnd = (starts >> 63 & 1) != 0 ? 63 : 64;
            const __m512i row = _mm512_mask_blend_epi8(lead, singleRow,
                                                       _mm512_and_si512(v, _mm512_set1_epi8(kLeadRowBits)));
            const __m512i column = _mm512_mask_blend_epi8(lead, v, next);
            for (unsigned quarter = 0; quarter < 4; ++quarter) {
                const __m512i indices = _mm512_maskz_permutex2var_epi8(
                    kIndexBytes, column, _mm512_load_si512(kIndices[quarter].data()), row);
                const auto lanes = static_cast<__mmask16>(todo >> (16 * quarter));
                const __m512i entries =
                    _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, indices, table, 4);
                // A lane's bytes are those not 0 (lanes left out are 0).
                std::uint64_t taken = _mm512_test_epi8_mask(entries, entries);
                const auto empty = static_cast<unsigned>(lanes & _mm512_testn_epi32_mask(entries, entries));
                if (empty != 0) [[unlikely]] {
                    const auto lane = static_cast<unsigned>(std::countr_zero(empty));
                    taken &= (std::uint64_t{1} << (4 * lane)) - 1;
                    p += 16 * quarter + lane;
                    stopped = true;
                }
                _mm512_storeu_si512(b, _mm512_maskz_compress_epi8(taken, entries));
                b += std::popcount(taken);
                if (stopped) break;
            }
            if (!stopped) p += blockEnd;
        }
        o = EscapeBytesAvx512(*tables.set, bytes, b, o);
    }
    out = o;
    return p;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// Without vectors: no blocks, every character one at a time.
const unsigned char* EncodeNoBlocks(const BlockTables&, const unsigned char* p, const unsigned char*, char*&,
                                    const char*) {
    return p;
}

// The ways this processor can take, the fastest first (worked out once):
// to put table entries down as units, and to take code page 932 bytes in
// blocks.
struct Way {
    TableUnitsFunction tableUnits;
    BlocksFunction blocks;
};
struct Ways {
    std::array<Way, 4> ways{};
    int count = 0;

    static const Ways& Get() {
        static const Ways ways;
        return ways;
    }

private:
    Ways() {
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && detail::CanEscapeAvx512()) {
            ways[count++] = {EncodeTableUnitsAvx2, EncodeBlocksAvx512};
        }
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi")) {
            ways[count++] = {EncodeTableUnitsAvx2, EncodeBlocksAvx2};
        }
#endif
#if defined(__SSE2__)
        ways[count++] = {EncodeTableUnitsSse2, EncodeBlocksSse2};
#endif
        ways[count++] = {EncodeTableUnitsPlain, EncodeNoBlocks};
    }
};

int g_way = 0;  // which of Ways EncodeUrlAppend and EncodeUrlBytesAppend take

const Way& ChooseWay() {
    const Ways& ways = Ways::Get();
    return ways.ways[static_cast<std::size_t>(std::min(g_way, ways.count - 1))];
}

TableUnitsFunction ChosenTableUnits() { return ChooseWay().tableUnits; }

template <class Source, class Target>
std::size_t EncodeBytes(std::string& out, std::string_view bytes, const EncodeOptions& options, bool final,
                        BytesReport* report) {
    const Source source;
    const Target target;
    const std::array<std::uint32_t, 256>& forms = kByteForms[static_cast<unsigned>(options.escape)];
    const bool amp = options.crLfAsAmp;
    [[maybe_unused]] const Escaped* entries = nullptr;
    [[maybe_unused]] const unsigned singleTable = SingleTable(options.escape, amp);
    [[maybe_unused]] std::optional<LeadRows> rows;
    [[maybe_unused]] const BlocksFunction blocks = ChooseWay().blocks;
    [[maybe_unused]] BlockTables tables{};
    // UTF-8 into UTF-8: valid text writes its own bytes' forms, a block at
    // a time.
    constexpr bool kUtf8Blocks = !Source::kCp932 && Target::kUtf8;
    [[maybe_unused]] const detail::SetBlocks& setBlocks = SetBlocksOf(options.escape);
    if constexpr (Source::kCp932) {
        const Cp932Direct<Target>& direct = Cp932Direct<Target>::Get();
        entries = direct.Entries();
        rows.emplace(entries, singleTable);
        tables = {entries, singleTable, options.escape == EscapeSet::kPrintable, direct.Bytes(), &setBlocks};
    }
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    // Mostly three bytes of output per byte of input at most (an escape);
    // the room is checked a character at a time, or a block at a time with
    // a block's most to spare. Code page 932 blocks may take many blocks'
    // room at once.
    constexpr std::size_t kRoom =
        3 * detail::kChunkUnits + 2 * kMostBytesPerCharacter + (Source::kCp932 ? 16 : 1) * kBlockOutput;
    detail::ChunkedOutput<char> output(out, 3 * bytes.size() + kRoom);
    // Invalid UTF-8 is counted as input where it reaches the output as
    // U+FFFD's bytes; elsewhere the U+FFFD is a character the encoding
    // cannot hold.
    constexpr bool kInputLoss = Source::kCp932 || Target::kUtf8;
    ByteLoss input, unwritable;
    const unsigned char* p = begin;
    bool held = false;
    while (p != end && !held) {
        char* o = output.Room(kRoom);
        const char* const limit = o + kRoom - kMostBytesPerCharacter;
        [[maybe_unused]] unsigned untilBlocks = 0;
        while (p != end && o <= limit) {
            if constexpr (kUtf8Blocks) {
                if (untilBlocks == 0) {
                    // Less room than a block's worth: more room first.
                    const auto room = static_cast<std::size_t>(limit + kMostBytesPerCharacter - o);
                    if (room < detail::SetBlocks::kScratch + 3 * detail::SetBlocks::kUtf8Reach) break;
                    const auto* const chunkEnd =
                        p + std::min<std::size_t>(end - p, (room - detail::SetBlocks::kScratch) / 3);
                    auto* b = reinterpret_cast<unsigned char*>(o);
                    p = setBlocks.EncodeUtf8(p, chunkEnd, end, amp, b);
                    o = reinterpret_cast<char*>(b);
                    if (p == end || p >= chunkEnd) break;
                    // From a character the blocks do not do, 16 characters
                    // one at a time before they try again.
                    untilBlocks = 16;
                }
                --untilBlocks;
            }
            if constexpr (Source::kCp932) {
                p = blocks(tables, p, end, o, limit + kMostBytesPerCharacter);
                // Out of room for a block: more room rather than the rest
                // of this one a character at a time.
                if (end - p >= kBlockRead && o + kBlockOutput > limit + kMostBytesPerCharacter) break;
                // The common characters straight from the tables, without
                // a branch on their length; the others one at a time below.
                while (end - p >= 2 && o <= limit) {
                    const Escaped* const e = rows->At(p);
                    if (e->length == 0) break;
                    std::memcpy(o, e, sizeof *e);
                    o += e->length;
                    p += 1 + rows->IsLead(p[0]);
                }
                if (p == end || o > limit) break;
            }
            const unsigned b0 = *p;
            if (b0 < 0x80) {
                if (amp) {
                    const CrLf crLf = CrLfAt(p, end, final);
                    if (crLf == CrLf::kWait) {
                        held = true;
                        break;
                    }
                    if (crLf == CrLf::kAmp) {
                        *o++ = '&';
                        p += 2;
                        continue;
                    }
                }
                o = PutBytes(forms[b0], o);
                ++p;
                continue;
            }
            const SourceChar ch = source.Read(p, end);
            if (ch.cut && !final) {
                held = true;
                break;
            }
            const auto at = static_cast<std::size_t>(p - begin);
            if (kInputLoss && !ch.exact) detail::AddLoss(input, Source::kCp932 ? ch.length : 1, at);
            if (!Source::kCp932 && Target::kUtf8 && ch.exact) {
                // Valid UTF-8 into UTF-8: its own bytes.
                for (unsigned k = 0; k < ch.length; ++k) o = PutBytes(forms[p[k]], o);
            } else if (target.Put(forms, ch, o)) {
                detail::AddLoss(unwritable, 1, at);
            }
            p += ch.length;
        }
        output.Commit(o);
    }
    output.Finish();
    if (report != nullptr) detail::AddLosses(*report, {input, {}, unwritable});
    return static_cast<std::size_t>(p - begin);
}

// The fewest bytes of UTF-8 text encoded through the tables of escapes.
constexpr std::size_t kUtf8TableLeast = 4096;

// UTF-8 text into code page 932 or EUC-JP escapes, as the text route
// encodes its text: characters of one to three bytes that the tables hold
// straight from them; anything else (invalid UTF-8, a character past
// U+FFFF, one the encoding loses or cannot hold, a CR with crLfAsAmp) on
// its own through the text route, in code page 932's printable set a CR
// with the character after it, which that route writes with it.
// Without table, every character goes the slow way.
template <class Target>
std::size_t EncodeUtf8ThroughTable(std::string& out, std::string_view bytes, const EncodeOptions& options, bool final,
                                   BytesReport* report, bool table) {
    const std::array<Escaped, 0x80> ascii = AsciiTable<Target>(options);
    const Escaped* const units = table ? TableOf<Target>(options.escape) : nullptr;
    const std::array<std::uint32_t, 256>& forms = kByteForms[static_cast<unsigned>(options.escape)];
    const bool amp = options.crLfAsAmp;
    const bool crWithNext = amp && std::is_same_v<Target, Cp932Target> && options.escape == EscapeSet::kPrintable;
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    // A byte gives at most its escape; one character on its own up to
    // kMostBytesPerCharacter.
    constexpr std::size_t kRoom = 3 * detail::kChunkUnits + 2 * kMostBytesPerCharacter;
    detail::ChunkedOutput<char> output(out, 3 * bytes.size() + kRoom);
    ByteLoss unwritable;
    std::u16string text, encoded;
    std::string encodedBytes;
    const unsigned char* p = begin;
    bool held = false;
    while (p != end && !held) {
        char* o = output.Room(kRoom);
        const char* const limit = o + kRoom - kMostBytesPerCharacter;
        while (p != end && o <= limit) {
            // The table's characters, without waiting on each one's length.
            while (units != nullptr && end - p >= 3 && o <= limit) {
                const unsigned b0 = p[0], b1 = p[1], b2 = p[2];
                const Escaped* e;
                unsigned n;
                if (b0 < 0x80) {
                    e = &ascii[b0];
                    n = 1;
                } else if (b0 >= 0xC2 && b0 < 0xE0 && (b1 & 0xC0) == 0x80) {
                    e = units + ((b0 & 0x1F) << 6 | (b1 & 0x3F));
                    n = 2;
                } else if ((b0 & 0xF0) == 0xE0 && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
                    // Surrogates' entries are empty; an overlong form goes
                    // the slow way.
                    e = units + ((b0 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F));
                    n = b0 == 0xE0 && b1 < 0xA0 ? 0 : 3;
                } else {
                    break;
                }
                if (n == 0 || e->length == 0) break;
                std::memcpy(o, e, sizeof *e);
                o += e->length;
                p += n;
            }
            if (p == end || o > limit) break;
            const unsigned char* const from = p;
            if (amp && *p == '\r' && !crWithNext) {
                if (p + 1 == end && !final) {
                    held = true;
                    break;
                }
                if (p + 1 != end && p[1] == '\n') {
                    *o++ = '&';
                    p += 2;
                } else {
                    o = PutBytes(forms['\r'], o);
                    ++p;
                }
                continue;
            }
            // One character (with crWithNext, a CR and the one after it) of
            // text, through the text route.
            text.clear();
            std::size_t firstUnits = 0;
            const unsigned char* second = nullptr;
            for (unsigned k = 0; k < 2; ++k) {
                if (p == end) {
                    if (!final) held = true;  // an LF may follow the CR
                    break;
                }
                const Utf8Step step = ReadUtf8(p, end);
                if (step.cut && !final) {
                    held = true;
                    break;
                }
                const char32_t c = step.valid ? step.c : U'\uFFFD';
                if (c >= 0x10000) {
                    text += static_cast<char16_t>(0xD7C0 + (c >> 10));
                    text += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
                } else {
                    text += static_cast<char16_t>(c);
                }
                if (k == 0) {
                    firstUnits = text.size();
                } else {
                    second = p;
                }
                p += step.length;
                if (k != 0 || !crWithNext || c != '\r') break;
            }
            if (held) {
                p = from;
                break;
            }
            encoded.clear();
            EncodeReport lost;
            EncodeUrlAppend(encoded, text, options, true, &lost);
            encodedBytes.clear();
            AppendUtf16AsUtf8(encodedBytes, encoded);
            std::memcpy(o, encodedBytes.data(), encodedBytes.size());
            o += encodedBytes.size();
            if (lost.lost != 0) {
                const unsigned char* const at = lost.firstLost < firstUnits ? from : second;
                detail::AddLoss(unwritable, lost.lost, static_cast<std::size_t>(at - begin));
            }
        }
        output.Commit(o);
    }
    output.Finish();
    if (report != nullptr) detail::AddLosses(*report, {{}, {}, unwritable});
    return static_cast<std::size_t>(p - begin);
}

template <class Source>
std::size_t EncodeBytesFrom(std::string& out, std::string_view bytes, const EncodeOptions& options, bool final,
                            BytesReport* report) {
    return options.charset == Charset::kUtf8 ? EncodeBytes<Source, Utf8Target>(out, bytes, options, final, report)
                                             : EncodeBytes<Source, EucJpTarget>(out, bytes, options, final, report);
}

}  // namespace

std::size_t EncodeUrlBytesAppend(std::string& out, std::string_view bytes, TextBytes side, const EncodeOptions& options,
                                 bool final, BytesReport* report) {
    if (side == TextBytes::kUtf8) {
        // A table of escapes takes longer to build than a short text takes
        // to encode one character at a time.
        const bool table = bytes.size() >= kUtf8TableLeast;
        switch (options.charset) {
            case Charset::kShiftJis:
                return EncodeUtf8ThroughTable<Cp932Target>(out, bytes, options, final, report, table);
            case Charset::kEucJp:
                return table ? EncodeUtf8ThroughTable<EucJpTarget>(out, bytes, options, final, report, true)
                             : EncodeBytes<Utf8Source, EucJpTarget>(out, bytes, options, final, report);
            case Charset::kUtf8: break;
        }
        return EncodeBytes<Utf8Source, Utf8Target>(out, bytes, options, final, report);
    }
    if (options.charset == Charset::kShiftJis) {
        return EncodeUrlFromBytesAppend(out, bytes, options, final, report != nullptr ? &report->input : nullptr);
    }
    return EncodeBytesFrom<Cp932Source>(out, bytes, options, final, report);
}

std::size_t EncodeUrlAppend(std::u16string& out, std::u16string_view text, const EncodeOptions& options, bool final,
                            EncodeReport* report) {
    Lost lost;
    std::size_t used;
    if (options.charset == Charset::kShiftJis && options.escape == EscapeSet::kPrintable) {
        used = EncodeAppend(out, text, options.crLfAsAmp, final);
        if (report != nullptr) FindCp932Loss(text.substr(0, used), lost);
    } else if (options.charset == Charset::kShiftJis) {
        lost.table = &Cp932LossTable::Get();
        used = EncodeTextThroughTable<Cp932Target>(out, text, options, final, lost);
    } else if (options.charset == Charset::kUtf8) {
        used = EncodeTextThroughTable<Utf8Target>(out, text, options, final, lost);
    } else {
        used = EncodeTextThroughTable<EucJpTarget>(out, text, options, final, lost);
    }
    if (report != nullptr && lost.count != 0) {
        if (report->lost == 0) report->firstLost = lost.first;
        report->lost += lost.count;
    }
    return used;
}

std::size_t EncodeUrlFromBytesAppend(std::string& out, std::string_view bytes, const EncodeOptions& options,
                                     bool final, ByteLoss* loss) {
    if (options.charset == Charset::kShiftJis && options.escape == EscapeSet::kPrintable) {
        return EncodeBytesAppend(out, bytes, options.crLfAsAmp, final, loss);
    }
    const cp932::ExactTable& exact = cp932::ExactTable::Get();
    const auto set = static_cast<unsigned>(options.escape);
    const std::array<std::uint32_t, 256>& byteForms = kByteForms[set];
    const std::array<std::uint32_t, 256>& escapes = kByteForms[3];
    const bool utf8 = options.charset == Charset::kUtf8;
    const bool amp = options.crLfAsAmp;
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    // A lead byte that ends unfinished bytes waits for its trail byte, a CR
    // for its LF.
    const auto* stop = end;
    if (!final && stop != begin && cp932::IsLeadByte(stop[-1])) --stop;
    if (!final && amp && stop != begin && stop == end && stop[-1] == '\r') --stop;
    // In code page 932, runs of characters that write back their own bytes
    // go through the blocks of the printable route with the set's forms.
    const detail::SetBlocks& blocks = SetBlocksOf(options.escape);
    // A byte gives at most 9 bytes in UTF-8 (U+FFFD for a stray byte) and 6
    // in code page 932 (two escapes).
    const std::size_t most = utf8 ? 9 : 6;
    constexpr std::size_t kScratch = 16 + detail::SetBlocks::kScratch;
    detail::ChunkedOutput<char> output(out, most * bytes.size() + kScratch);
    const unsigned char* p = begin;
    while (p < stop) {
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(stop - p, detail::kChunkUnits);
        char* o = output.Room(most * static_cast<std::size_t>(chunkEnd - p) + kScratch);
        for (unsigned k = 0; p < chunkEnd; ++k) {
            if (!utf8 && k % 16 == 0) {
                auto* b = reinterpret_cast<unsigned char*>(o);
                p = blocks.Encode(p, chunkEnd, stop, amp, b);
                o = reinterpret_cast<char*>(b);
                if (p >= chunkEnd) break;
            }
            const unsigned b0 = *p;
            if (b0 < 0x80) {
                if (amp && b0 == '\r' && p + 1 < end && p[1] == '\n') {
                    *o++ = '&';
                    p += 2;
                    continue;
                }
                o = PutBytes(byteForms[b0], o);
                ++p;
                continue;
            }
            // In code page 932, a character that writes back its own bytes
            // takes the forms of those bytes.
            const unsigned b1 = p + 1 < end ? p[1] : 0;
            if (!utf8 && cp932::IsLeadByte(static_cast<std::uint8_t>(b0)) && p + 1 < end &&
                cp932::PairToText(static_cast<std::uint8_t>(b0), static_cast<std::uint8_t>(b1)) != 0 &&
                exact.Pair(b0, b1)) {
                o = PutBytes(byteForms[b0], o);
                o = PutBytes(byteForms[b1], o);
                p += 2;
                continue;
            }
            const unsigned char* const from = p;
            char16_t c;
            p = cp932::ConvertCharacter(p, end, &c);
            const bool same = p - from == 2 ? exact.Pair(from[0], from[1]) : exact.Single(from[0]);
            if (!same && loss != nullptr) {
                if (loss->count == 0) loss->first = static_cast<std::size_t>(from - begin);
                loss->count += static_cast<std::size_t>(p - from);
            }
            if (!utf8) {
                const std::uint16_t b = cp932::UnitToBytes(c);
                if (cp932::IsDoubleByte(b)) o = PutBytes(byteForms[b >> 8], o);
                o = PutBytes(byteForms[b & 0xFF], o);
            } else if (c < 0x80) {
                o = PutBytes(byteForms[c], o);
            } else if (c < 0x800) {
                o = PutBytes(escapes[0xC0 | c >> 6], o);
                o = PutBytes(escapes[0x80 | (c & 0x3F)], o);
            } else {  // code page 932 gives no surrogates
                o = PutBytes(escapes[0xE0 | c >> 12], o);
                o = PutBytes(escapes[0x80 | (c >> 6 & 0x3F)], o);
                o = PutBytes(escapes[0x80 | (c & 0x3F)], o);
            }
        }
        output.Commit(o);
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

namespace detail {

int EncodeUrlWays() { return Ways::Get().count; }

void UseEncodeUrlWay(int way) { g_way = way; }

}  // namespace detail

std::u16string EncodeUrl(std::u16string_view text, const EncodeOptions& options, EncodeReport* report) {
    std::u16string out;
    EncodeUrlAppend(out, text, options, true, report);
    return out;
}

}  // namespace tessaly
