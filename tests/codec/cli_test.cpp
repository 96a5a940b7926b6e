// Runs the built tessaly-cli on small inputs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "codec/utf8.h"

namespace {

int tessaly_test_write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// A file name of the current test's own (ctest may run tests in parallel).
std::string TempPath(const std::string& name) {
    return testing::TempDir() + "tessaly_cli_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs tessaly-cli with args (already shell-quoted where needed) and input on
// standard input.
Result RunCli(const std::string& args, const std::string& input = "") {
    const std::string in = TempPath("stdin");
    const std::string out = TempPath("stdout");
    const std::string err = TempPath("stderr");
    WriteFile(in, input);
    const std::string command =
        std::string(TESSALY_CLI_PATH) + " " + args + " <" + in + " >" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    Result result;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

TEST(Cli, EncodesFileBytesExactly) {
    const std::string file = TempPath("input.txt");
    WriteFile(file, "\x83\x65\x83\x58\x83\x67 a+b\r\n\t");
    const Result r = RunCli("encode " + file);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "%83e%83X%83g a+b%0D%0A%09");  // nothing appended
    EXPECT_EQ(r.err, "");
}

TEST(Cli, ReadsStandardInput) {
    EXPECT_EQ(RunCli("decode", "%82%A0x%41").out, "\x82\xA0x%41");
    EXPECT_EQ(RunCli("decode -", "%41B").out, "AB");
}

TEST(Cli, BinarySafe) {
    const Result r = RunCli("encode", std::string("a\0b\x1A\xFF", 5));
    EXPECT_EQ(r.out, "a%00b%1A%FF");
    EXPECT_EQ(RunCli("decode", "%00%00").out, std::string("\0\0", 2));
}

TEST(Cli, AmpersandOption) {
    EXPECT_EQ(RunCli("encode --amp-crlf", "A\r\nB\r").out, "A&B\r");
    EXPECT_EQ(RunCli("--amp-crlf decode", "A&B").out, "A\r\nB");
    EXPECT_EQ(RunCli("decode", "A&B").out, "A&B");
}

TEST(Cli, Utf8) {
    EXPECT_EQ(RunCli("encode --utf8", "テスト\n").out, "%83e%83X%83g%0A");
    EXPECT_EQ(RunCli("decode --utf8", "%82%A0%83e").out, "あテ");
    // A character outside the code page passes through decoding untouched.
    EXPECT_EQ(RunCli("decode --utf8", "%41😀").out, "A😀");
    // Invalid UTF-8 reads as U+FFFD, which the code page writes as "?".
    EXPECT_EQ(RunCli("encode --utf8", "\xFF" "a\xE3\x81" "b\xC0\x80\xED\xA0\x80").out, "?a?b?????");
    EXPECT_EQ(RunCli("decode --utf8", "\xE3\x81").out, "\xEF\xBF\xBD");
}

TEST(Cli, EncodeThenDecodeRestoresTheBytes) {
    const std::string text = "\x8A\xBF\x8E\x9A\x83\x65\x83\x58\x83\x67\r\nabc \x82\xA0\r\n";
    for (const std::string option : {"", " --amp-crlf"}) {
        const Result encoded = RunCli("encode" + option, text);
        EXPECT_EQ(RunCli("decode" + option, encoded.out).out, text) << option;
    }
}

TEST(Cli, HelpAndVersion) {
    const Result help = RunCli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: tessaly-cli encode|decode", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    const Result version = RunCli("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "tessaly-cli " TESSALY_VERSION "\n");
}

TEST(Cli, BadArgumentsExitWithTwo) {
    for (const std::string args : {"", "--bogus encode", "frobnicate", "encode a b", "--amp-crlf"}) {
        const Result r = RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(r.err.rfind("Usage: tessaly-cli", 0), 0u) << args;
    }
}

TEST(Cli, BadArgumentsAreNamedAfterTheUsage) {
    const std::pair<std::string, std::string> cases[] = {
        {"--bogus encode", "unknown option \"--bogus\""},
        {"encode a b", "one file at most; one too many: \"b\""},
        {"frobnicate", "the command is encode or decode, not \"frobnicate\""},
        {"--utf8", "no command: encode or decode"},
        {"encode --detect", "--detect is for decode only"},
        {"decode --escape=form", "--escape is for encode only"},
        {"encode --escape url", "--escape takes printable, component or form, not \"url\""}};
    for (const auto& [args, problem] : cases) {
        const Result r = RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        const std::string last = "\ntessaly-cli: " + problem + "\n";
        EXPECT_TRUE(r.err.size() > last.size() && r.err.ends_with(last)) << args << ": " << r.err;
    }
    // After "--", a name that starts with "-" is the file.
    const Result dash = RunCli("encode -- --utf8");
    EXPECT_EQ(dash.exitCode, 1);
    EXPECT_EQ(dash.err.rfind("tessaly-cli: --utf8: ", 0), 0u) << dash.err;
}

TEST(Cli, UnreadableFileExitsWithOne) {
    const std::string missing = TempPath("no_such_file");
    std::remove(missing.c_str());
    const Result r = RunCli("encode " + missing);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tessaly-cli: " + missing + ": No such file or directory\n");
    EXPECT_EQ(RunCli("decode " + testing::TempDir()).err,
              "tessaly-cli: " + testing::TempDir() + ": Is a directory\n");
}

TEST(Cli, WriteErrorExitsWithOne) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const std::string err = TempPath("full_stderr");
    const std::string command =
        std::string(TESSALY_CLI_PATH) + " encode </dev/null >/dev/full 2>" + err;
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    // Nothing to write: an empty result is no error.
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string input = TempPath("full_stdin");
    WriteFile(input, "abc");
    const int failed = std::system((std::string(TESSALY_CLI_PATH) + " encode " + input +
                                    " >/dev/full 2>" + err).c_str());
    ASSERT_TRUE(WIFEXITED(failed));
    EXPECT_EQ(WEXITSTATUS(failed), 1);
    EXPECT_EQ(ReadFile(err), "tessaly-cli: write error: No space left on device\n");
}

