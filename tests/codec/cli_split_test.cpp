// tessaly-cli on a text cut at line ends into pieces, each converted by a
// process of its own (as GNU parallel --pipe, Hadoop Streaming or Spark's
// pipe() run it): the outputs, joined in order, are the output for the whole
// text. Where that does not hold is shown here too: decode, where a "%" is
// one of the last two characters before a line feed (the line then ends
// inside an escape unit, which the whole text completes with the next
// line's characters); --strict after a loss; the loss report's line numbers.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/codepage.h"
#include "codec/percent.h"

namespace {

std::string Temp(const std::string& name) {
    return testing::TempDir() + "tessaly_split_" + std::to_string(getpid()) + "_" + name;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// tessaly-cli args < input, in a process of its own.
Outcome RunCli(const std::vector<std::string>& args, const std::string& input) {
    const std::string in = Temp("in"), out = Temp("out"), err = Temp("err");
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(TESSALY_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Outcome run;
    pid_t pid = -1;
    if (posix_spawn(&pid, TESSALY_CLI_PATH, &files, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&files);
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
}

// The text cut after line feeds: every one when each is true, else after a
// random few (a piece ends with LF, the last one perhaps not).
std::vector<std::string> CutAtLineEnds(const std::string& text, std::mt19937& rng, bool each) {
    std::vector<std::string> pieces;
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (each || rng() % 512 == 0)) {
            pieces.push_back(text.substr(from, i + 1 - from));
            from = i + 1;
        }
    }
    if (from < text.size()) pieces.push_back(text.substr(from));
    return pieces;
}

// Lines of what a log holds, and what sits at line ends to trip a converter
// that carried anything across them: a lead byte, a CR (CR LF, which
// --amp-crlf joins; a lone CR), an escape cut short or waiting for its
// partner, invalid bytes of either input encoding.
std::string HostileText(std::mt19937& rng, std::size_t size) {
    static const char* const kUnits[] = {
        "\x83\x65\x83\x58\x83\x67",  // テスト in code page 932
        "\xE3\x83\x86\xE3\x82\xB9",  // テス in UTF-8
        "\xF0\x9F\x98\x80",          // an emoji in UTF-8
        "\xB1", "\x81", "\xE3\x81", "\xFF", "\x80",
        "GET /a?q=", "%83e%83X%83g", "%E3%83%86", "%82", "%8", "%", "&", "+", "k=v", " ", "%0D%0A",
        "\r\n", "\r", "\n", "\n", "\n"};
    std::string text;
    while (text.size() < size) text += kUnits[rng() % std::size(kUnits)];
    return text;
}

// The text with two spaces put before every line feed that has a "%" among
// the two characters before it, so that no line ends inside an escape unit.
std::string NoLineEndsInAnEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const std::size_t n = out.size();
        if (c == '\n' && ((n >= 1 && out[n - 1] == '%') || (n >= 2 && out[n - 2] == '%'))) out += "  ";
        out += c;
    }
    return out;
}

// The options, one row each: the forms the row takes ("" leaves it out) and
// the commands that take it. Every combination of the rows a command takes
// is run.
struct OptionRow {
    std::vector<std::string> forms;
    bool encode = true;
    bool decode = true;
};
const std::vector<OptionRow> kOptionRows = {
    {{"", "--amp-crlf"}},
    {{"", "--utf8"}},
    {{"", "--charset=utf-8", "--charset=euc-jp"}},
    {{"", "--escape=component", "--escape=form"}, true, false},
    {{"", "--plus"}, false, true},
    {{"", "--detect"}, false, true},
};

std::vector<std::vector<std::string>> OptionCombinations(bool decode) {
    std::vector<std::vector<std::string>> all{{}};
    for (const OptionRow& row : kOptionRows) {
        if (!(decode ? row.decode : row.encode)) continue;
        std::vector<std::vector<std::string>> next;
        for (const auto& options : all) {
            for (const std::string& form : row.forms) {
                next.push_back(options);
                if (!form.empty()) next.back().push_back(form);
            }
        }
        all = std::move(next);
    }
    return all;
}

std::string Describe(const std::vector<std::string>& args) {
    std::string s;
    for (const std::string& a : args) s += (s.empty() ? "" : " ") + a;
    return s;
}

TEST(CliSplit, PiecesCutAtLineEndsJoinToTheWhole) {
    std::mt19937 rng(64);
    const std::string hostile = HostileText(rng, 200000);
    for (const bool decode : {false, true}) {
        const std::string text = decode ? NoLineEndsInAnEscape(hostile) : hostile;
        const auto combinations = OptionCombinations(decode);
        // A process for every line is many processes: eight combinations
        // at most, on a part of the text.
        const std::size_t step = (combinations.size() + 7) / 8;
        for (std::size_t k = 0; k < combinations.size(); ++k) {
            std::vector<std::string> args{decode ? "decode" : "encode"};
            args.insert(args.end(), combinations[k].begin(), combinations[k].end());
            SCOPED_TRACE(Describe(args));
            for (const bool each : {false, true}) {
                if (each && k % step != 0) continue;
                const std::string input = each ? text.substr(0, 1000) : text;
                const Outcome whole = RunCli(args, input);
                ASSERT_EQ(whole.status, 0) << whole.err;
                std::string joined;
                std::size_t pieces = 0;
                for (const std::string& piece : CutAtLineEnds(input, rng, each)) {
                    const Outcome part = RunCli(args, piece);
                    EXPECT_EQ(part.status, 0);
                    joined += part.out;
                    ++pieces;
                }
                EXPECT_GT(pieces, each ? 40u : 4u);
                EXPECT_TRUE(joined == whole.out) << (each ? "a process per line" : "pieces of many lines");
            }
        }
    }
}

