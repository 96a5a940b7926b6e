// Percent-encoding in any of the three encodings Japanese URLs come in
// (code page 932, UTF-8, EUC-JP), with the web's escape sets, "+" as a space
// and, for decoding, the encoding decided line by line.
//
// With every option at its default (code page 932, the printable set, no
// "+", no detection) these give exactly what Encode and Decode in
// codec/percent.h give.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "codec/fidelity.h"

namespace tessaly {

enum class Charset : std::uint8_t { kShiftJis, kUtf8, kEucJp };
inline constexpr std::size_t kCharsetCount = 3;

// The Encoding Standard's labels of the three encodings, compared without
// regard to ASCII case, with surrounding ASCII white space ignored; nothing
// for any other label. "cp932" is taken for code page 932 as well.
std::optional<Charset> CharsetFromLabel(std::string_view label);
// "Shift_JIS", "UTF-8", "EUC-JP".
std::string_view CharsetName(Charset charset);

enum class EscapeSet : std::uint8_t {
    kPrintable,  // printable ASCII 0x20-0x7E kept
    kComponent,  // ASCII letters, digits and -_.!~*'() kept
    kForm,       // ASCII letters, digits and *-._ kept, a space written as "+"
};

struct EncodeOptions {
    Charset charset = Charset::kShiftJis;
    EscapeSet escape = EscapeSet::kPrintable;
    bool crLfAsAmp = false;  // CR LF written as "&"
};

struct DecodeOptions {
    Charset charset = Charset::kShiftJis;  // with detect, the one that wins ties
    bool detect = false;                   // decide each line's encoding
    bool plusAsSpace = false;              // a literal "+" reads as a space
    bool crLfAsAmp = false;                // "&" reads as CR LF
};

struct EncodeReport {
    static constexpr std::size_t npos = std::u16string_view::npos;
    // Characters the encoding cannot hold: "?" or a look-alike in code page
    // 932 (not the four intended look-alikes), "&#N;" in EUC-JP, U+FFFD's
    // bytes for a lone surrogate in UTF-8. Added to, not reset.
    std::uint64_t lost = 0;
    std::size_t firstLost = npos;  // index in the text of the first one's first unit
};

struct DecodeReport {
    static constexpr std::size_t npos = std::u16string_view::npos;
    // Decoded bytes that do not form characters in the encoding that read
    // them (written as U+30FB in code page 932, U+FFFD in the others). Added
    // to, not reset.
    std::uint64_t invalid = 0;
    std::size_t firstInvalid = npos;  // index in the text of the escape that holds the first
    // With detect: the lines read in each encoding (indexed by Charset),
    // counting only lines whose escapes hold bytes of 0x80 and up.
    std::array<std::uint64_t, kCharsetCount> linesIn{};
};

std::u16string EncodeUrl(std::u16string_view text, const EncodeOptions& options,
                         EncodeReport* report = nullptr);
std::u16string DecodeUrl(std::u16string_view text, const DecodeOptions& options,
                         DecodeReport* report = nullptr);

// The same a piece at a time, appending to out. With final false, what the
// rules cannot decide yet is left unconverted (with detect, a line waiting
// for its end, up to a cap); the units converted are returned and the caller
// puts the rest in front of the next piece. Pieces give what the whole gives.
std::size_t EncodeUrlAppend(std::u16string& out, std::u16string_view text, const EncodeOptions& options,
                            bool final, EncodeReport* report = nullptr);
std::size_t DecodeUrlAppend(std::u16string& out, std::u16string_view text, const DecodeOptions& options,
                            bool final, DecodeReport* report = nullptr);

// Encode from code page 932 bytes to the bytes of the encoded text, for the
// code page 932 and UTF-8 encodings (not EUC-JP): appends exactly what
// CodePageBridge::ToBytes(EncodeUrl(CodePageBridge::ToText(bytes), options))
// gives, and with loss counts what FindByteLoss counts in bytes (offsets
// within bytes; added to, not reset). With final false, a lead byte that
// ends bytes and, with options.crLfAsAmp, a CR that ends them are left
// unconverted. Returns the bytes converted.
std::size_t EncodeUrlFromBytesAppend(std::string& out, std::string_view bytes, const EncodeOptions& options,
                                     bool final, ByteLoss* loss = nullptr);

// The bytes the text is read from and written in by the byte routes below.
enum class TextBytes : std::uint8_t { kCp932, kUtf8 };

// What the byte routes replace, each with the offset in the input of the
// first one. Added to, not reset.
struct BytesReport {
    // Input bytes that are not text: code page 932 bytes that do not read
    // back (counted in bytes, as FindByteLoss counts them); invalid UTF-8
    // sequences (one each) when decoding or encoding into UTF-8 (encoding
    // into the others, their U+FFFD counts in unwritable).
    ByteLoss input;
    // Decoding: escaped bytes that do not form characters, at their escape.
    ByteLoss escapes;
    // Characters the output cannot hold, counted as EncodeReport counts
    // them; decoding into code page 932 bytes, decoded characters it cannot
    // write other than U+FFFD, at the escape of their first byte (with
    // detection, at the start of their line, which decides them).
    ByteLoss unwritable;
    // With detection, the lines read in each encoding, as DecodeReport
    // counts them.
    std::array<std::uint64_t, kCharsetCount> linesIn{};
};

// EncodeUrlAppend from the bytes of the text to the bytes of the encoded
// text (ASCII), without the text in between: appends exactly what reading
// bytes as side, EncodeUrlAppend and writing its result as bytes give. With
// final false, what that leaves unconverted (a character cut by the end of
// bytes, with options.crLfAsAmp a CR that ends them) is left. Returns the
// bytes converted. From UTF-8 bytes, options.charset is UTF-8 or EUC-JP.
std::size_t EncodeUrlBytesAppend(std::string& out, std::string_view bytes, TextBytes side,
                                 const EncodeOptions& options, bool final, BytesReport* report = nullptr);

// DecodeUrlAppend in the same way, for UTF-8 and EUC-JP escapes
// (options.charset not code page 932, options.detect off): the bytes of the
// decoded text in side's encoding.
std::size_t DecodeUrlBytesAppend(std::string& out, std::string_view bytes, TextBytes side,
                                 const DecodeOptions& options, bool final, BytesReport* report = nullptr);

// DecodeUrlAppend with options.detect on ASCII bytes (every byte below
// 0x80, which both sides read as themselves) in the same way; a line
// waiting for its LF is left unconverted, up to the cap.
std::size_t DecodeUrlDetectingAsciiAppend(std::string& out, std::string_view ascii, TextBytes side,
                                          const DecodeOptions& options, bool final, BytesReport* report = nullptr);

// After a decode in one encoding (options.detect off): the lines on which
// that encoding leaves bytes that do not form characters while another of
// the three reads them all cleanly, and the encoding that does so for most
// of them. lines is 0 when there are none.
struct MojibakeLines {
    std::uint64_t lines = 0;
    Charset readBy = Charset::kShiftJis;
};
MojibakeLines FindMojibakeLines(std::u16string_view text, const DecodeOptions& options);

namespace detail {
// For tests: how many ways EncodeUrlAppend and EncodeUrlBytesAppend have on
// this processor to write UTF-8 and EUC-JP escapes many at a time (the
// fastest first, by the instructions each needs), and which they take from
// now on (0, the fastest, unless told).
int EncodeUrlWays();
void UseEncodeUrlWay(int way);
}  // namespace detail

}  // namespace tessaly
