// tessaly-cli: percent-encodes or decodes a file or standard input through
// code page 932 (or UTF-8) and writes the result to standard output, a piece
// at a time as the input arrives.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/utf8.h"
#include "documents/io.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tessaly-cli encode|decode [--amp-crlf] [--utf8] [--strict] [FILE]\n"
    "Percent-encodes or percent-decodes FILE (standard input when FILE is\n"
    "absent or \"-\") through its code page 932 bytes and writes the result to\n"
    "standard output.\n"
    "\n"
    "  encode       write every byte outside printable ASCII as %XX\n"
    "  decode       turn such escapes back into text\n"
    "  --amp-crlf   write CR LF as \"&\" when encoding, read \"&\" as CR LF when\n"
    "               decoding\n"
    "  --utf8       read and write UTF-8 instead of code page 932\n"
    "  --strict     stop at the first replaced character or byte (exit status 1)\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "The input is streamed in pieces of 1 MiB with constant memory whatever its\n"
    "size; whatever the input so far decides is written at once (only a cut\n"
    "character, a CR that \"&\" may join or an escape waiting for the unit that\n"
    "completes it is held back), and the output is what converting the whole\n"
    "input at once gives:\n"
    "  tail -f access.log | tessaly-cli decode --utf8\n"
    "\n"
    "Input bytes that are not valid in the input's encoding (they read as \"\u30FB\"\n"
    "or U+FFFD) and, with --utf8, characters code page 932 cannot hold (written\n"
    "as \"?\" or a look-alike) are counted: one line on standard error gives the\n"
    "count and where the first one is (line and byte offset), and the exit\n"
    "status stays 0. The four characters Linux input methods type for their\n"
    "Windows twins (U+2014, U+2016, U+2212, U+301C) are not counted.\n";

struct Options {
    bool decode = false;
    bool ampCrLf = false;
    bool utf8 = false;
    bool strict = false;
    std::string file = "-";
};

enum class Parse { kRun, kHelp, kVersion, kBad };

Parse ParseArguments(int argc, char** argv, Options& options) {
    bool haveCommand = false;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") return Parse::kHelp;
        if (arg == "--version") return Parse::kVersion;
        if (arg == "--amp-crlf") {
            options.ampCrLf = true;
        } else if (arg == "--strict") {
            options.strict = true;
        } else if (arg == "--utf8") {
            options.utf8 = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Parse::kBad;
        } else if (!haveCommand) {
            if (arg != "encode" && arg != "decode") return Parse::kBad;
            options.decode = arg == "decode";
            haveCommand = true;
        } else if (!haveFile) {
            options.file = arg;
            haveFile = true;
        } else {
            return Parse::kBad;
        }
    }
    return haveCommand ? Parse::kRun : Parse::kBad;
}

constexpr std::size_t kReadSize = std::size_t{1} << 20;
// Room in front of a read for what the last piece left: a lead byte and an
// escape unit at most.
constexpr std::size_t kHeldRoom = 64;

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

// The LF bytes among the n at p.
std::uint64_t CountLineBreaks(const char* p, std::size_t n) {
    std::uint64_t count = 0;
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i one = _mm_set1_epi8(1);
    __m128i sums = _mm_setzero_si128();  // two 64-bit lane sums
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hits = _mm_and_si128(_mm_cmpeq_epi8(bytes, lf), one);
        sums = _mm_add_epi64(sums, _mm_sad_epu8(hits, _mm_setzero_si128()));
    }
    count += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
    for (; i < n; ++i) count += p[i] == '\n';
    return count;
}

// What was replaced on the way: input bytes not valid in the input's
// encoding, or characters code page 932 cannot hold.
struct Losses {
    std::uint64_t count = 0;
    std::uint64_t firstLine = 0;
    std::uint64_t firstOffset = 0;
};

// Reads, converts and writes one piece at a time. Each stage converts what
// it can decide and keeps the rest (a few units at most) in front of its
// buffer for the next piece; the buffers are allocated once.
class Stream {
public:
    explicit Stream(const Options& options) : options_(options) {
        in_.resize(kReadSize + kHeldRoom);
        text_.reserve(kReadSize + 8);
        converted_.reserve((options.decode ? 2 : 6) * (kReadSize + 8) + 64);
        out_.reserve(3 * converted_.capacity() + 64);
    }

