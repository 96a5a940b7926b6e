// Runs the built tessaly-cli on small inputs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

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

}  // namespace
