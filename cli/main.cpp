// tessaly-cli: percent-encodes or decodes a file or standard input through
// code page 932 (or UTF-8) and writes the result to standard output, a piece
// at a time as the input arrives.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "codec/codepage.h"
#include "codec/cp932.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/utf8.h"
#include "documents/io.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tessaly-cli encode|decode [OPTION]... [FILE]\n"
    "  tessaly-cli encode [--charset LABEL] [--escape printable|component|form]\n"
    "                     [--amp-crlf] [--utf8] [--strict] [FILE]\n"
    "  tessaly-cli decode [--charset LABEL] [--detect] [--plus] [--amp-crlf]\n"
    "                     [--utf8] [--strict] [FILE]\n"
    "Percent-encodes or percent-decodes FILE (standard input when FILE is\n"
    "absent or \"-\") and writes the result to standard output. The text is read\n"
    "and written as code page 932 (Shift_JIS) bytes, or UTF-8 with --utf8.\n"
    "\n"
    "  encode       write every byte of the text outside the escape set as %XX\n"
    "  decode       turn such escapes back into text\n"
    "  --charset LABEL\n"
    "               the encoding behind the escapes: Shift_JIS (code page 932,\n"
    "               the default), UTF-8 or EUC-JP, named by any of their labels\n"
    "               (case and surrounding white space do not matter):\n"
    "                 UTF-8      utf-8 utf8 unicode-1-1-utf-8 unicode11utf8\n"
    "                            unicode20utf8 x-unicode20utf8\n"
    "                 EUC-JP     euc-jp cseucpkdfmtjapanese x-euc-jp\n"
    "                 Shift_JIS  shift_jis shift-jis csshiftjis ms932 ms_kanji\n"
    "                            sjis windows-31j x-sjis cp932\n"
    "  --escape SET the bytes encode keeps as they are:\n"
    "                 printable  printable ASCII, space included (the default)\n"
    "                 component  letters, digits and - _ . ! ~ * ' ( ), as\n"
    "                            encodeURIComponent writes a query value\n"
    "                 form       letters, digits and * - . _, a space as \"+\",\n"
    "                            as a form sends its values\n"
    "  --plus       decode a literal \"+\" as a space (form data; \"%2B\" stays \"+\")\n"
    "  --detect     decide the encoding line by line (a line ends at LF): each\n"
    "               line is read in all three and the most plausible Japanese\n"
    "               reading is taken; --charset wins ties. A line is held until\n"
    "               its LF up to 1 MiB; a longer line is decided 1 MiB at a\n"
    "               time, each counted as a line. At the end one line on\n"
    "               standard error counts the lines read in each encoding\n"
    "               (lines with escapes of bytes 0x80 and up)\n"
    "  --amp-crlf   write CR LF as \"&\" when encoding, read \"&\" as CR LF when\n"
    "               decoding\n"
    "  --utf8       read and write UTF-8 instead of code page 932\n"
    "  --strict     stop at the first replaced character or byte (exit status 1)\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "Examples:\n"
    "  echo 'q=%E3%83%86%E3%82%B9%E3%83%88' | tessaly-cli decode --charset utf-8 --utf8\n"
    "      q=\u30C6\u30B9\u30C8\n"
    "  printf '\u6771\u4EAC & \u5927\u962A' | tessaly-cli encode --utf8 --charset utf-8 --escape form\n"
    "      %E6%9D%B1%E4%BA%AC+%26+%E5%A4%A7%E9%98%AA\n"
    "  tessaly-cli decode --detect --plus --utf8 access.log\n"
    "      decodes each line of a log in UTF-8, Shift_JIS or EUC-JP\n"
    "\n"
    "The input is streamed in pieces of up to 1 MiB with constant memory whatever\n"
    "its size; whatever the input so far decides is written at once (only a cut\n"
    "character, a CR that \"&\" may join, an escape waiting for the unit that\n"
    "completes it or, with --detect, a line waiting for its LF is held back),\n"
    "and the output is what converting the whole input at once gives:\n"
    "  tail -f access.log | tessaly-cli decode --utf8\n"
    "\n"
    "What was replaced is counted: input bytes that are not valid in the\n"
    "input's encoding (they read as \"\u30FB\" or U+FFFD), escapes whose bytes do\n"
    "not form characters in their encoding (read as \"\u30FB\" or U+FFFD, or as a\n"
    "character code page 932 writes with other bytes), characters the output\n"
    "cannot hold (written as \"?\" or a look-alike in code page 932, as \"&#N;\"\n"
    "in EUC-JP). One line on standard error gives the count and where the first\n"
    "one is (line and byte offset of the input), and the exit status stays 0.\n"
    "In code page 932, the four characters Linux input methods type for their\n"
    "Windows twins (U+2014, U+2016, U+2212, U+301C) are not counted.\n";