// A child running tessaly-cli with its standard input and output on pipes.
struct Child {
    pid_t pid = -1;
    int in = -1;   // write end of its standard input
    int out = -1;  // read end of its standard output
};

Child Spawn(std::vector<std::string> args, int stdinFd = -1, const std::string& errPath = "") {
    int toChild[2] = {-1, -1}, fromChild[2];
    if (stdinFd < 0 && pipe2(toChild, O_CLOEXEC) != 0) return {};
    if (pipe2(fromChild, O_CLOEXEC) != 0) return {};
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(stdinFd >= 0 ? stdinFd : toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        if (!errPath.empty()) dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(TESSALY_CLI_PATH));
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(TESSALY_CLI_PATH, argv.data());
        _exit(127);
    }
    if (stdinFd < 0) {
        close(toChild[0]);
        child.in = toChild[1];
    }
    close(fromChild[1]);
    child.out = fromChild[0];
    return child;
}

// Reads from fd until want bytes came or the timeout passed.
std::string ReadWithTimeout(int fd, std::size_t want, int milliseconds) {
    std::string got;
    while (got.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, milliseconds) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

TEST(CliStreaming, EachLineComesOutBeforeTheInputEnds) {
    struct Case {
        std::vector<std::string> args;
        std::string line, want;
    };
    const std::vector<Case> cases = {
        {{"encode"}, "\x83\x65\x83\x58\x83\x67 a\n", "%83e%83X%83g a%0A"},
        {{"decode", "--utf8"}, "GET /%82%A0%41 200\n", "GET /あA 200\n"},
        {{"encode", "--amp-crlf"}, "k=v\r\n", "k=v&"},
    };
    for (const Case& c : cases) {
        Child child = Spawn(c.args);
        ASSERT_GT(child.pid, 0);
        for (int round = 0; round < 2; ++round) {  // the input stays open meanwhile
            ASSERT_EQ(write(child.in, c.line.data(), c.line.size()), static_cast<ssize_t>(c.line.size()));
            EXPECT_EQ(ReadWithTimeout(child.out, c.want.size(), 5000), c.want) << c.line;
        }
        close(child.in);
        EXPECT_EQ(ReadWithTimeout(child.out, 1, 5000), "");  // the end, nothing held back
        int status = 0;
        waitpid(child.pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        close(child.out);
    }
}

TEST(CliStreaming, LargeInputThroughEncodeAndDecodeInConstantMemory) {
    // 256 MiB of Shift-JIS lines through `encode | decode`: the bytes come
    // back, and neither process grows with the input.
    std::string block;
    while (block.size() < (1u << 20)) block += "\x8A\xBF\x8E\x9A\x83\x65\x83\x58\x83\x67\xB1 abc\x82\xA0\r\n";
    constexpr int kBlocks = 256;
    signal(SIGPIPE, SIG_IGN);
    Child encode = Spawn({"encode", "--amp-crlf"});
    ASSERT_GT(encode.pid, 0);
    Child decode = Spawn({"decode", "--amp-crlf"}, encode.out);
    ASSERT_GT(decode.pid, 0);
    close(encode.out);
    std::thread feeder([&] {
        for (int i = 0; i < kBlocks; ++i) {
            if (tessaly_test_write_all(encode.in, block) != 0) break;
        }
        close(encode.in);
    });
    std::size_t total = 0;
    bool same = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = read(decode.out, buffer.data(), buffer.size());
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && same; ++i) same = buffer[i] == block[(total + i) % block.size()];
        total += static_cast<std::size_t>(n);
    }
    feeder.join();
    close(decode.out);
    for (const pid_t pid : {encode.pid, decode.pid}) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "peak KiB";  // ru_maxrss is in KiB
    }
    EXPECT_TRUE(same);
    EXPECT_EQ(total, kBlocks * block.size());
}

