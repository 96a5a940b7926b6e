// Pieces shared by the URL conversions in url_*.cpp: the decoding of text in
// one encoding, and the count of code page 932 bytes that do not read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/fidelity.h"
#include "codec/url.h"

namespace tessaly::detail {

using ::tessaly::Cp932LossTable;

// Adds n losses at offset at to loss (the first keeps its offset).
inline void AddLoss(ByteLoss& loss, std::uint64_t n, std::size_t at) {
    if (loss.count == 0) loss.first = at;
    loss.count += n;
}

// Adds the losses of a piece to a report; offset: where the piece starts in
// what the report counts.
inline void AddLosses(BytesReport& report, const BytesReport& piece, std::size_t offset = 0) {
    for (const auto& [to, from] : {std::pair{&report.input, &piece.input}, std::pair{&report.escapes, &piece.escapes},
                                   std::pair{&report.unwritable, &piece.unwritable}}) {
        if (from->count != 0) AddLoss(*to, from->count, offset + from->first);
    }
}

// Decoded bytes that do not form characters, as DecodeReport counts them,
// with the index of the escape that holds the first.
struct Invalid {
    static constexpr std::size_t npos = std::u16string_view::npos;
    std::uint64_t count = 0;
    std::size_t first = npos;

    void Add(std::uint64_t n, std::size_t at) {
        if (n == 0) return;
        if (count == 0) first = at;
        count += n;
    }
    // Adds other, whose indices are offset from this one's by base.
    void Add(const Invalid& other, std::size_t base) {
        if (other.count != 0) Add(other.count, base + other.first);
    }
};

// Decodes text in one encoding (options.detect is ignored) as
// DecodeUrlAppend does; returns the units converted.
std::size_t DecodeInCharset(std::u16string& out, std::u16string_view text, Charset charset,
                            const DecodeOptions& options, bool final, Invalid* invalid);

// The code page 932 decoder's walk through text (the units of the escape
// pairing rule, as Decode takes them), counting the decoded bytes that do
// not read back as the same bytes (a lead byte without its trail byte reads
// as U+30FB; some pairs read as a character written with other bytes).
// Returns the units the decoder converts (with final false, it leaves the
// same undecided tail).
std::size_t CountCp932Invalid(std::u16string_view text, bool crLfAsAmp, bool final, Invalid& invalid);
std::size_t CountCp932Invalid(std::string_view ascii, bool crLfAsAmp, bool final, Invalid& invalid);
// The same, stopping (and returning text.size()) once the count passes
// limit.
std::size_t CountCp932Invalid(std::u16string_view text, bool final, Invalid& invalid, std::uint64_t limit);
std::size_t CountCp932Invalid(std::string_view ascii, bool final, Invalid& invalid, std::uint64_t limit);

// Whether text holds an escape of a byte 0x80 and up ("%8".."%F" and a
// hexadecimal digit, either case).
bool HasHighEscape(std::u16string_view text);
bool HasHighEscape(std::string_view ascii);

// The index of the first LF in text, or npos.
std::size_t FindLineFeed(std::u16string_view text);

// The runs of escapes of a text that hold a byte from 0x80 up: their bytes
// one after another, and where each run ends among them; count runs (the
// vectors may be longer). Kept from call to call for its buffers.
struct Runs {
    std::size_t count = 0;
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> ends;
    // Where each run starts in the text (its first "%").
    std::vector<std::size_t> starts;
    // The unit after each run, which code page 932's decoder pairs with a
    // run's last escape when the run has an odd count: kNoPartner for an
    // even count, the unit itself when it is below 0x80, else kOtherPartner
    // (a character, or the end of the text).
    std::vector<std::uint16_t> partners;
    static constexpr std::uint16_t kNoPartner = 0x100;
    static constexpr std::uint16_t kOtherPartner = 0x101;
    // Where in the text GatherFirstRun stopped, or kAll once every run is
    // in.
    std::size_t resume = kAll;
    static constexpr std::size_t kAll = ~std::size_t{0};