struct Options {
    bool decode = false;
    bool ampCrLf = false;
    bool utf8 = false;
    bool strict = false;
    tessaly::Charset charset = tessaly::Charset::kShiftJis;
    tessaly::EscapeSet escape = tessaly::EscapeSet::kPrintable;
    bool plus = false;
    bool detect = false;
    std::string file = "-";

    // Decoding code page 932: ASCII input is decoded straight to bytes ("+"
    // as a space or not), which --utf8 writes as UTF-8.
    bool DecodesAsciiAsBytes() const { return decode && charset == tessaly::Charset::kShiftJis && !detect; }
    tessaly::EncodeOptions Encoding() const { return {charset, escape, ampCrLf}; }
    tessaly::DecodeOptions Decoding() const { return {charset, detect, plus, ampCrLf}; }
};

enum class Parse { kRun, kHelp, kVersion, kBad, kBadLabel };

// Reads the arguments into options; for kBad, problem says what is wrong,
// for kBadLabel, badLabel is the label. "--" ends the options.
Parse ParseArguments(int argc, char** argv, Options& options, std::string& badLabel, std::string& problem) {
    bool haveCommand = false;
    bool haveFile = false;
    bool operands = false;
    std::string_view encodeOnly;  // --escape
    std::string_view decodeOnly;  // --plus, --detect
    const auto bad = [&](std::string what, std::string_view arg = {}) {
        problem = std::move(what);
        if (!arg.empty()) problem += " \"" + std::string(arg) + "\"";
        return Parse::kBad;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (operands || arg.size() < 2 || arg[0] != '-') {
            // The command, then the file.
            if (!haveCommand) {
                if (arg != "encode" && arg != "decode") return bad("the command is encode or decode, not", arg);
                options.decode = arg == "decode";
                haveCommand = true;
            } else if (!haveFile) {
                options.file = arg;
                haveFile = true;
            } else {
                return bad("one file at most; one too many:", arg);
            }
            continue;
        }
        if (arg == "--") {
            operands = true;
            continue;
        }
        if (arg == "--help") return Parse::kHelp;
        if (arg == "--version") return Parse::kVersion;
        // "--charset LABEL" or "--charset=LABEL", the same for --escape.
        std::string_view value;
        for (const std::string_view name : {std::string_view("--charset"), std::string_view("--escape")}) {
            if (arg == name) {
                if (++i == argc) return bad(name == "--charset" ? "--charset needs a label" : "--escape needs a set");
                value = argv[i];
            } else if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
                value = arg.substr(name.size() + 1);
                arg = name;
            }
        }
        if (arg == "--charset") {
            const std::optional<tessaly::Charset> charset = tessaly::CharsetFromLabel(value);
            if (!charset) {
                badLabel = value;
                return Parse::kBadLabel;
            }
            options.charset = *charset;
        } else if (arg == "--escape") {
            if (value == "printable") {
                options.escape = tessaly::EscapeSet::kPrintable;
            } else if (value == "component") {
                options.escape = tessaly::EscapeSet::kComponent;
            } else if (value == "form") {
                options.escape = tessaly::EscapeSet::kForm;
            } else {
                return bad("--escape takes printable, component or form, not", value);
            }
            encodeOnly = arg;
        } else if (arg == "--plus") {
            options.plus = true;
            decodeOnly = arg;
        } else if (arg == "--detect") {
            options.detect = true;
            decodeOnly = arg;
        } else if (arg == "--amp-crlf") {
            options.ampCrLf = true;
        } else if (arg == "--strict") {
            options.strict = true;
        } else if (arg == "--utf8") {
            options.utf8 = true;
        } else {
            return bad("unknown option", arg);
        }
    }
    if (!haveCommand) return bad("no command: encode or decode");
    if (options.decode && !encodeOnly.empty()) return bad(std::string(encodeOnly) + " is for encode only");
    if (!options.decode && !decodeOnly.empty()) return bad(std::string(decodeOnly) + " is for decode only");
    return Parse::kRun;
}

constexpr std::size_t kReadSize = std::size_t{1} << 20;
// The routes from bytes straight to bytes read less at a time: the piece
// stays in the processor's cache between the read's copy and the
// conversion, which then costs less than the copy did.
constexpr std::size_t kByteRouteReadSize = std::size_t{1} << 16;
// Room in front of a read for what the last piece left: a lead byte and an
// escape unit at most.
constexpr std::size_t kHeldRoom = 64;