    // Runs to the end of fd; returns the exit status.
    int Run(int fd, const char* name) {
        for (;;) {
            const ssize_t n = read(fd, in_.data() + held_, kReadSize);
            if (n < 0) {
                if (errno == EINTR) continue;
                std::fprintf(stderr, "tessaly-cli: %s: %s\n", name, std::strerror(errno));
                return 1;
            }
            const bool final = n == 0;
            const std::size_t size = held_ + static_cast<std::size_t>(n);
            if (!Piece(size, final)) return failed_;
            if (final) break;
        }
        if (losses_.count > 0) {
            std::fprintf(stderr, "tessaly-cli: %llu %s; the first at line %llu, byte offset %llu\n",
                         static_cast<unsigned long long>(losses_.count), Kind(losses_.count != 1),
                         static_cast<unsigned long long>(losses_.firstLine),
                         static_cast<unsigned long long>(losses_.firstOffset));
        }
        return 0;
    }

private:
    const char* Kind(bool plural) const {
        if (!options_.utf8) {
            return plural ? "input bytes are not code page 932 text and were replaced"
                          : "input byte is not code page 932 text and was replaced";
        }
        if (!options_.decode) {
            return plural ? "characters have no code page 932 bytes and became \"?\" or a look-alike"
                          : "character has no code page 932 bytes and became \"?\" or a look-alike";
        }
        return plural ? "invalid UTF-8 sequences were replaced by U+FFFD"
                      : "invalid UTF-8 sequence was replaced by U+FFFD";
    }

    // Notes the first loss at byte `at` of the buffer and returns whether
    // to go on.
    bool NoteFirst(std::uint64_t count, std::size_t at) {
        if (losses_.count == 0) {
            losses_.firstOffset = offset_ + at;
            losses_.firstLine = 1 + lines_ + CountLineBreaks(in_.data(), at);
        }
        losses_.count += count;
        return !options_.strict;
    }

    // Converts the size bytes in in_; false when the run ends here.
    bool Piece(std::size_t size, bool final) {
        const std::string_view bytes(in_.data(), size);
        const std::size_t heldText = text_.size();
        std::size_t consumed;
        std::size_t textEnd = std::u16string::npos;  // where --strict cuts the text
        std::size_t byteEnd = size;                  // where --strict cuts the bytes
        if (options_.utf8) {
            const tessaly::Utf8Read read = tessaly::AppendUtf8AsUtf16(text_, bytes, final);
            consumed = read.consumed;
            if (options_.decode) {
                if (read.invalid > 0 && !NoteFirst(read.invalid, read.firstInvalid)) {
                    byteEnd = read.firstInvalid;
                    text_.resize(heldText);
                    tessaly::AppendUtf8AsUtf16(text_, bytes.substr(0, byteEnd), false);
                }
            } else {
                const tessaly::TextLoss loss =
                    tessaly::FindTextLoss(std::u16string_view(text_).substr(heldText));
                // The first loss comes before any invalid sequence (which
                // reads as U+FFFD, a loss itself), so the UTF-8 before it is
                // the one the text writes.
                if (loss.count > 0) {
                    const std::u16string_view before = std::u16string_view(text_).substr(heldText, loss.first);
                    scratch_.clear();
                    tessaly::AppendUtf16AsUtf8(scratch_, before);
                    if (!NoteFirst(loss.count, scratch_.size())) {
                        byteEnd = scratch_.size();
                        textEnd = heldText + loss.first;
                    }
                }
            }
        } else if (!options_.decode) {
            return EncodePiece(bytes, final);
        } else if (text_.empty() && converted_.empty() && AsciiReadsAsItself() && IsAscii(bytes)) {
            return DecodeAsciiPiece(bytes, final);
        } else {
            tessaly::ByteLoss loss;
            consumed = tessaly::CodePageBridge::AppendText(text_, bytes, final, loss);
            if (loss.count > 0 && !NoteFirst(loss.count, loss.first)) {
                byteEnd = loss.first;
                text_.resize(heldText);
                tessaly::CodePageBridge::AppendText(text_, bytes.substr(0, byteEnd), false);
            }
        }
        if (byteEnd < size) {
            // --strict: convert what stands before the first loss as far as
            // it is decided, then stop.
            if (textEnd != std::u16string::npos) text_.resize(textEnd);
            if (!Convert(false)) return false;
            std::fprintf(stderr, "tessaly-cli: line %llu, byte offset %llu: %s\n",
                         static_cast<unsigned long long>(losses_.firstLine),
                         static_cast<unsigned long long>(losses_.firstOffset), Kind(false));
            failed_ = 1;
            return false;
        }
        if (losses_.count == 0) {
            lines_ += CountLineBreaks(in_.data(), consumed);
        }
        offset_ += consumed;
        held_ = size - consumed;
        std::memmove(in_.data(), in_.data() + consumed, held_);
        if (!Convert(final)) return false;
        if (options_.decode && !options_.utf8) HandBackText();
        return true;
    }

