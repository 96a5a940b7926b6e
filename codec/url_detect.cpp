// DecodeUrl's entry points, and decoding with the encoding decided line by
// line.
//
// A line ends at LF (the LF belongs to it). Each line is decoded in every
// encoding, ChooseCharset picks one of the readings, and that reading is
// the line's output. A line whose escapes hold no byte from 0x80 up reads
// the same in all of them but for code page 932's pairing at its end, and
// is decoded in the preferred encoding without the three readings.
//
// A line is held until its LF, up to kLineCap units: a line longer than
// that is decided on its first kLineCap units, decoded in that encoding as
// far as they decide, and the rest of it is taken as a new line. The whole
// text goes through the same steps, so pieces give what the whole gives.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/codepage.h"
#include "codec/detect.h"
#include "codec/large_pages.h"
#include "codec/percent.h"
#include "codec/utf8.h"
#include "codec/url.h"
#include "codec/url_internal.h"

namespace tessaly {
namespace {

using detail::Invalid;

constexpr std::size_t kLineCap = std::size_t{1} << 20;

// Decodes one line in one encoding. A line that ends with its LF is decoded
// as it is in the whole text, whatever follows the LF: code page 932 looks
// past the end of the text in one case ("%hh%" and one unit end the text
// are copied), so the line gets a plain unit after it, whose output is cut.
void DecodeLine(std::u16string& out, std::u16string_view line, Charset charset, const DecodeOptions& options,
                bool endsText, Invalid* invalid) {
    if (endsText || charset != Charset::kShiftJis) {
        detail::DecodeInCharset(out, line, charset, options, true, invalid);
        return;
    }
    const std::size_t used = detail::DecodeInCharset(out, line, charset, options, false, invalid);
    if (used == line.size()) return;
    std::u16string tail(line.substr(used));
    tail += u'X';
    Invalid tailInvalid;
    detail::DecodeInCharset(out, tail, charset, options, true, invalid != nullptr ? &tailInvalid : nullptr);
    out.pop_back();
    if (invalid != nullptr) invalid->Add(tailInvalid, used);
}

struct Readings {
    std::array<std::u16string, kCharsetCount> text;
    std::array<Invalid, kCharsetCount> invalid;
    detail::Runs runs;

    std::array<std::uint64_t, kCharsetCount> count{};

    // The readings that may win, after Count: ChooseCharset takes fewest
    // invalid bytes first, so a reading with more than another never wins,
    // and as it loses to one with fewer whatever its price, its text is left
    // empty.
    void Read(std::u16string_view line, const DecodeOptions& options, bool endsText) {
        const std::uint64_t fewest = *std::min_element(count.begin(), count.end());
        for (std::size_t k = 0; k < kCharsetCount; ++k) {
            text[k].clear();
            invalid[k] = Invalid{};
            if (count[k] == fewest) {
                DecodeLine(text[k], line, static_cast<Charset>(k), options, endsText, &invalid[k]);
            } else {
                invalid[k].count = count[k];
            }
        }
    }

    static std::size_t CountCp932(std::u16string_view line, bool final, Invalid& invalid, std::uint64_t limit) {
        return detail::CountCp932Invalid(line, final, invalid, limit);
    }
    static std::size_t CountCp932(std::string_view ascii, bool final, Invalid& invalid, std::uint64_t limit) {
        return detail::CountCp932Invalid(ascii, final, invalid, limit);
    }

    // The invalid bytes of DecodeLine's code page 932 reading, without it;
    // the count stops once it passes limit (or goes on).
    template <class View>
    void CountShiftJisLine(View line, bool endsText, Invalid& invalid, std::uint64_t limit) const {
        // From its runs, where they tell: for a line that ends with its LF,
        // or one that ends the text with no "%" among its last three units,
        // where no rule of the text's end applies ("%hh" and what is left of
        // an escape are copied there).
        const std::size_t last = std::min<std::size_t>(line.size(), 3);
        const bool endRules = endsText && line.substr(line.size() - last).find('%') != View::npos;
        if (!endRules && detail::CountCp932RunsInvalid(runs, invalid.count, limit)) return;
        invalid.count = 0;
        if (endsText) {
            if (endRules && CountEndOfText(line, invalid, limit)) return;
            invalid.count = 0;
            CountCp932(line, true, invalid, limit);
            return;
        }
        const std::size_t used = CountCp932(line, false, invalid, limit);
        if (used == line.size()) return;
        std::basic_string<typename View::value_type> tail(line.substr(used));
        tail += 'X';
        Invalid tailInvalid;
        CountCp932(View(tail), true, tailInvalid, limit);
        invalid.Add(tailInvalid, used);
    }