// The bytes read and held, in room that is not zero-filled first: a read
// fills what it reads, so a short input touches only the pages it uses of
// a mebibyte's room.
class ReadBuffer {
public:
    char* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    char& operator[](std::size_t i) { return bytes_[i]; }
    // Grows to n bytes at least (twice its size at least, as a line held
    // for its end grows a read at a time), keeping what it holds.
    void Grow(std::size_t n) {
        if (n <= size_) return;
        const std::size_t size = std::max(n, 2 * size_);
        auto grown = std::make_unique_for_overwrite<char[]>(size);
        if (size_ != 0) std::memcpy(grown.get(), bytes_.get(), size_);
        bytes_ = std::move(grown);
        size_ = size;
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
};

// Whether the n bytes at p are all below 0x80.
bool IsAscii(std::string_view bytes) {
    const char* p = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    unsigned high = 0;
#ifdef __SSE2__
    __m128i any = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    high = static_cast<unsigned>(_mm_movemask_epi8(any));
#endif
    for (; i < n; ++i) high |= static_cast<unsigned char>(p[i]) & 0x80u;
    return high == 0;
}

// Whether the run converts bytes straight to bytes (as Stream::Piece picks
// the route): UTF-8 or EUC-JP escapes, detection (on ASCII input, as logs
// are), encoding, or plain decoding of ASCII.
bool BytesToBytes(const Options& options) {
    if (options.detect || options.charset != tessaly::Charset::kShiftJis) return true;
    return options.decode ? options.DecodesAsciiAsBytes() : true;
}

// Whether code page 932 reads every byte below 0x80 as the unit of its value
// and writes it back, so that such bytes can be decoded as they are.
bool AsciiReadsAsItself() {
    static const bool same = [] {
        std::string ascii;
        std::u16string units;
        for (char c = 0; c >= 0; ++c) {
            ascii += c;
            units += static_cast<char16_t>(c);
        }
        return tessaly::CodePageBridge::ToText(ascii) == units && tessaly::FindByteLoss(ascii).count == 0;
    }();
    return same;
}

// The LF bytes among the n at p, 16 at a time.
std::uint64_t CountLineBreaksPlain(const char* p, std::size_t n) {
    std::uint64_t count = 0;
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i sums = _mm_setzero_si128();  // two 64-bit lane sums
    while (i + 16 <= n) {
        // Up to 255 blocks counted in each byte lane (a hit is -1), then
        // added up.
        __m128i lanes = _mm_setzero_si128();
        for (unsigned k = 0; k < 255 && i + 16 <= n; ++k, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, lf));
        }
        sums = _mm_add_epi64(sums, _mm_sad_epu8(lanes, _mm_setzero_si128()));
    }
    count += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
    for (; i < n; ++i) count += p[i] == '\n';
    return count;
}

#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
// CountLineBreaksPlain 128 bytes a round, for processors with AVX2: every
// piece of input is counted, so this is a pass over all of it.
__attribute__((target("avx2"))) std::uint64_t CountLineBreaksAvx2(const char* p, std::size_t n) {
    const __m256i lf = _mm256_set1_epi8('\n');
    __m256i sums = _mm256_setzero_si256();  // four 64-bit lane sums
    std::size_t i = 0;
    while (n - i >= 128) {
        // Two counts a byte lane, each taking up to two hits a round.
        __m256i lanes0 = _mm256_setzero_si256();
        __m256i lanes1 = _mm256_setzero_si256();
        for (unsigned k = 0; k < 127 && n - i >= 128; ++k, i += 128) {
            const auto* const v = reinterpret_cast<const __m256i*>(p + i);
            lanes0 = _mm256_sub_epi8(lanes0, _mm256_cmpeq_epi8(_mm256_loadu_si256(v), lf));
            lanes1 = _mm256_sub_epi8(lanes1, _mm256_cmpeq_epi8(_mm256_loadu_si256(v + 1), lf));
            lanes0 = _mm256_sub_epi8(lanes0, _mm256_cmpeq_epi8(_mm256_loadu_si256(v + 2), lf));
            lanes1 = _mm256_sub_epi8(lanes1, _mm256_cmpeq_epi8(_mm256_loadu_si256(v + 3), lf));
        }
        sums = _mm256_add_epi64(sums, _mm256_sad_epu8(lanes0, _mm256_setzero_si256()));
        sums = _mm256_add_epi64(sums, _mm256_sad_epu8(lanes1, _mm256_setzero_si256()));
    }
    alignas(32) std::uint64_t lane[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane), sums);
    return lane[0] + lane[1] + lane[2] + lane[3] + CountLineBreaksPlain(p + i, n - i);
}
#endif

// The LF bytes among the n at p.
std::uint64_t CountLineBreaks(const char* p, std::size_t n) {
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return CountLineBreaksAvx2(p, n);
#endif
    return CountLineBreaksPlain(p, n);
}

// What is replaced on the way.
enum class Kind : unsigned {
    kInputCp932,     // input bytes code page 932 does not read back
    kInputUtf8,      // invalid UTF-8 in the input
    kNoCp932Bytes,   // characters written as "?" or a look-alike
    kNoEucJpBytes,   // characters written as "&#N;"
    kLoneSurrogate,  // written as U+FFFD's UTF-8
    kEscapes,        // escaped bytes that do not form characters
};

