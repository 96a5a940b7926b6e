// tessaly-cli: percent-encodes or decodes a file or standard input through
// code page 932 (or UTF-8) and writes the result to standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "cli/utf8.h"
#include "codec/codepage.h"
#include "codec/percent.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tessaly-cli encode|decode [--amp-crlf] [--utf8] [FILE]\n"
    "Percent-encodes or percent-decodes FILE (standard input when FILE is\n"
    "absent or \"-\") through its code page 932 bytes and writes the result to\n"
    "standard output.\n"
    "\n"
    "  encode       write every byte outside printable ASCII as %XX\n"
    "  decode       turn such escapes back into text\n"
    "  --amp-crlf   write CR LF as \"&\" when encoding, read \"&\" as CR LF when\n"
    "               decoding\n"
    "  --utf8       read and write UTF-8 instead of code page 932\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n";

struct Options {
    bool decode = false;
    bool ampCrLf = false;
    bool utf8 = false;
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

// Reads all of fd into out; returns 0 or the errno of the failure.
int ReadAll(int fd, std::string& out) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int ReadInput(const std::string& file, std::string& out) {
    if (file == "-") return ReadAll(STDIN_FILENO, out);
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ReadAll(fd, out);
    close(fd);
    return error;
}

// Writes bytes to standard output; returns the exit code.
int WriteOutput(std::string_view bytes) {
    if (const int error = WriteAll(STDOUT_FILENO, bytes)) {
        std::fprintf(stderr, "tessaly-cli: write error: %s\n", std::strerror(error));
        return 1;
    }
    return 0;
}

std::string Convert(const Options& options, const std::string& input) {
    const std::u16string text = options.utf8 ? tessaly::cli::Utf8ToUtf16(input)
                                             : tessaly::CodePageBridge::ToText(input);
    const std::u16string result = options.decode ? tessaly::Decode(text, options.ampCrLf)
                                                 : tessaly::Encode(text, options.ampCrLf);
    return options.utf8 ? tessaly::cli::Utf16ToUtf8(result)
                        : tessaly::CodePageBridge::ToBytes(result);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    switch (ParseArguments(argc, argv, options)) {
        case Parse::kHelp:
            return WriteOutput(kUsage);
        case Parse::kVersion:
            return WriteOutput("tessaly-cli " TESSALY_VERSION "\n");
        case Parse::kBad:
            WriteAll(STDERR_FILENO, kUsage);
            return 2;
        case Parse::kRun:
            break;
    }
    std::string input;
    if (const int error = ReadInput(options.file, input)) {
        std::fprintf(stderr, "tessaly-cli: %s: %s\n", options.file.c_str(), std::strerror(error));
        return 1;
    }
    return WriteOutput(Convert(options, input));
}