    // The same count for a line that ends the text where a rule of the
    // text's end applies: the runs up to a unit near the end that is neither
    // "%" nor a hexadecimal digit (which ends whatever piece of the
    // decoder's holds it, and is in no run), and the rest walked. False when
    // the runs do not tell.
    template <class View>
    bool CountEndOfText(View line, Invalid& invalid, std::uint64_t limit) const {
        constexpr std::size_t kLookBack = 64;
        std::size_t at = line.size();
        const auto inEscape = [](char16_t c) {
            return c == u'%' || (c >= u'0' && c <= u'9') || ((c | 0x20) >= u'a' && (c | 0x20) <= u'f');
        };
        while (at > 0 && line.size() - at < kLookBack && inEscape(static_cast<char16_t>(line[at - 1]))) --at;
        if (at == 0 || line.size() - at >= kLookBack) return false;
        const View rest = line.substr(at);
        detail::Runs restRuns;
        detail::GatherRuns(rest, restRuns);
        if (!detail::CountCp932RunsInvalid(runs, invalid.count, limit, runs.count - restRuns.count)) {
            return false;
        }
        Invalid restInvalid;
        CountCp932(rest, true, restInvalid, limit);
        invalid.count += restInvalid.count;
        return true;
    }

    // Counts each encoding's invalid bytes in line, as far as the choice
    // needs: a count that passes the fewest found before it is only known
    // to be more (kMore). ChooseCharset's pick always has the fewest, so
    // when one encoding alone has the fewest it is the pick (chosen), and
    // no reading's text is needed; otherwise false, and Read and Choose
    // decide.
    static constexpr std::uint64_t kMore = ~std::uint64_t{0};
    // Takes the runs of line as GatherRuns left them.
    template <class View>
    bool Count(View line, bool endsText, Charset& chosen) {
        constexpr auto kSjis = static_cast<std::size_t>(Charset::kShiftJis);
        constexpr auto kUtf8 = static_cast<std::size_t>(Charset::kUtf8);
        constexpr auto kEucJp = static_cast<std::size_t>(Charset::kEucJp);
        // A line read without invalid bytes in UTF-8 (the common case, and
        // seldom the case for the others) needs the others only up to one
        // invalid byte; any other line needs code page 932's whole count.
        const bool cleanUtf8 = detail::CountUtf8RunsInvalid(runs, 0) == 0;
        if (!cleanUtf8 && detail::CountEucJpRunsInvalid(runs, 0) == 0) {
            // Read without invalid bytes in EUC-JP alone (the common case
            // for a line that UTF-8 does not read), unless code page 932
            // reads it so too: then EUC-JP has the fewest, and the others'
            // counts are not needed.
            Invalid sjis;
            CountShiftJisLine(line, endsText, sjis, 0);
            if (sjis.count != 0) {
                count[kSjis] = kMore;
                count[kUtf8] = kMore;
                count[kEucJp] = 0;
                chosen = Charset::kEucJp;
                return true;
            }
        }
        // UTF-8's count, when it is small (a line cut at the cap, a stray
        // byte), bounds code page 932's; a larger one is bounded by code
        // page 932's whole count.
        constexpr std::uint64_t kFew = 4;
        const std::uint64_t utf8 = cleanUtf8 ? 0 : detail::CountUtf8RunsInvalid(runs, kFew);
        Invalid sjis;
        if (utf8 <= kFew) {
            CountShiftJisLine(line, endsText, sjis, utf8);
            count[kSjis] = sjis.count > utf8 ? kMore : sjis.count;
            count[kUtf8] = utf8 > sjis.count ? kMore : utf8;
        } else {
            CountShiftJisLine(line, endsText, sjis, kMore);
            count[kSjis] = sjis.count;
            count[kUtf8] = detail::CountUtf8RunsInvalid(runs, count[kSjis]);
            if (count[kUtf8] > count[kSjis]) count[kUtf8] = kMore;
        }
        const std::uint64_t fewest = std::min(count[kUtf8], count[kSjis]);
        count[kEucJp] = detail::CountEucJpRunsInvalid(runs, fewest);
        if (count[kEucJp] > fewest) count[kEucJp] = kMore;
        std::size_t best = 0;
        for (std::size_t k = 1; k < kCharsetCount; ++k) best = count[k] < count[best] ? k : best;
        for (std::size_t k = 0; k < kCharsetCount; ++k) {
            if (k != best && count[k] == count[best]) return false;
        }
        chosen = static_cast<Charset>(best);
        return true;
    }