struct Losses {
    std::uint64_t count = 0;
    unsigned kinds = 0;  // one bit per Kind
    Kind firstKind = Kind::kInputCp932;
    std::uint64_t firstLine = 0;
    std::uint64_t firstOffset = 0;
};

// A loss found in a piece, at an index of the text not yet converted.
struct Found {
    static constexpr std::size_t npos = std::u16string::npos;
    Kind kind = Kind::kInputCp932;
    std::size_t at = npos;
    std::uint64_t count = 0;
};

// Reads, converts and writes one piece at a time. Each stage converts what
// it can decide and keeps the rest in front of its buffer for the next
// piece; the buffers grow to what a piece needs and keep that size.
class Stream {
public:
    explicit Stream(const Options& options)
        : options_(options), readSize_(BytesToBytes(options) ? kByteRouteReadSize : kReadSize) {
        in_.Grow(readSize_ + kHeldRoom);
    }

    // Runs to the end of fd; returns the exit status.
    int Run(int fd, const char* name) {
        for (;;) {
            // Held bytes past kHeldRoom are a line waiting for its LF (up to
            // the detection cap). Each piece looks at the held bytes again,
            // so a read is at least as large as what is held: a long line
            // is looked at a few times, not once for every 64 KiB of it.
            const std::size_t want = std::max(readSize_, held_);
            in_.Grow(held_ + want);
            const ssize_t n = read(fd, in_.data() + held_, want);
            if (n < 0) {
                if (errno == EINTR) continue;
                std::fprintf(stderr, "tessaly-cli: %s: %s\n", name, std::strerror(errno));
                return 1;
            }
            const bool final = n == 0;
            const std::size_t size = held_ + static_cast<std::size_t>(n);
            if (!Piece(size, final)) {
                ReportLines();
                return failed_;
            }
            if (final) break;
        }
        if (losses_.count > 0) {
            const bool mixed = (losses_.kinds & (losses_.kinds - 1)) != 0;
            const std::string what = mixed ? losses_.count == 1 ? "character or byte was replaced"
                                                                 : "characters or bytes were replaced"
                                           : Describe(losses_.firstKind, losses_.count != 1);
            std::fprintf(stderr, "tessaly-cli: %llu %s; the first at line %llu, byte offset %llu\n",
                         static_cast<unsigned long long>(losses_.count), what.c_str(),
                         static_cast<unsigned long long>(losses_.firstLine),
                         static_cast<unsigned long long>(losses_.firstOffset));
        }
        ReportLines();
        return 0;
    }

private:
    std::string Describe(Kind kind, bool plural) const {
        switch (kind) {
            case Kind::kInputCp932:
                return plural ? "input bytes are not code page 932 text and were replaced"
                              : "input byte is not code page 932 text and was replaced";
            case Kind::kInputUtf8:
                return plural ? "invalid UTF-8 sequences were replaced by U+FFFD"
                              : "invalid UTF-8 sequence was replaced by U+FFFD";
            case Kind::kNoCp932Bytes:
                return plural ? "characters have no code page 932 bytes and became \"?\" or a look-alike"
                              : "character has no code page 932 bytes and became \"?\" or a look-alike";
            case Kind::kNoEucJpBytes:
                return plural ? "characters have no EUC-JP bytes and were written as \"&#N;\""
                              : "character has no EUC-JP bytes and was written as \"&#N;\"";
            case Kind::kLoneSurrogate:
                return plural ? "lone surrogates were written as U+FFFD" : "lone surrogate was written as U+FFFD";
            case Kind::kEscapes: {
                const std::string where = options_.detect ? "in the encoding of their line"
                                                          : "in " + std::string(tessaly::CharsetName(options_.charset));
                return plural ? "escaped bytes do not form characters " + where + " and were replaced"
                              : "escaped byte does not form a character " + where + " and was replaced";
            }
        }
        return "";
    }

    // With --detect, the lines read in each encoding.
    void ReportLines() const {
        if (!options_.detect) return;
        std::fprintf(stderr, "tessaly-cli: lines read in Shift_JIS %llu, UTF-8 %llu, EUC-JP %llu\n",
                     static_cast<unsigned long long>(linesIn_[0]), static_cast<unsigned long long>(linesIn_[1]),
                     static_cast<unsigned long long>(linesIn_[2]));
    }

    // Notes count losses of a kind, the first of them at input offset
    // `offset` on line `line` (used when they are the first of the run);
    // returns whether to go on.
    bool Note(Kind kind, std::uint64_t count, std::uint64_t offset, std::uint64_t line) {
        if (losses_.count == 0) {
            losses_.firstKind = kind;
            losses_.firstOffset = offset;
            losses_.firstLine = line;
        }
        losses_.count += count;
        losses_.kinds |= 1u << static_cast<unsigned>(kind);
        return !options_.strict;
    }