// Every short text over characters that matter at a line end, cut after
// each of its line feeds, through the codec: encode always joins; decode
// joins unless a "%" is one of the two characters before a cut, and the
// examples below show that such cuts can indeed break it.
TEST(CliSplit, EveryShortTextThroughTheCodec) {
    using tessaly::CodePageBridge;
    const auto joins = [](const std::u16string& text, const std::function<std::u16string(const std::u16string&)>& f) {
        std::u16string joined;
        std::size_t from = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n') {
                joined += f(text.substr(from, i + 1 - from));
                from = i + 1;
            }
        }
        return joined + f(text.substr(from)) == f(text);
    };
    const auto forEachText = [](const std::string& alphabet, std::size_t longest, const auto& visit) {
        std::string text;
        const std::function<void()> grow = [&] {
            visit(text);
            if (text.size() == longest) return;
            for (const char c : alphabet) {
                text.push_back(c);
                grow();
                text.pop_back();
            }
        };
        grow();
    };
    std::size_t decodeCuts = 0, broken = 0;
    for (const bool amp : {false, true}) {
        const auto decode = [amp](const std::u16string& t) { return tessaly::Decode(t, amp); };
        forEachText("%4A\nx&", 7, [&](const std::string& ascii) {
            const std::u16string text(ascii.begin(), ascii.end());
            bool escapeAtCut = false;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] != u'\n') continue;
                ++decodeCuts;
                escapeAtCut |= (i >= 1 && text[i - 1] == u'%') || (i >= 2 && text[i - 2] == u'%');
            }
            if (!escapeAtCut) {
                EXPECT_TRUE(joins(text, decode)) << ascii << " option " << amp;
            } else {
                broken += !joins(text, decode);
            }
        });
        const auto encode = [amp](const std::u16string& t) { return tessaly::Encode(t, amp); };
        forEachText("\x81\x83" "e\r\n\xB1&", 7, [&](const std::string& bytes) {
            EXPECT_TRUE(joins(CodePageBridge::ToText(bytes), encode)) << "encode option " << amp;
        });
    }
    EXPECT_GT(decodeCuts, 100000u);
    EXPECT_GT(broken, 0u);
    // The ways a line end inside an escape unit breaks it: an escape and a
    // "%" before the line feed (the whole text decodes the escape, with the
    // next line's first character as its partner's second digit; the piece
    // ends in an unfinished unit, which is copied); with --amp-crlf, "%&"
    // before it (the whole text makes "&" a line break, the piece copies it).
    EXPECT_EQ(tessaly::Decode(u"%41%\nx", false), u"A%\nx");
    EXPECT_EQ(tessaly::Decode(u"%41%\n", false) + tessaly::Decode(u"x", false), u"%41%\nx");
    EXPECT_EQ(tessaly::Decode(u"%&\nx", true), u"%\r\n\nx");
    EXPECT_EQ(tessaly::Decode(u"%&\n", true) + tessaly::Decode(u"x", true), u"%&\nx");
}

TEST(CliSplit, CrLfWhereverAChunkEnds) {
    // Converters work on the text in chunks of a few thousand units: what a
    // CR, CR LF or CR CR LF gives must not depend on where a chunk ends.
    for (const char* charset : {"--charset=shift_jis", "--charset=utf-8", "--charset=euc-jp"}) {
        for (const char* tail : {"\r\nb", "\r\r\nb", "\rb"}) {
            const std::vector<std::string> args{"encode", "--amp-crlf", charset};
            const std::string want = RunCli(args, tail).out;
            for (std::size_t n = 2040; n < 2056; ++n) {
                EXPECT_EQ(RunCli(args, std::string(n, 'a') + tail).out, std::string(n, 'a') + want)
                    << charset << " " << n;
            }
        }
    }
}

TEST(CliSplit, StrictAndTheLossReportArePerPiece) {
    // Without a loss --strict changes nothing, pieces or not.
    const std::string clean = "a\x83\x65\r\nb%\n&c\r\n";
    const std::vector<std::string> strict{"encode", "--strict"};
    EXPECT_EQ(RunCli(strict, "a\x83\x65\r\n").out + RunCli(strict, "b%\n&c\r\n").out, RunCli(strict, clean).out);
    // With a loss on line 2 the whole stops there; the process of a later
    // piece knows nothing of it and converts its own, and the line numbers
    // of the reports count from each piece's start.
    const std::string first = "abc\n", second = "x\x81\n", third = "def\n";
    const Outcome whole = RunCli(strict, first + second + third);
    EXPECT_EQ(whole.status, 1);
    EXPECT_NE(whole.err.find("line 2,"), std::string::npos) << whole.err;
    const Outcome lossy = RunCli(strict, second);
    EXPECT_EQ(lossy.status, 1);
    EXPECT_NE(lossy.err.find("line 1,"), std::string::npos) << lossy.err;
    const std::string joined = RunCli(strict, first).out + lossy.out + RunCli(strict, third).out;
    EXPECT_EQ(joined, whole.out + "def%0A");
    // Without --strict the output still joins; only the report differs.
    const std::vector<std::string> lenient{"encode"};
    EXPECT_EQ(RunCli(lenient, first).out + RunCli(lenient, second).out + RunCli(lenient, third).out,
              RunCli(lenient, first + second + third).out);
}

}  // namespace