    Charset Choose(Charset preferred) const {
        std::array<LineReading, kCharsetCount> readings;
        for (std::size_t k = 0; k < kCharsetCount; ++k) readings[k] = {text[k], invalid[k].count};
        return ChooseCharset(readings, preferred);
    }
};

void Note(DecodeReport* report, const Invalid& invalid, std::size_t base) {
    if (report == nullptr || invalid.count == 0) return;
    if (report->invalid == 0) report->firstInvalid = base + invalid.first;
    report->invalid += invalid.count;
}

// The end of the line starting at from (after its LF), or npos when no LF
// comes within kLineCap units.
std::size_t LineEnd(std::u16string_view text, std::size_t from) {
    const std::size_t lf = detail::FindLineFeed(text.substr(from, kLineCap));
    return lf == std::u16string_view::npos ? lf : from + lf + 1;
}

// The common lines, decoded as they are judged (what Readings::Count makes
// of them): a line that UTF-8 reads without invalid bytes and the others
// do not, one that EUC-JP alone so reads, or else one that code page 932
// reads with fewer invalid bytes than the others (its reading counts them).
// True when the line is one of them, decoded by decode (false at an invalid
// byte) or decodeSjis (returns the count), and its encoding in chosen; else
// the caller cuts what they wrote, and every run of the line is gathered.
// Takes the runs of line as GatherFirstRun left them, and gathers more only
// where the runs so far do not decide: most lines are decided on their
// first run, and a long line on its first few.
template <class View, class Decode, class DecodeSjis>
bool DecodeClean(Readings& readings, View line, bool endsText, Charset& chosen, Decode decode,
                 DecodeSjis decodeSjis) {
    detail::Runs& runs = readings.runs;
    // Whether the runs gathered so far end kEndReach units or more before
    // the end of the line, where no rule of the text's end reaches them (the
    // rules reach back to the "%hh%" before the text's last unit) and no
    // run of them is cut by the end of a long line's first part.
    constexpr std::size_t kEndReach = 8;
    const auto apart = [&] { return runs.resume != detail::Runs::kAll && line.size() - runs.resume >= kEndReach; };
    // More runs: twice as many while they are few, then a quarter more.
    const auto gatherMore = [&] {
        detail::GatherMoreRuns(line, runs, runs.count < 64 ? 2 * runs.count : runs.count + runs.count / 4);
    };
    const auto countOf = [](Charset charset) {
        return charset == Charset::kUtf8 ? detail::CountUtf8RunsInvalid : detail::CountEucJpRunsInvalid;
    };
    // Whether UTF-8's or EUC-JP's count of invalid bytes over the runs
    // (each read on its own) passes limit, the runs gathered a few more at a
    // time: the count seldom needs them all to pass it. Runs far from valid
    // (a lower bound of a quarter of their bytes or more) are taken at that
    // bound rather than counted; if the runs do not pass the limit so, they
    // are counted after all.
    const auto passes = [&](Charset charset, std::uint64_t limit) {
        const auto count = countOf(charset);
        const auto atLeast =
            charset == Charset::kUtf8 ? detail::Utf8RunsInvalidAtLeast : detail::EucJpRunsInvalidAtLeast;
        std::uint64_t known = 0;  // in the runs before from: counted, or at least
        bool bounded = false;     // whether some of known is only a bound
        for (std::size_t from = 0;;) {
            const std::size_t bytes = runs.ByteOf(runs.count) - runs.ByteOf(from);
            const std::uint64_t least = atLeast(runs, from);
            if (bytes != 0 && 4 * least >= bytes) {
                known += least;
                bounded = true;
            } else {
                known += count(runs, limit - known, from);
            }
            if (known > limit) return true;
            if (runs.resume == detail::Runs::kAll) return bounded && count(runs, limit, 0) > limit;
            from = runs.count;
            gatherMore();
        }
    };
    const auto readsSjis = [&] {
        // Each run counts on its own in a line that ends with its LF, and in
        // one that ends the text for runs apart from its end, so an invalid
        // byte in the runs so far decides (gathered as passes gathers them).
        for (;;) {
            std::uint64_t some = 0;
            if ((endsText && !apart()) || !detail::CountCp932RunsInvalid(runs, some, 0)) break;
            if (some != 0) return false;
            if (runs.resume == detail::Runs::kAll) break;
            gatherMore();
        }
        detail::GatherRestOfRuns(line, runs);
        Invalid sjis;
        readings.CountShiftJisLine(line, endsText, sjis, 0);
        return sjis.count == 0;
    };
    const auto readsEucJp = [&] { return !passes(Charset::kEucJp, 0); };
    // A decode fails on the first bytes that do not read; one that fails
    // reads the whole line first, so in a long line the first runs are
    // counted first (as the decode counts them, each on its own).
    constexpr std::size_t kLongLine = 4096;
    constexpr std::size_t kFirstRuns = 64;
    const auto decodes = [&](Charset charset) {
        if (!detail::FirstRunMayRead(runs, charset)) return false;
        if (line.size() >= kLongLine) {
            detail::GatherMoreRuns(line, runs, kFirstRuns);
            if (apart() && countOf(charset)(runs, 0, 0) != 0) return false;
        }
        return decode(charset);
    };
    const auto clean = [&] {
        if (decodes(Charset::kUtf8)) {
            chosen = Charset::kUtf8;
            return !readsSjis() && !readsEucJp();
        }
        if (decodes(Charset::kEucJp)) {
            chosen = Charset::kEucJp;
            return !readsSjis();
        }
        chosen = Charset::kShiftJis;
        const std::uint64_t sjis = decodeSjis();
        if (sjis == 0) return true;
        return passes(Charset::kUtf8, sjis) && passes(Charset::kEucJp, sjis);
    };
    if (clean()) return true;
    detail::GatherRestOfRuns(line, runs);  // for the caller's count
    return false;
}

// Decodes a line as DecodeLine does, or with final false the first
// kLineCap units of a longer line as far as they decide; returns the units
// converted.
std::size_t DecodeLinePart(std::u16string& out, std::u16string_view line, Charset charset,
                           const DecodeOptions& options, bool endsText, bool final, Invalid* invalid) {
    if (!final) return detail::DecodeInCharset(out, line, charset, options, false, invalid);
    DecodeLine(out, line, charset, options, endsText, invalid);
    return line.size();
}

// DecodeClean for text, decoded into out as DecodeLinePart does (used gets
// the units converted); invalid gets the reading's invalid bytes.
bool DecodeCleanText(std::u16string& out, Readings& readings, std::u16string_view line, bool endsText, bool final,
                     const DecodeOptions& options, Charset& chosen, Invalid& invalid, std::size_t& used) {
    const std::size_t mark = out.size();
    const bool clean = DecodeClean(
        readings, line, endsText, chosen,
        [&](Charset charset) {
            // Straight from the text, where no run needs gathering.
            Invalid bad;
            used = DecodeLinePart(out, line, charset, options, endsText, final, &bad);
            if (bad.count == 0) return true;
            out.resize(mark);
            return false;
        },
        [&] {
            used = DecodeLinePart(out, line, Charset::kShiftJis, options, endsText, final, &invalid);
            return invalid.count;
        });
    if (!clean) {
        out.resize(mark);
        invalid = Invalid{};
    }
    return clean;
}

std::size_t DecodeDetecting(std::u16string& out, std::u16string_view text, const DecodeOptions& options, bool final,
                            DecodeReport* report) {
    Readings readings;
    const std::size_t most = (options.crLfAsAmp ? 2 : 1) * text.size();  // the most it writes
    out.reserve(out.size() + most);
    AskForLargePages(out.data() + out.size(), most * sizeof(char16_t));
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lineEnd = LineEnd(text, pos);
        // A long line: its first kLineCap units are decided as a line that
        // ends the text, and decoded as far as they decide.
        const bool head = lineEnd == std::u16string_view::npos && text.size() - pos >= kLineCap;
        if (lineEnd == std::u16string_view::npos && !head && !final) break;  // wait for the line's end
        const bool endsText = lineEnd == std::u16string_view::npos;
        const std::size_t end = head ? pos + kLineCap : endsText ? text.size() : lineEnd;
        const std::u16string_view line = text.substr(pos, end - pos);
        Invalid invalid;
        Invalid* const counted = report != nullptr ? &invalid : nullptr;
        detail::GatherFirstRun(line, readings.runs);
        if (readings.runs.count == 0) {  // no byte from 0x80 up
            // Lines that read alike: as many as follow, in one go.
            std::size_t batchEnd = end;
            while (!endsText && batchEnd < text.size()) {
                const std::size_t next = LineEnd(text, batchEnd);
                if (next == std::u16string_view::npos || detail::HasHighEscape(text.substr(batchEnd, next - batchEnd))) {
                    break;
                }
                batchEnd = next;
            }
            const std::size_t used = DecodeLinePart(out, text.substr(pos, batchEnd - pos), options.charset, options,
                                                    endsText, !head, counted);
            Note(report, invalid, pos);
            pos += used;
            continue;
        }
        Charset charset;
        std::size_t used = line.size();
        if (!DecodeCleanText(out, readings, line, endsText, !head, options, charset, invalid, used)) {
            if (readings.Count(line, endsText, charset)) {
                // A reading without invalid bytes needs no count again.
                const bool clean = readings.count[static_cast<std::size_t>(charset)] == 0;
                used = DecodeLinePart(out, line, charset, options, endsText, !head, clean ? nullptr : counted);
            } else {
                readings.Read(line, options, endsText);
                charset = readings.Choose(options.charset);
                const auto k = static_cast<std::size_t>(charset);
                if (head) {  // the reading is of the whole part, which decides less
                    used = DecodeLinePart(out, line, charset, options, endsText, false, counted);
                } else {
                    out += readings.text[k];
                    invalid = readings.invalid[k];
                }
            }
        }
        Note(report, invalid, pos);
        if (report != nullptr) ++report->linesIn[static_cast<std::size_t>(charset)];
        pos += used;
    }
    return pos;
}

// ---------------------------------------------------------------------------
// The same from ASCII bytes to the bytes of the decoded text

// Decodes the ASCII bytes of a line (or of lines that read alike) in one
// encoding as DecodeLine does (with final false, as far as they decide, as
// DecodeInCharset does), appending side's bytes; the losses go into found at
// offsets from base. Returns the bytes converted.
std::size_t DecodeAsciiLine(std::string& out, std::string_view line, Charset charset, TextBytes side,
                            const DecodeOptions& options, bool endsText, bool final, BytesReport& found,
                            std::size_t base) {
    if (charset != Charset::kShiftJis) {
        DecodeOptions one = options;
        one.charset = charset;
        one.detect = false;
        BytesReport r;
        const std::size_t used = DecodeUrlBytesAppend(out, line, side, one, final, &r);
        r.escapes.first += base;
        // A character code page 932 cannot write is where what decides it
        // starts: the line, which is decided as a whole.
        r.unwritable.first = base;
        detail::AddLosses(found, r);
        return used;
    }
    // Code page 932 bytes; for UTF-8, written as UTF-8 (the decoded bytes
    // are whole characters, whose text that is).
    thread_local std::string decodedBytes;
    std::string& to = side == TextBytes::kCp932 ? out : decodedBytes;
    decodedBytes.clear();
    const bool amp = options.crLfAsAmp;
    const auto decode = [&](std::string_view ascii, bool last, ByteLoss& counted) {
        return options.plusAsSpace ? DecodeAsciiPlusAsSpaceToBytesAppend(to, ascii, amp, last, &counted)
                                   : DecodeAsciiToBytesAppend(to, ascii, amp, last, counted);
    };
    ByteLoss loss;
    std::size_t used = decode(line, final && endsText, loss);
    if (final && !endsText && used < line.size()) {
        // As DecodeLine: the rest with a plain unit after it, whose
        // output is cut.
        std::string tail(line.substr(used));
        tail += 'X';
        ByteLoss tailLoss;
        decode(tail, true, tailLoss);
        to.pop_back();
        if (tailLoss.count != 0) detail::AddLoss(loss, tailLoss.count, used + tailLoss.first);
        used = line.size();
    }
    if (side == TextBytes::kUtf8) CodePageBridge::AppendUtf8(out, decodedBytes);
    if (loss.count != 0) detail::AddLoss(found.escapes, loss.count, base + loss.first);
    return used;
}

// The end of the line of ascii starting at from (after its LF), or npos
// when no LF comes within kLineCap bytes.
std::size_t AsciiLineEnd(std::string_view ascii, std::size_t from) {
    const std::size_t n = std::min(ascii.size() - from, kLineCap);
    const void* const lf = std::memchr(ascii.data() + from, '\n', n);
    return lf == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(lf) - ascii.data()) + 1;
}