    // Notes losses whose first is at byte `at` of in_.
    bool NoteAtByte(Kind kind, std::uint64_t count, std::size_t at) {
        const bool first = losses_.count == 0;
        return Note(kind, count, offset_ + at, first ? 1 + lines_ + CountLineBreaks(in_.data(), at) : 0);
    }

    bool StopAtFirst() {
        std::fprintf(stderr, "tessaly-cli: line %llu, byte offset %llu: %s\n",
                     static_cast<unsigned long long>(losses_.firstLine),
                     static_cast<unsigned long long>(losses_.firstOffset), Describe(losses_.firstKind, false).c_str());
        failed_ = 1;
        return false;
    }

    // Converts the size bytes in in_; false when the run ends here.
    bool Piece(std::size_t size, bool final) {
        const std::string_view bytes(in_.data(), size);
        if (!options_.decode && !options_.utf8 && options_.charset == tessaly::Charset::kShiftJis) {
            return EncodePiece(bytes, final);
        }
        if (options_.DecodesAsciiAsBytes() && text_.empty() && converted_.empty() && AsciiReadsAsItself() &&
            AllAscii(bytes)) {
            return DecodeAsciiPiece(bytes, final);
        }
        if (ByteRoute(bytes)) return BytesPiece(bytes, final);
        return TextPiece(bytes, final);
    }

    // Whether the piece goes from the input's bytes straight to the output's
    // (the text route's result and report without the text in between):
    // UTF-8 or EUC-JP escapes, encoding or decoding in one encoding, and
    // UTF-8 text into code page 932 escapes; with --detect, input of ASCII
    // bytes (when no text is held).
    bool ByteRoute(std::string_view bytes) {
        if (options_.detect) return text_.empty() && converted_.empty() && AsciiReadsAsItself() && AllAscii(bytes);
        return options_.charset != tessaly::Charset::kShiftJis || (!options_.decode && options_.utf8);
    }

    std::size_t ConvertBytes(std::string_view bytes, bool final, tessaly::BytesReport* report) {
        const tessaly::TextBytes side = options_.utf8 ? tessaly::TextBytes::kUtf8 : tessaly::TextBytes::kCp932;
        if (options_.detect) {
            return tessaly::DecodeUrlDetectingAsciiAppend(out_, bytes, side, options_.Decoding(), final, report);
        }
        return options_.decode
                   ? tessaly::DecodeUrlBytesAppend(out_, bytes, side, options_.Decoding(), final, report)
                   : tessaly::EncodeUrlBytesAppend(out_, bytes, side, options_.Encoding(), final, report);
    }

    // A piece through the byte routes: the losses of each kind, the first
    // of them as the text route finds it (by position, then input before
    // escapes before characters the output cannot hold).
    bool BytesPiece(std::string_view bytes, bool final) {
        tessaly::BytesReport report;
        const std::size_t consumed = ConvertBytes(bytes, final, &report);
        for (std::size_t k = 0; k < linesIn_.size(); ++k) linesIn_[k] += report.linesIn[k];
        const Kind unwritable = options_.decode || options_.charset == tessaly::Charset::kShiftJis
                                    ? Kind::kNoCp932Bytes
                                : options_.charset == tessaly::Charset::kEucJp ? Kind::kNoEucJpBytes
                                                                               : Kind::kLoneSurrogate;
        const std::pair<Kind, const tessaly::ByteLoss*> kinds[] = {
            {options_.utf8 ? Kind::kInputUtf8 : Kind::kInputCp932, &report.input},
            {Kind::kEscapes, &report.escapes},
            {unwritable, &report.unwritable}};
        const tessaly::ByteLoss* first = nullptr;
        Kind firstKind = Kind::kInputCp932;
        for (const auto& [kind, loss] : kinds) {
            if (loss->count == 0) continue;
            if (first == nullptr || loss->first < first->first) {
                first = loss;
                firstKind = kind;
            }
        }
        if (first != nullptr) {
            const std::size_t at = first->first;
            NoteAtByte(firstKind, first->count, at);
            for (const auto& [kind, loss] : kinds) {
                if (loss == first || loss->count == 0) continue;
                losses_.count += loss->count;
                losses_.kinds |= 1u << static_cast<unsigned>(kind);
            }
            if (options_.strict) {
                // What stands before the first loss, as far as it decides.
                out_.clear();
                ConvertBytes(bytes.substr(0, at), false, nullptr);
                if (!WriteOut()) return false;
                return StopAtFirst();
            }
        }
        Advance(consumed, bytes.size());
        return WriteOut();
    }