    // Where the bytes of run r start among bytes (r up to count: the end of
    // them all).
    std::size_t ByteOf(std::size_t r) const { return r == 0 ? 0 : ends[r - 1]; }
};

// Gathers the runs of text into runs. The text between runs reads the same
// in UTF-8 and EUC-JP, so only the runs tell them apart.
void GatherRuns(std::u16string_view text, Runs& runs);
void GatherRuns(std::string_view ascii, Runs& runs);
// The same up to the end of the first run (count is 0 only when the text has
// none), and the rest of the runs of the same text after it (nothing when
// they are all in).
void GatherFirstRun(std::u16string_view text, Runs& runs);
void GatherFirstRun(std::string_view ascii, Runs& runs);
void GatherRestOfRuns(std::u16string_view text, Runs& runs);
void GatherRestOfRuns(std::string_view ascii, Runs& runs);
// The same on from where the last call stopped, up to most runs in all.
void GatherMoreRuns(std::u16string_view text, Runs& runs, std::size_t most);
void GatherMoreRuns(std::string_view ascii, Runs& runs, std::size_t most);

// Whether the first bytes of the first run read in charset (UTF-8 or
// EUC-JP); when they do not, decoding the runs in it fails.
bool FirstRunMayRead(const Runs& runs, Charset charset);

// The invalid bytes code page 932's decoder counts in a line that ends
// with its LF, from the runs GatherRuns gathered (runs of ASCII bytes alone
// count none); false when a run's partner is kOtherPartner, which needs the
// count over the text. The count may stop once it passes limit. With first,
// only the first runs are counted.
bool CountCp932RunsInvalid(const Runs& runs, std::uint64_t& invalid, std::uint64_t limit,
                           std::size_t first = ~std::size_t{0});

// The invalid bytes DecodeInCharset (final) counts in UTF-8, from the runs
// GatherRuns gathered (from run from on); the count stops once it passes
// limit.
std::uint64_t CountUtf8RunsInvalid(const Runs& runs, std::uint64_t limit, std::size_t from = 0);

// The invalid bytes DecodeInCharset (final) counts in EUC-JP, from the runs
// GatherRuns gathered; the count stops once it passes limit.
std::uint64_t CountEucJpRunsInvalid(const Runs& runs, std::uint64_t limit, std::size_t from = 0);

// Lower bounds of the two counts over the runs from run from on, quick
// where the bytes are far from valid.
std::uint64_t Utf8RunsInvalidAtLeast(const Runs& runs, std::size_t from);
std::uint64_t EucJpRunsInvalidAtLeast(const Runs& runs, std::size_t from);

// Decodes EUC-JP escapes in ASCII text, and the plain units between them,
// into code page 932 bytes, as DecodeUrlBytesAppend does with no option on,
// from text while it can: it stops at a character it leaves to the usual
// way, at or a little past stop, or some units before available (the bytes
// readable at text). Returns the units read; out moves past the bytes
// written, and up to 16 bytes after them may be written. 0 where the
// processor cannot take these steps.
std::size_t DecodeEucJpSteps(const unsigned char* text, std::size_t stop, std::size_t available,
                             unsigned char*& out);
bool CanDecodeEucJpSteps();

// The same for UTF-8 escapes, and for EUC-JP's, 64 units at a time, writing
// nothing past the bytes they give, with plus a "+" read as a space; 0 where
// the processor has no AVX-512 with VBMI2 (CanDecodeInStretches). They may
// end two units past stop, after the digits of an escape before it.
std::size_t DecodeUtf8Stretches(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                unsigned char*& out);
std::size_t DecodeEucJpStretches(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                 unsigned char*& out);
// UTF-8 and EUC-JP escapes into UTF-8, as DecodeUrlBytesAppend does with the
// text side UTF-8.
std::size_t DecodeUtf8StretchesAsUtf8(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                      unsigned char*& out);
std::size_t DecodeEucJpStretchesAsUtf8(const unsigned char* text, std::size_t stop, std::size_t available, bool plus,
                                       unsigned char*& out);
// UTF-8 and EUC-JP escapes in text into text, as DecodeUrl does without
// "&" as CR LF: a unit from 0x80 up stops them as a literal byte does, and
// they read up to kTextStretchReach units past the start of a block of 64.
std::size_t DecodeUtf8TextStretches(const char16_t* text, std::size_t stop, std::size_t available, bool plus,
                                    char16_t*& out);
std::size_t DecodeEucJpTextStretches(const char16_t* text, std::size_t stop, std::size_t available, bool plus,
                                     char16_t*& out);
inline constexpr std::size_t kBlockUnits = 64;  // the units of a block
inline constexpr std::size_t kTextStretchReach = kBlockUnits + 32;
bool CanDecodeInStretches();

// The code page 932 bytes of every EUC-JP pair b1 b2, first byte in the low
// half, at b1 | b2 << 8 (the pair as read from memory); 0 for pairs that are
// no character or whose character code page 932 does not write as two
// bytes.
const std::uint16_t* EucJpToCp932Pairs();

}  // namespace tessaly::detail