// The encoding of a line with runs from 0x80 up (GatherRuns done).
Charset ChooseAscii(Readings& readings, std::string_view line, const DecodeOptions& options, bool endsText) {
    Charset charset;
    if (readings.Count(line, endsText, charset)) return charset;
    const std::u16string text(line.begin(), line.end());
    readings.Read(text, options, endsText);
    return readings.Choose(options.charset);
}

// DecodeCleanText for ASCII bytes, decoded into side's bytes as
// DecodeAsciiLine does (at base); used gets the bytes converted.
bool DecodeCleanAscii(std::string& out, Readings& readings, std::string_view line, TextBytes side,
                      const DecodeOptions& options, bool endsText, bool final, BytesReport& found,
                      std::size_t base, Charset& chosen, std::size_t& used) {
    const std::size_t mark = out.size();
    BytesReport read;
    const bool clean = DecodeClean(
        readings, line, endsText, chosen,
        [&](Charset charset) {
            // Straight from the text, where no run needs gathering.
            read = BytesReport{};
            used = DecodeAsciiLine(out, line, charset, side, options, endsText, final, read, base);
            if (read.escapes.count == 0) return true;
            out.resize(mark);
            return false;
        },
        [&] {
            read = BytesReport{};
            used = DecodeAsciiLine(out, line, Charset::kShiftJis, side, options, endsText, final, read, base);
            return read.escapes.count;
        });
    if (!clean) {
        out.resize(mark);
        return false;
    }
    detail::AddLosses(found, read);
    return true;
}

}  // namespace