// Runs tessaly-cli with args, writing input to it in random pieces (so its
// reads cut characters and escapes anywhere); returns its output and status.
std::pair<std::string, int> RunInPieces(std::vector<std::string> args, const std::string& input,
                                        std::mt19937& rng, const std::string& errPath = "",
                                        std::size_t longest = 200000) {
    signal(SIGPIPE, SIG_IGN);
    Child child = Spawn(std::move(args), -1, errPath);
    if (child.pid <= 0) return {"", -1};
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < input.size();) {
        at = std::min(input.size(), at + 1 + rng() % (rng() % 2 ? 40 : longest));
        cuts.push_back(at);
    }
    std::thread feeder([&] {
        std::size_t from = 0;
        for (const std::size_t to : cuts) {
            if (tessaly_test_write_all(child.in, input.substr(from, to - from)) != 0) break;
            from = to;
        }
        close(child.in);
    });
    std::string out;
    char buffer[1 << 16];
    for (ssize_t n; (n = read(child.out, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    feeder.join();
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(CliStreaming, PiecesGiveWhatTheCodecGivesForTheWhole) {
    // Over 2 MiB, so that 1 MiB reads cut it too: Shift-JIS text with CR,
    // LF, invalid and one-way bytes for encode; for decode, encoded text
    // with stretches of raw bytes from 0x80 up between long ASCII ones.
    std::mt19937 rng(932);
    static const char* const kPieces[] = {"\x8A\xBF", "\x83\x65", "\xB1", "abc ", "\r\n", "\r", "\n",
                                          "\x81", "\x80", "\xFD", "\x87\x40", "\xED\x40", "%", "&"};
    std::string text;
    while (text.size() < (5u << 19)) text += kPieces[rng() % std::size(kPieces)];
    for (const bool amp : {false, true}) {
        std::vector<std::string> args = {"encode"};
        if (amp) args.push_back("--amp-crlf");
        const auto [out, status] = RunInPieces(args, text, rng);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(out == tessaly::CodePageBridge::ToBytes(tessaly::Encode(tessaly::CodePageBridge::ToText(text), amp)))
            << "encode, option " << amp;
    }
    std::string encoded;
    while (encoded.size() < (5u << 19)) {
        const std::string part = text.substr(rng() % (text.size() - 4096), 1 + rng() % 4096);
        const std::string escaped = tessaly::CodePageBridge::ToBytes(
            tessaly::Encode(tessaly::CodePageBridge::ToText(part), false));
        encoded += rng() % 4 == 0 ? part : escaped + escaped + escaped;
    }
    for (const bool amp : {false, true}) {
        std::vector<std::string> args = {"decode"};
        if (amp) args.push_back("--amp-crlf");
        const auto [out, status] = RunInPieces(args, encoded, rng);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(out == tessaly::CodePageBridge::ToBytes(tessaly::Decode(tessaly::CodePageBridge::ToText(encoded), amp)))
            << "decode, option " << amp;
    }
}

TEST(CliLosses, WhereTheFirstOneIsWhateverThePieces) {
    // Decode input whose pieces switch between ASCII and raw bytes (which
    // are decoded different ways) many times before its one invalid byte.
    std::mt19937 rng(1);
    std::string input;
    while (input.size() < 100000) {
        input += rng() % 2 ? "%8A%BF%83e\r\n" : "\x8A\xBF\x83\x65%8";
        // Not a hexadecimal digit: "%8" and it would be an escape of a byte
        // that does not read back, a loss of its own.
        if (rng() % 16 == 0) input += std::string(rng() % 100, 'z');
    }
    const std::size_t first = input.size() + 1;
    input += "x\x81 y\n\x81 ";  // lead bytes without a trail byte
    std::size_t line = 1;
    for (std::size_t i = 0; i < first; ++i) line += input[i] == '\n';
    const std::string want = "tessaly-cli: 2 input bytes are not code page 932 text and were replaced; the first at line " +
                             std::to_string(line) + ", byte offset " + std::to_string(first) + "\n";
    for (int round = 0; round < 3; ++round) {
        const std::string err = TempPath("pieces_err");
        EXPECT_EQ(RunInPieces({"decode"}, input, rng, err, 200).second, 0);
        EXPECT_EQ(ReadFile(err), want);
    }
    // Blank lines: a line break in every byte, more than a byte can count.
    EXPECT_EQ(RunCli("decode", std::string(100000, '\n') + "x\x81 ").err,
              "tessaly-cli: 1 input byte is not code page 932 text and was replaced; "
              "the first at line 100001, byte offset 100001\n");
}

TEST(CliLosses, CountedOnStandardErrorAndStrictStopsAtTheFirst) {
    // A lead byte without a trail byte on line 2 (offset 4).
    const std::string input = "ab\r\n\x81\x20x\xA0\x82\xA0";
    const Result r = RunCli("encode", input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "ab%0D%0A%81E x%A0%82%A0");  // the lone lead byte reads as "・"
    EXPECT_EQ(r.err, "tessaly-cli: 1 input byte is not code page 932 text and was replaced; "
                     "the first at line 2, byte offset 4\n");
    EXPECT_EQ(RunCli("encode", "\x81\x20\xFC").err,
              "tessaly-cli: 2 input bytes are not code page 932 text and were replaced; "
              "the first at line 1, byte offset 0\n");
    const Result strict = RunCli("encode --strict", input);
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(strict.out, "ab%0D%0A");  // nothing from where the loss stands
    EXPECT_EQ(strict.err, "tessaly-cli: line 2, byte offset 4: input byte is not code page 932 text "
                          "and was replaced\n");
    // --utf8: a character without code page bytes; the look-alikes do not count.
    const Result utf8 = RunCli("encode --utf8", "\xE2\x80\x94\xE3\x80\x9C\nx\xC3\xA9y\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8.exitCode, 0);
    EXPECT_EQ(utf8.err, "tessaly-cli: 2 characters have no code page 932 bytes and became \"?\" or a "
                        "look-alike; the first at line 2, byte offset 8\n");
    const Result invalid = RunCli("decode --utf8 --strict", "%41%42\n%43 \xFF\xFE");
    EXPECT_EQ(invalid.exitCode, 1);
    EXPECT_EQ(invalid.out, "AB\nC ");  // "%43 " is decided before the loss; nothing past it
    EXPECT_EQ(invalid.err, "tessaly-cli: line 2, byte offset 11: invalid UTF-8 sequence was replaced by U+FFFD\n");
    EXPECT_EQ(RunCli("decode --utf8", "\xFF\xFE").err,
              "tessaly-cli: 2 invalid UTF-8 sequences were replaced by U+FFFD; the first at line 1, byte offset 0\n");
}

// ---------------------------------------------------------------------------
// Encodings behind the escapes, escape sets, "+" and detection

// What the codec gives for the whole input, read and written as the CLI
// reads and writes it.
std::string Whole(const std::string& input, bool utf8, const std::function<std::u16string(std::u16string_view)>& convert) {
    const std::u16string text = utf8 ? tessaly::Utf8ToUtf16(input) : tessaly::CodePageBridge::ToText(input);
    const std::u16string result = convert(text);
    return utf8 ? tessaly::Utf16ToUtf8(result) : tessaly::CodePageBridge::ToBytes(result);
}

TEST(CliUrl, EncodingsSetsAndPlus) {
    EXPECT_EQ(RunCli("decode --charset utf-8 --utf8", "q=%E3%83%86%E3%82%B9%E3%83%88\n").out, "q=テスト\n");
    EXPECT_EQ(RunCli("decode '--charset= EUC-JP ' --utf8", "%C5%EC%B5%FE+%a4%a2").out, "東京+あ");
    EXPECT_EQ(RunCli("decode --charset euc-jp --plus --utf8", "%C5%EC%B5%FE+%a4%a2%2B").out, "東京 あ+");
    EXPECT_EQ(RunCli("decode --plus", "%83e+%83X").out, "\x83\x65 \x83\x58");
    EXPECT_EQ(RunCli("encode --utf8 --charset utf8 --escape form", "東京 & 大阪").out,
              "%E6%9D%B1%E4%BA%AC+%26+%E5%A4%A7%E9%98%AA");
    EXPECT_EQ(RunCli("encode --utf8 --escape=component --charset utf8", "a b&c=d~*").out, "a%20b%26c%3Dd~*");
    // Shift_JIS trail bytes that are letters stay literal in every set.
    EXPECT_EQ(RunCli("encode --escape component", "\x83\x65\x83\x58\x83\x67").out, "%83e%83X%83g");
    EXPECT_EQ(RunCli("encode --charset x-euc-jp --amp-crlf", "\x93\x8C\r\n").out, "%C5%EC&");
}

TEST(CliUrl, UsageErrors) {
    const Result label = RunCli("decode --charset latin1");
    EXPECT_EQ(label.exitCode, 2);
    EXPECT_EQ(label.out, "");
    for (const char* name : {"\"latin1\"", "UTF-8", "EUC-JP", "Shift_JIS", "windows-31j"}) {
        EXPECT_NE(label.err.find(name), std::string::npos) << name;
    }
    for (const std::string args : {"encode --plus", "encode --detect", "decode --escape form", "encode --escape url",
                                   "encode --charset"}) {
        const Result r = RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_EQ(r.err.rfind("Usage: tessaly-cli", 0), 0u) << args;
    }
    const Result help = RunCli("--help");
    for (const char* text : {"--charset", "--escape", "--plus", "--detect", "1 MiB", "cseucpkdfmtjapanese"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
}

TEST(CliUrl, PiecesGiveTheWholeForEveryOption) {
    // Over 2 MiB with a line over the 1 MiB detection cap: pieces of every
    // size, every option, what the codec gives for the whole.
    std::mt19937 rng(14);
    static const char16_t* const kWords[] = {u"東京", u"テスト", u"検索 語", u"a=b&c", u"ｱｲ", u"😀", u"+", u"\r\n",
                                             u"\n", u"é", u"%", u"・"};
    std::u16string text;
    while (text.size() < (3u << 19)) text += kWords[rng() % std::size(kWords)];
    std::u16string lines;  // each line encoded in an encoding of its own
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find(u'\n', pos);
        end = end == std::u16string::npos ? text.size() : end + 1;
        tessaly::EncodeOptions e;
        e.charset = static_cast<tessaly::Charset>(rng() % 3);
        e.escape = static_cast<tessaly::EscapeSet>(rng() % 3);
        lines += tessaly::EncodeUrl(std::u16string_view(text).substr(pos, end - pos - (text[end - 1] == u'\n')), e);
        lines += rng() % 5 == 0 ? u"%8\n" : u"\n";
        pos = end;
    }
    lines += std::u16string(1100000, u'x') + u"%E3%83%86\n%83e";
    const std::string source = tessaly::Utf16ToUtf8(text);
    const std::string escaped = tessaly::Utf16ToUtf8(lines);
    struct Case {
        std::vector<std::string> args;
        tessaly::Charset charset;
        tessaly::EscapeSet set;
        bool plus, detect, amp, utf8;
    };
    using tessaly::Charset;
    using tessaly::EscapeSet;
    const std::vector<Case> cases = {
        {{"encode", "--charset", "utf-8", "--utf8"}, Charset::kUtf8, EscapeSet::kPrintable, false, false, false, true},
        {{"encode", "--charset", "euc-jp", "--escape", "form", "--amp-crlf", "--utf8"}, Charset::kEucJp,
         EscapeSet::kForm, false, false, true, true},
        {{"encode", "--escape", "component"}, Charset::kShiftJis, EscapeSet::kComponent, false, false, false, false},
        {{"decode", "--charset", "utf-8", "--plus", "--utf8"}, Charset::kUtf8, EscapeSet::kPrintable, true, false,
         false, true},
        {{"decode", "--charset", "euc-jp", "--amp-crlf"}, Charset::kEucJp, EscapeSet::kPrintable, false, false, true,
         false},
        {{"decode", "--detect", "--plus", "--utf8"}, Charset::kShiftJis, EscapeSet::kPrintable, true, true, false,
         true},
        {{"decode", "--detect", "--charset", "utf-8"}, Charset::kUtf8, EscapeSet::kPrintable, false, true, false,
         false},
        // Code page 932's escapes with the text in UTF-8.
        {{"encode", "--amp-crlf", "--utf8"}, Charset::kShiftJis, EscapeSet::kPrintable, false, false, true, true},
        {{"decode", "--plus", "--utf8"}, Charset::kShiftJis, EscapeSet::kPrintable, true, false, false, true},
    };
    for (const Case& c : cases) {
        const bool decode = c.args[0] == "decode";
        std::string input = decode ? escaped : source;
        if (!c.utf8) input = tessaly::CodePageBridge::ToBytes(tessaly::Utf8ToUtf16(input));
        const std::string want = Whole(input, c.utf8, [&](std::u16string_view t) {
            return decode ? tessaly::DecodeUrl(t, {c.charset, c.detect, c.plus, c.amp})
                          : tessaly::EncodeUrl(t, {c.charset, c.set, c.amp});
        });
        const auto [out, status] = RunInPieces(c.args, input, rng);
        EXPECT_EQ(status, 0) << c.args[1];
        EXPECT_TRUE(out == want) << c.args[0] << " " << c.args[1] << " " << c.args.size();
    }
}

TEST(CliUrl, LossesOfEveryKindAndStrict) {
    // Escapes of bytes code page 932 does not read back: a lead byte
    // without its trail byte, and a pair written back as other bytes.
    const Result lone = RunCli("decode --strict", "ok\n%81%20");
    EXPECT_EQ(lone.exitCode, 1);
    EXPECT_EQ(lone.out, "ok\n");
    EXPECT_EQ(lone.err, "tessaly-cli: line 2, byte offset 3: escaped byte does not form a character in Shift_JIS "
                        "and was replaced\n");
    const Result pair = RunCli("decode", "a%ED%40");
    EXPECT_EQ(pair.exitCode, 0);
    EXPECT_EQ(pair.out, tessaly::CodePageBridge::ToBytes(tessaly::Decode(u"a%ED%40", false)));
    EXPECT_EQ(pair.err, "tessaly-cli: 2 escaped bytes do not form characters in Shift_JIS and were replaced; the "
                        "first at line 1, byte offset 1\n");
    const Result utf8 = RunCli("decode --charset utf-8 --utf8", "ab\ncd%E3%81x%FF");
    EXPECT_EQ(utf8.out, "ab\ncd\uFFFDx\uFFFD");
    EXPECT_EQ(utf8.err, "tessaly-cli: 2 escaped bytes do not form characters in UTF-8 and were replaced; the "
                        "first at line 2, byte offset 5\n");
    // A decoded character code page 932 cannot write.
    const Result emoji = RunCli("decode --charset utf-8 --strict", "x\n%E3%81%82 %F0%9F%98%80 y");
    EXPECT_EQ(emoji.exitCode, 1);
    EXPECT_EQ(emoji.out, "x\n\x82\xA0 ");
    EXPECT_EQ(emoji.err, "tessaly-cli: line 2, byte offset 12: character has no code page 932 bytes and became \"?\" "
                         "or a look-alike\n");
    const Result euc = RunCli("encode --charset euc-jp --utf8", "a\nb😀c\xC3\xA9");
    EXPECT_EQ(euc.out, "a%0Ab&#128512;c&#233;");
    EXPECT_EQ(euc.err, "tessaly-cli: 2 characters have no EUC-JP bytes and were written as \"&#N;\"; the first at "
                       "line 2, byte offset 3\n");
    // Mixed kinds: one count, the first of them.
    const Result mixed = RunCli("decode", "\x81 %81%20");
    EXPECT_EQ(mixed.err, "tessaly-cli: 2 characters or bytes were replaced; the first at line 1, byte offset 0\n");
}

TEST(CliUrl, DetectionCountsTheLinesOfEachEncoding) {
    const std::string log =
        "GET /?q=%E3%83%86%E3%82%B9%E3%83%88 200\n"  // テスト in UTF-8
        "GET /?q=%83e%83X%83g 200\n"                  // in Shift_JIS
        "GET /?q=%A5%C6%A5%B9%A5%C8 200\n"            // in EUC-JP
        "GET /?q=%E6%9D%B1%E4%BA%AC 200\n"            // 東京 in UTF-8
        "GET /?q=abc 200\n";
    const Result r = RunCli("decode --detect --utf8", log);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "GET /?q=テスト 200\nGET /?q=テスト 200\nGET /?q=テスト 200\nGET /?q=東京 200\nGET /?q=abc 200\n");
    EXPECT_EQ(r.err, "tessaly-cli: lines read in Shift_JIS 1, UTF-8 2, EUC-JP 1\n");
}

TEST(CliUrl, SmallAddressSpace) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves far more address space";
#else
    // One byte in 40 MB of address space; where the program starts but a
    // piece of a large file needs more than is left, it is refused with a
    // message and status 1.
    const std::string big = TempPath("big");
    std::string kanji;
    for (int i = 0; i < 600000; ++i) kanji += "漢";
    WriteFile(big, kanji);
    const std::string err = TempPath("small_err");
    const auto run = [&](const std::string& limit, const std::string& command) {
        const int status = std::system(("ulimit -v " + limit + "; " + command + " >/dev/null 2>" + err).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("40000", "printf a | " + std::string(TESSALY_CLI_PATH) + " encode"), 0) << ReadFile(err);
    EXPECT_EQ(run("40000", "printf a | " + std::string(TESSALY_CLI_PATH) + " decode --detect"), 0) << ReadFile(err);
    // The smallest limit, in steps of 1 MB, under which the program and its
    // libraries load at all (below it the loader fails, status 127).
    int status = 127;
    for (int limit = 4000; status == 127 && limit <= 40000; limit += 1000) {
        status = run(std::to_string(limit), std::string(TESSALY_CLI_PATH) + " encode --utf8 --escape component " + big);
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ReadFile(err), "tessaly-cli: out of memory\n");
#endif
}

}  // namespace