    // Code page 932 in, encoded bytes out, without text in between.
    bool EncodePiece(std::string_view bytes, bool final) {
        tessaly::ByteLoss loss;
        const std::size_t consumed = tessaly::EncodeBytesAppend(out_, bytes, options_.ampCrLf, final, &loss);
        if (loss.count > 0 && !NoteFirst(loss.count, loss.first)) {
            // --strict: what stands before the first loss, as far as it is
            // decided, then stop.
            out_.clear();
            tessaly::EncodeBytesAppend(out_, bytes.substr(0, loss.first), options_.ampCrLf, false);
            if (!WriteOut()) return false;
            std::fprintf(stderr, "tessaly-cli: line %llu, byte offset %llu: %s\n",
                         static_cast<unsigned long long>(losses_.firstLine),
                         static_cast<unsigned long long>(losses_.firstOffset), Kind(false));
            failed_ = 1;
            return false;
        }
        if (losses_.count == 0) lines_ += CountLineBreaks(in_.data(), consumed);
        offset_ += consumed;
        held_ = bytes.size() - consumed;
        std::memmove(in_.data(), in_.data() + consumed, held_);
        return WriteOut();
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

    // Code page 932 bytes below 0x80 decoded as they are, straight to the
    // output bytes (they have no loss, and what they decode to is code page
    // 932 text).
    bool DecodeAsciiPiece(std::string_view bytes, bool final) {
        const std::size_t consumed = tessaly::DecodeAsciiToBytesAppend(out_, bytes, options_.ampCrLf, final);
        if (losses_.count == 0) lines_ += CountLineBreaks(in_.data(), consumed);
        offset_ += consumed;
        held_ = bytes.size() - consumed;
        std::memmove(in_.data(), in_.data() + consumed, held_);
        return WriteOut();
    }

    // Puts the text that decoding left undecided back in front of the held
    // bytes when it is ASCII (as its bytes read), so the next piece can be
    // decoded as bytes.
    void HandBackText() {
        const std::size_t n = text_.size();
        if (n == 0 || held_ + n > kHeldRoom || !AsciiReadsAsItself()) return;
        for (const char16_t c : text_) {
            if (c >= 0x80) return;
        }
        std::memmove(in_.data() + n, in_.data(), held_);
        std::uint64_t lineBreaks = 0;
        for (std::size_t i = 0; i < n; ++i) {
            in_[i] = static_cast<char>(text_[i]);
            lineBreaks += text_[i] == u'\n';
        }
        held_ += n;
        offset_ -= n;
        if (losses_.count == 0) lines_ -= lineBreaks;
        text_.clear();
    }

    // Converts text_ and writes the result, keeping what is not decided.
    bool Convert(bool final) {
        const std::size_t used = options_.decode
                                     ? tessaly::DecodeAppend(converted_, text_, options_.ampCrLf, final)
                                     : tessaly::EncodeAppend(converted_, text_, options_.ampCrLf, final);
        text_.erase(0, used);
        return Output(final);
    }

    // Writes converted_ in the output encoding, keeping what is not decided.
    bool Output(bool final) {
        const std::size_t written = options_.utf8 ? tessaly::AppendUtf16AsUtf8(out_, converted_, final)
                                                  : tessaly::CodePageBridge::AppendBytes(out_, converted_, final);
        converted_.erase(0, written);
        return WriteOut();
    }

    const Options& options_;
    std::string in_;           // held bytes, then the bytes just read
    std::size_t held_ = 0;
    std::u16string text_;       // the input as text, not yet converted
    std::u16string converted_;  // converted, not yet written
    std::string out_;
    std::string scratch_;
    std::uint64_t offset_ = 0;  // input offset of in_[0]
    std::uint64_t lines_ = 0;   // line breaks before in_[0], until the first loss
    Losses losses_;
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

int main(int argc, char** argv) {
    tessaly::IgnoreFileSizeSignal();  // past ulimit -f, writes fail with EFBIG
    Options options;
    switch (ParseArguments(argc, argv, options)) {
        case Parse::kHelp:
            return WriteOutput(kUsage);
        case Parse::kVersion:
            return WriteOutput("tessaly-cli " TESSALY_VERSION "\n");
        case Parse::kBad:
            tessaly::WriteAll(STDERR_FILENO, kUsage);
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
}