std::size_t DecodeUrlDetectingAsciiAppend(std::string& out, std::string_view ascii, TextBytes side,
                                          const DecodeOptions& options, bool final, BytesReport* report) {
    // A stream comes here a piece at a time, and a line longer than the cap
    // brings a cap's worth of text to each piece: the buffers are kept from
    // one piece to the next (in each thread, at most what a cap's worth
    // needs) rather than taken from fresh memory each time. Every line fills
    // in what it reads of them.
    thread_local Readings readings;
    BytesReport found;
    std::size_t pos = 0;
    while (pos < ascii.size()) {
        const std::size_t lineEnd = AsciiLineEnd(ascii, pos);
        // A long line: its first kLineCap bytes are decided as a line that
        // ends the text, and decoded as far as they decide.
        const bool head = lineEnd == std::string_view::npos && ascii.size() - pos >= kLineCap;
        if (lineEnd == std::string_view::npos && !head && !final) break;  // wait for the line's end
        const bool endsText = lineEnd == std::string_view::npos;
        const std::size_t end = head ? pos + kLineCap : endsText ? ascii.size() : lineEnd;
        const std::string_view line = ascii.substr(pos, end - pos);
        detail::GatherFirstRun(line, readings.runs);
        if (readings.runs.count == 0) {  // no byte from 0x80 up
            // Lines that read alike: as many as follow, in one go.
            std::size_t batchEnd = end;
            while (!endsText && batchEnd < ascii.size()) {
                const std::size_t next = AsciiLineEnd(ascii, batchEnd);
                if (next == std::string_view::npos ||
                    detail::HasHighEscape(ascii.substr(batchEnd, next - batchEnd))) {
                    break;
                }
                batchEnd = next;
            }
            pos += DecodeAsciiLine(out, ascii.substr(pos, batchEnd - pos), options.charset, side, options, endsText,
                                   !head, found, pos);
            continue;
        }
        Charset charset;
        std::size_t used = line.size();
        if (!DecodeCleanAscii(out, readings, line, side, options, endsText, !head, found, pos, charset, used)) {
            charset = ChooseAscii(readings, line, options, endsText);
            used = DecodeAsciiLine(out, line, charset, side, options, endsText, !head, found, pos);
        }
        ++found.linesIn[static_cast<std::size_t>(charset)];
        pos += used;
    }
    if (report != nullptr) {
        detail::AddLosses(*report, found);
        for (std::size_t k = 0; k < kCharsetCount; ++k) report->linesIn[k] += found.linesIn[k];
    }
    return pos;
}