    // The input's own bytes of text (in its encoding).
    std::size_t InputBytes(std::u16string_view text) {
        scratch_.clear();
        if (options_.utf8) {
            tessaly::AppendUtf16AsUtf8(scratch_, text);
        } else {
            tessaly::CodePageBridge::AppendBytes(scratch_, text);
        }
        return scratch_.size();
    }

    // Input offset and line of text_[at], where text_[heldText] is the text
    // of in_[0] (before the bookkeeping of this piece).
    std::pair<std::uint64_t, std::uint64_t> Where(std::size_t at, std::size_t heldText) {
        if (at >= heldText) {
            const std::size_t n = InputBytes(std::u16string_view(text_).substr(heldText, at - heldText));
            return {offset_ + n, 1 + lines_ + CountLineBreaks(in_.data(), n)};
        }
        const std::u16string_view before = std::u16string_view(text_).substr(at, heldText - at);
        const auto breaks = static_cast<std::uint64_t>(std::count(before.begin(), before.end(), u'\n'));
        return {offset_ - InputBytes(before), 1 + lines_ - breaks};
    }

    // Converts the text of text_ (up to `units`) and appends it to
    // converted_; returns the units converted.
    std::size_t ConvertText(std::size_t units, bool final, tessaly::DecodeReport* decodeReport,
                            tessaly::EncodeReport* encodeReport) {
        const std::u16string_view text = std::u16string_view(text_).substr(0, units);
        return options_.decode ? tessaly::DecodeUrlAppend(converted_, text, options_.Decoding(), final, decodeReport)
                               : tessaly::EncodeUrlAppend(converted_, text, options_.Encoding(), final, encodeReport);
    }

