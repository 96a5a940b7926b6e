// Converting a piece at a time gives exactly what converting the whole input
// gives, wherever the reads end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/codec/stream_chain.h"

namespace tessaly::test {
namespace {

// Inputs dense in what the rules hold back: escapes cut anywhere, CR LF and
// "&", lead bytes, UTF-8 sequences and characters outside the plane.
std::string RandomInput(std::mt19937& rng, bool utf8) {
    static const std::vector<std::string> kParts = {
        "%", "%8", "%82", "%82%", "%82%A", "%82%A0", "%41", "%41B", "%0D%0A", "&", "&&", "\r",
        "\r\n", "\n", "a", "Z", " ", "%g", "%4x", "\x82\xA0", "\x83\x65", "\x82", "\x81\x81",
        "\xFF", "\x80", "\xA0", "\xE3\x81\x82", "\xE3\x81", "\xF0\x9F\x98\x80", "\xC3\xA9",
        "\xED\xA0\x80", "\xEF\xBF\xBD", "\xE2\x80\x94", "\t", std::string(1, '\0'),
    };
    std::string input;
    const int parts = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < parts; ++i) {
        if (rng() % 8 == 0) {
            input += static_cast<char>(rng());  // any byte
        } else {
            input += kParts[rng() % kParts.size()];
        }
    }
    if (!utf8 && rng() % 4 == 0) {  // some long inputs, past the codec's chunks
        const std::string unit = input.empty() ? std::string("%82%A0") : input;
        while (input.size() < 9000) input += unit;
    }
    return input;
}

std::vector<std::size_t> RandomCuts(std::mt19937& rng, std::size_t size) {
    std::vector<std::size_t> cuts;
    const int n = size == 0 ? 0 : std::uniform_int_distribution<int>(0, 12)(rng);
    for (int i = 0; i < n; ++i) cuts.push_back(rng() % (size + 1));
    if (rng() % 3 == 0) cuts.push_back(size);  // an empty read at the end
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

TEST(Stream, AnySplitGivesTheWholeResult) {
    std::mt19937 rng(20261209);
    for (int round = 0; round < 20000; ++round) {
        const ChainOptions o{round % 2 == 1, round / 2 % 2 == 1, round / 4 % 2 == 1};
        const std::string input = RandomInput(rng, o.utf8);
        const std::vector<std::size_t> cuts = RandomCuts(rng, input.size());
        ASSERT_EQ(PieceChain(input, cuts, o), WholeChain(input, o))
            << "decode " << o.decode << " amp " << o.ampCrLf << " utf8 " << o.utf8 << " input "
            << testing::PrintToString(input) << " cuts " << testing::PrintToString(cuts);
        if (!o.utf8) {
            ASSERT_EQ(ByteRouteChain(input, cuts, o), WholeChain(input, o))
                << "byte route, decode " << o.decode << " amp " << o.ampCrLf << " input "
                << testing::PrintToString(input) << " cuts " << testing::PrintToString(cuts);
        }
    }
}

TEST(Stream, EveryCutOfShortInputs) {
    // Every single cut and every byte read on its own, both commands, both
    // options, both encodings.
    const std::vector<std::string> inputs = {
        "x%41", "%41B", "%82%A0", "%82%A", "%41%42%43", "%83e%83X%83g", "A&B\r\n\r\r\r\n",
        "\r\x82\xA0\r", "\r\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80\r\n", "%82&", "%41%", "50%",
        "\x82\xA0\x82", "\xE3\x81\x82\xE3", "%E3%81%82\r\n",
    };
    for (const std::string& input : inputs) {
        for (int k = 0; k < 8; ++k) {
            const ChainOptions o{k % 2 == 1, k / 2 % 2 == 1, k / 4 % 2 == 1};
            const std::string whole = WholeChain(input, o);
            std::vector<std::size_t> each;
            for (std::size_t cut = 0; cut <= input.size(); ++cut) {
                EXPECT_EQ(PieceChain(input, {cut}, o), whole) << input << " cut " << cut << " k " << k;
                each.push_back(cut);
            }
            EXPECT_EQ(PieceChain(input, each, o), whole) << input << " k " << k;
            if (!o.utf8) {
                for (std::size_t cut = 0; cut <= input.size(); ++cut) {
                    EXPECT_EQ(ByteRouteChain(input, {cut}, o), whole) << input << " cut " << cut << " k " << k;
                }
                EXPECT_EQ(ByteRouteChain(input, each, o), whole) << input << " k " << k;
            }
        }
    }
}

TEST(Stream, HoldsBackOnlyWhatIsUndecided) {
    // What a piece leaves unconverted is only what still waits for more.
    std::u16string out;
    EXPECT_EQ(EncodeAppend(out, u"ab\r", true, false), 2u);
    EXPECT_EQ(EncodeAppend(out, u"ab\r", false, false), 3u);
    EXPECT_EQ(EncodeAppend(out, u"a\r\xD83D", true, false), 1u);
    EXPECT_EQ(EncodeAppend(out, u"a\xD83D", false, false), 1u);
    EXPECT_EQ(DecodeAppend(out, u"line\n", false, false), 5u);
    EXPECT_EQ(DecodeAppend(out, u"x%41", false, false), 1u);
    EXPECT_EQ(DecodeAppend(out, u"x%41\n", false, false), 5u);
    EXPECT_EQ(DecodeAppend(out, u"x%41%4", false, false), 1u);
    EXPECT_EQ(DecodeAppend(out, u"x%41%42", false, false), 7u);
    EXPECT_EQ(CodePageBridge::AppendText(out, "a\x82", false), 1u);
    EXPECT_EQ(CodePageBridge::AppendText(out, "\x82\x82", false), 2u);  // the second is a trail
    EXPECT_EQ(AppendUtf8AsUtf16(out, "a\xE3\x81", false).consumed, 1u);
    EXPECT_EQ(AppendUtf8AsUtf16(out, "a\xE3\x41", false).consumed, 3u);  // invalid: decided
}

}  // namespace
}  // namespace tessaly::test
