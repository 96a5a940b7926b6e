// EncodeUrl: the text's bytes in the chosen encoding, each byte the escape
// set keeps as itself, every other one as "%XX". One pass from UTF-16 units
// to the escaped text for code page 932 and UTF-8; EUC-JP goes through its
// bytes a chunk at a time.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/chunked_output.h"
#include "codec/cp932.h"
#include "codec/eucjp.h"
#include "codec/exact_bytes.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/url_internal.h"

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

char* PutBytes(std::uint32_t form, char* out) {
    std::memcpy(out, &form, 4);  // the top byte is scratch
    return out + (form >> 24);
}

char16_t* Put(const Form& form, char16_t* out) {
    std::memcpy(out, &form, sizeof form);
    return out + form.length;
}

constexpr std::size_t kScratchUnits = 8;

// Whether code page 932 loses the unit: it does not come back from its
// bytes and is not one of the intended look-alikes. One bit per unit, built
// on first use.
class Cp932LossTable {
public:
    static const Cp932LossTable& Get() {
        static const Cp932LossTable table;
        return table;
    }
    bool Lost(char16_t unit) const { return bits_[unit >> 6] >> (unit & 63) & 1; }

private:
    Cp932LossTable() {
        for (unsigned u = 0; u < 0x10000; ++u) {
            const auto unit = static_cast<char16_t>(u);
            if (!cp932::RoundTrips(unit) && !IsIntendedLookAlike(unit)) bits_[u >> 6] |= std::uint64_t{1} << (u & 63);
        }
    }
    std::array<std::uint64_t, 0x10000 / 64> bits_{};
};

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
    static constexpr std::size_t kMostPerUnit = 6;

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
    static constexpr std::size_t kMostPerUnit = 9;

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

// Encodes text unit by unit. With crLfAsAmp, CR LF gives "&"; a CR without
// an LF after it is escaped like any other byte.
template <class Units, bool kReport>
std::size_t EncodeUnits(std::u16string& out, std::u16string_view text, const EncodeOptions& options, bool final,
                        Lost& lost) {
    const std::array<Form, 256>& forms = kSetForms[static_cast<unsigned>(options.escape)];
    const bool amp = options.crLfAsAmp;
    detail::ChunkedOutput<char16_t> output(out, Units::kMostPerUnit * text.size() + kScratchUnits);
    const char16_t* const begin = text.data();
    const char16_t* p = begin;
    const char16_t* const end = p + text.size();
    bool held = false;
    while (p != end && !held) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        char16_t* o = output.Room(Units::kMostPerUnit * static_cast<std::size_t>(chunkEnd - p) + kScratchUnits);
        while (p < chunkEnd) {
            if (amp && *p == u'\r') {
                if (p + 1 == end && !final) {  // an LF may follow
                    held = true;
                    break;
                }
                if (p + 1 != end && p[1] == u'\n') {
                    *o++ = u'&';
                    p += 2;
                    continue;
                }
            }
            const char16_t* const next = Units::template Put<kReport>(forms, p, end, final, o, lost, begin);
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

// EUC-JP: each chunk's bytes first, then their forms.
std::size_t EncodeEucJp(std::u16string& out, std::u16string_view text, const EncodeOptions& options, bool final,
                        Lost& lost) {
    const std::array<Form, 256>& forms = kSetForms[static_cast<unsigned>(options.escape)];
    const bool amp = options.crLfAsAmp;
    detail::ChunkedOutput<char16_t> output(out, 6 * text.size() + kScratchUnits);
    const char16_t* const begin = text.data();
    const char16_t* p = begin;
    const char16_t* const end = p + text.size();
    std::string bytes;
    while (p != end) {
        const char16_t* chunkEnd = p + std::min<std::size_t>(end - p, detail::kChunkUnits);
        if (amp && chunkEnd != end && chunkEnd[-1] == u'\r') ++chunkEnd;  // CR LF in one chunk
        bool waitForLf = false;
        if (amp && chunkEnd == end && !final && chunkEnd[-1] == u'\r') {
            --chunkEnd;
            waitForLf = true;
        }
        bytes.clear();
        const eucjp::Write w = eucjp::AppendBytes(bytes, std::u16string_view(p, static_cast<std::size_t>(chunkEnd - p)),
                                                  final && chunkEnd == end);
        if (w.lost != 0) {
            if (lost.count == 0) lost.first = static_cast<std::size_t>(p - begin) + w.firstLost;
            lost.count += w.lost;
        }
        char16_t* o = output.Room(3 * bytes.size() + kScratchUnits);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* const bEnd = b + bytes.size();
        while (b != bEnd) {
            if (amp && *b == '\r' && b + 1 != bEnd && b[1] == '\n') {
                *o++ = u'&';
                b += 2;
                continue;
            }
            o = Put(forms[*b++], o);
        }
        output.Commit(o);
        p += w.consumed;
        // A high surrogate that ends a chunk goes into the next one; one
        // that ends the text waits for more.
        if (waitForLf || (chunkEnd == end && p != chunkEnd)) break;
    }
    output.Finish();
    return static_cast<std::size_t>(p - begin);
}

}  // namespace

std::size_t EncodeUrlAppend(std::u16string& out, std::u16string_view text, const EncodeOptions& options, bool final,
                            EncodeReport* report) {
    Lost lost;
    std::size_t used;
    if (options.charset == Charset::kShiftJis && options.escape == EscapeSet::kPrintable) {
        used = EncodeAppend(out, text, options.crLfAsAmp, final);
        if (report != nullptr) FindCp932Loss(text.substr(0, used), lost);
    } else if (options.charset == Charset::kShiftJis) {
        lost.table = &Cp932LossTable::Get();
        used = report != nullptr ? EncodeUnits<Cp932Units, true>(out, text, options, final, lost)
                                 : EncodeUnits<Cp932Units, false>(out, text, options, final, lost);
    } else if (options.charset == Charset::kUtf8) {
        used = EncodeUnits<Utf8Units, true>(out, text, options, final, lost);
    } else {
        used = EncodeEucJp(out, text, options, final, lost);
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
    const unsigned char* p = begin;
    while (p < stop) {
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(stop - p, detail::kChunkUnits);
        const std::size_t used = out.size();
        out.resize(used + 9 * static_cast<std::size_t>(chunkEnd - p) + 16);
        char* o = out.data() + used;
        while (p < chunkEnd) {
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
        out.resize(static_cast<std::size_t>(o - out.data()));
    }
    return static_cast<std::size_t>(p - begin);
}

std::u16string EncodeUrl(std::u16string_view text, const EncodeOptions& options, EncodeReport* report) {
    std::u16string out;
    EncodeUrlAppend(out, text, options, true, report);
    return out;
}

}  // namespace tessaly