    // The text index where the conversion of text_ writes converted_ unit
    // `unit` (counted from `base`), and the start of what decides it: the
    // units converted before it.
    std::size_t SourceOf(std::size_t unit, std::size_t base) {
        std::size_t low = 0, high = text_.size();  // the shortest prefix that writes past unit
        std::u16string probe;
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            probe.clear();
            tessaly::DecodeUrlAppend(probe, std::u16string_view(text_).substr(0, mid), options_.Decoding(), false);
            if (probe.size() > unit - base) {
                high = mid;
            } else {
                low = mid + 1;
            }
        }
        probe.clear();
        if (low == 0) return 0;
        return tessaly::DecodeUrlAppend(probe, std::u16string_view(text_).substr(0, low - 1), options_.Decoding(), false);
    }

    // Anything but code page 932's byte routes: input bytes to text, the
    // conversion with its report, text to output bytes.
    bool TextPiece(std::string_view bytes, bool final) {
        const std::size_t heldText = text_.size();
        Found first;
        std::uint64_t total = 0;
        unsigned kinds = 0;
        const auto found = [&](Kind kind, std::uint64_t count, std::size_t at) {
            if (count == 0) return;
            if (at < first.at) first = {kind, at, count};
            total += count;
            kinds |= 1u << static_cast<unsigned>(kind);
        };
        std::size_t consumed;
        if (options_.utf8) {
            const tessaly::Utf8Read read = tessaly::AppendUtf8AsUtf16(text_, bytes, final);
            consumed = read.consumed;
            // Encoding into code page 932 or EUC-JP counts U+FFFD itself.
            if (read.invalid > 0 && (options_.decode || options_.charset == tessaly::Charset::kUtf8)) {
                found(Kind::kInputUtf8, read.invalid,
                      heldText + tessaly::Utf8ToUtf16(bytes.substr(0, read.firstInvalid)).size());
            }
        } else {
            tessaly::ByteLoss loss;
            consumed = tessaly::CodePageBridge::AppendText(text_, bytes, final, loss);
            if (loss.count > 0) {
                found(Kind::kInputCp932, loss.count,
                      heldText + tessaly::CodePageBridge::ToText(bytes.substr(0, loss.first)).size());
            }
        }
        const std::size_t base = converted_.size();
        tessaly::DecodeReport decodeReport;
        tessaly::EncodeReport encodeReport;
        const std::size_t used = ConvertText(text_.size(), final, &decodeReport, &encodeReport);
        if (options_.decode) {
            found(Kind::kEscapes, decodeReport.invalid, decodeReport.firstInvalid);
            for (std::size_t k = 0; k < linesIn_.size(); ++k) linesIn_[k] += decodeReport.linesIn[k];
        } else {
            const Kind kind = options_.charset == tessaly::Charset::kShiftJis ? Kind::kNoCp932Bytes
                              : options_.charset == tessaly::Charset::kEucJp  ? Kind::kNoEucJpBytes
                                                                               : Kind::kLoneSurrogate;
            found(kind, encodeReport.lost, encodeReport.firstLost);
        }
        if (options_.decode && !options_.utf8 &&
            (options_.charset != tessaly::Charset::kShiftJis || options_.detect)) {
            // Decoded characters code page 932 cannot write (U+FFFD is
            // counted as its escapes already).
            const tessaly::Cp932LossTable& table = tessaly::Cp932LossTable::Get();
            std::uint64_t lost = 0;
            std::size_t firstLost = Found::npos;
            const std::size_t n = converted_.size() - (!final && !converted_.empty() &&
                                                       tessaly::cp932::IsHighSurrogate(converted_.back()));
            for (std::size_t i = 0; i < n; ++i) {
                const char16_t c = converted_[i];
                if (!table.Lost(c) || c == u'\uFFFD') continue;  // surrogates are lost
                const bool pair = tessaly::cp932::IsHighSurrogate(c) && i + 1 < converted_.size() &&
                                  tessaly::cp932::IsLowSurrogate(converted_[i + 1]);
                if (lost++ == 0) firstLost = i;
                i += pair;
            }
            if (lost > 0) found(Kind::kNoCp932Bytes, lost, firstLost < base ? 0 : SourceOf(firstLost, base));
        }
        if (total > 0) {
            if (losses_.count == 0) {
                const auto [offset, line] = Where(first.at, heldText);
                losses_.firstKind = first.kind;
                losses_.firstOffset = offset;
                losses_.firstLine = line;
            }
            losses_.count += total;
            losses_.kinds |= kinds;
            if (options_.strict) {
                // What stands before the first loss, as far as it decides.
                converted_.resize(base);
                ConvertText(first.at, false, nullptr, nullptr);
                if (!Output(false)) return false;
                return StopAtFirst();
            }
        }
        text_.erase(0, used);
        Advance(consumed, bytes.size());
        if (!Output(final)) return false;
        if (options_.DecodesAsciiAsBytes() || (options_.decode && options_.detect)) HandBackText();
        return true;
    }

    // Code page 932 in, encoded bytes out, without text in between (escapes
    // of code page 932 or UTF-8 bytes).
    bool EncodePiece(std::string_view bytes, bool final) {
        tessaly::ByteLoss loss;
        const std::size_t consumed = tessaly::EncodeUrlFromBytesAppend(out_, bytes, options_.Encoding(), final, &loss);
        if (loss.count > 0 && !NoteAtByte(Kind::kInputCp932, loss.count, loss.first)) {
            // --strict: what stands before the first loss, as far as it is
            // decided, then stop.
            out_.clear();
            tessaly::EncodeUrlFromBytesAppend(out_, bytes.substr(0, loss.first), options_.Encoding(), false);
            if (!WriteOut()) return false;
            return StopAtFirst();
        }
        Advance(consumed, bytes.size());
        return WriteOut();
    }

    // Whether the bytes of a piece (in_'s) are all below 0x80. Those held
    // from the piece before that were found so are not looked at again: a
    // line held for its LF comes back with every piece.
    bool AllAscii(std::string_view bytes) {
        if (!IsAscii(bytes.substr(std::min(asciiHeld_, bytes.size())))) return false;
        asciiHeld_ = bytes.size();
        return true;
    }

    // Moves past the consumed bytes of the size in in_, keeping the rest
    // in front of it for the next piece.
    void Advance(std::size_t consumed, std::size_t size) {
        if (losses_.count == 0) lines_ += CountLineBreaks(in_.data(), consumed);
        offset_ += consumed;
        held_ = size - consumed;
        std::memmove(in_.data(), in_.data() + consumed, held_);
        asciiHeld_ = asciiHeld_ > consumed ? asciiHeld_ - consumed : 0;
    }

    // Writes out_ and empties it; false on a write error.
    bool WriteOut() {
        const int error = tessaly::WriteAll(STDOUT_FILENO, out_);
        out_.clear();
        if (error != 0) {
            std::fprintf(stderr, "tessaly-cli: write error: %s\n", std::strerror(error));
            failed_ = 1;
            return false;
        }
        return true;
    }

    // Code page 932 bytes below 0x80 decoded as they are ("+" as a space
    // with --plus), straight to the output bytes (what they decode to is
    // code page 932 text). Escapes of bytes that code page 932 does not read
    // back are counted.
    bool DecodeAsciiPiece(std::string_view bytes, bool final) {
        const std::size_t kept = out_.size();
        tessaly::ByteLoss loss;
        // With --utf8, the decoded code page 932 bytes (whole characters)
        // written as UTF-8.
        const auto decode = [&](std::string_view ascii, bool last, tessaly::ByteLoss* counted) {
            const bool amp = options_.ampCrLf;
            std::string& to = options_.utf8 ? decoded_ : out_;
            decoded_.clear();
            const std::size_t used =
                options_.plus   ? tessaly::DecodeAsciiPlusAsSpaceToBytesAppend(to, ascii, amp, last, counted)
                : counted != nullptr ? tessaly::DecodeAsciiToBytesAppend(to, ascii, amp, last, *counted)
                                     : tessaly::DecodeAsciiToBytesAppend(to, ascii, amp, last);
            if (options_.utf8) tessaly::CodePageBridge::AppendUtf8(out_, decoded_);
            return used;
        };
        const std::size_t consumed = decode(bytes, final, &loss);
        if (loss.count > 0 && !NoteAtByte(Kind::kEscapes, loss.count, loss.first)) {
            // --strict: only what stands before the first of them.
            out_.resize(kept);
            decode(bytes.substr(0, loss.first), false, nullptr);
            if (!WriteOut()) return false;
            return StopAtFirst();
        }
        Advance(consumed, bytes.size());
        return WriteOut();
    }

    // Puts the text that decoding left undecided back in front of the held
    // bytes when it is ASCII (as its bytes read), so the next piece can be
    // decoded as bytes.
    void HandBackText() {
        const std::size_t n = text_.size();
        // With --detect, a line waiting for its LF is handed back whole.
        if (n == 0 || (held_ + n > kHeldRoom && !options_.detect) || !AsciiReadsAsItself()) return;
        for (const char16_t c : text_) {
            if (c >= 0x80) return;
        }
        in_.Grow(held_ + n);
        std::memmove(in_.data() + n, in_.data(), held_);
        std::uint64_t lineBreaks = 0;
        for (std::size_t i = 0; i < n; ++i) {
            in_[i] = static_cast<char>(text_[i]);
            lineBreaks += text_[i] == u'\n';
        }
        held_ += n;
        asciiHeld_ += n;
        offset_ -= n;
        if (losses_.count == 0) lines_ -= lineBreaks;
        text_.clear();
    }

    // Writes converted_ in the output encoding, keeping what is not decided.
    bool Output(bool final) {
        const std::size_t written = options_.utf8 ? tessaly::AppendUtf16AsUtf8(out_, converted_, final)
                                                  : tessaly::CodePageBridge::AppendBytes(out_, converted_, final);
        converted_.erase(0, written);
        return WriteOut();
    }

    const Options& options_;
    const std::size_t readSize_;
    ReadBuffer in_;            // held bytes, then the bytes just read
    std::size_t held_ = 0;
    std::size_t asciiHeld_ = 0;  // how many of in_'s first bytes AllAscii found below 0x80
    std::u16string text_;       // the input as text, not yet converted
    std::u16string converted_;  // converted, not yet written
    std::string out_;
    std::string decoded_;  // decoded bytes on their way to UTF-8
    std::string scratch_;
    std::uint64_t offset_ = 0;  // input offset of in_[0]
    std::uint64_t lines_ = 0;   // line breaks before in_[0], until the first loss
    Losses losses_;
    std::array<std::uint64_t, tessaly::kCharsetCount> linesIn_{};
    int failed_ = 0;
};