std::size_t DecodeUrlAppend(std::u16string& out, std::u16string_view text, const DecodeOptions& options, bool final,
                            DecodeReport* report) {
    if (options.detect) return DecodeDetecting(out, text, options, final, report);
    Invalid invalid;
    const std::size_t used =
        detail::DecodeInCharset(out, text, options.charset, options, final, report != nullptr ? &invalid : nullptr);
    Note(report, invalid, 0);
    return used;
}

std::u16string DecodeUrl(std::u16string_view text, const DecodeOptions& options, DecodeReport* report) {
    std::u16string out;
    DecodeUrlAppend(out, text, options, true, report);
    return out;
}

MojibakeLines FindMojibakeLines(std::u16string_view text, const DecodeOptions& options) {
    MojibakeLines found;
    std::array<std::uint64_t, kCharsetCount> readBy{};
    std::u16string scratch;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find(u'\n', pos);
        const bool endsText = end == std::u16string_view::npos;
        end = endsText ? text.size() : end + 1;
        const std::u16string_view line = text.substr(pos, end - pos);
        pos = end;
        if (!detail::HasHighEscape(line)) continue;
        Invalid invalid;
        scratch.clear();
        DecodeLine(scratch, line, options.charset, options, endsText, &invalid);
        if (invalid.count == 0) continue;
        bool clean = false;
        for (std::size_t k = 0; k < kCharsetCount; ++k) {
            if (static_cast<Charset>(k) == options.charset) continue;
            Invalid other;
            scratch.clear();
            DecodeLine(scratch, line, static_cast<Charset>(k), options, endsText, &other);
            if (other.count == 0) {
                ++readBy[k];
                clean = true;
            }
        }
        found.lines += clean;
    }
    if (found.lines != 0) {
        std::size_t best = 0;
        for (std::size_t k = 1; k < kCharsetCount; ++k) best = readBy[k] > readBy[best] ? k : best;
        found.readBy = static_cast<Charset>(best);
    }
    return found;
}

}  // namespace tessaly