// Writes bytes to standard output; returns the exit code.
int WriteOutput(std::string_view bytes) {
    if (const int error = tessaly::WriteAll(STDOUT_FILENO, bytes)) {
        std::fprintf(stderr, "tessaly-cli: write error: %s\n", std::strerror(error));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) try {
    tessaly::IgnoreFileSizeSignal();  // past ulimit -f, writes fail with EFBIG
    Options options;
    std::string badLabel, problem;
    switch (ParseArguments(argc, argv, options, badLabel, problem)) {
        case Parse::kHelp:
            return WriteOutput(kUsage);
        case Parse::kVersion:
            return WriteOutput("tessaly-cli " TESSALY_VERSION "\n");
        case Parse::kBad:
            // The usage, and what was wrong last, where the eye lands.
            tessaly::WriteAll(STDERR_FILENO, kUsage);
            std::fprintf(stderr, "\ntessaly-cli: %s\n", problem.c_str());
            return 2;
        case Parse::kBadLabel:
            std::fprintf(stderr,
                         "tessaly-cli: unknown encoding \"%s\"; --charset takes one of\n"
                         "  UTF-8      utf-8 utf8 unicode-1-1-utf-8 unicode11utf8 unicode20utf8 x-unicode20utf8\n"
                         "  EUC-JP     euc-jp cseucpkdfmtjapanese x-euc-jp\n"
                         "  Shift_JIS  shift_jis shift-jis csshiftjis ms932 ms_kanji sjis windows-31j x-sjis cp932\n",
                         badLabel.c_str());
            return 2;
        case Parse::kRun:
            break;
    }
    int fd = STDIN_FILENO;
    if (options.file != "-") {
        fd = open(options.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "tessaly-cli: %s: %s\n", options.file.c_str(), std::strerror(errno));
            return 1;
        }
    }
    Stream stream(options);
    return stream.Run(fd, options.file.c_str());
} catch (const std::bad_alloc&) {
    // Output already written stays; nothing more can be converted.
    tessaly::WriteAll(STDERR_FILENO, "tessaly-cli: out of memory\n");
    return 1;
}
