// Decode(Encode(text)) gives the text back for texts of printable ASCII
// (without "%", and without "&" when the option is on), double-byte
// characters and CR LF line breaks.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/codepage.h"
#include "codec/percent.h"

namespace tessaly {
namespace {

// Every character whose double-byte code converts back to that same code.
std::vector<char16_t> DoubleByteCharacters() {
    std::vector<char16_t> chars;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string text = CodePageBridge::ToText(pair);
            if (text.size() == 1 && CodePageBridge::ToBytes(text) == pair) chars.push_back(text[0]);
        }
    }
    return chars;
}

bool IsPrintableAscii(const std::u16string& text) {
    for (const char16_t c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

std::u16string RandomText(std::mt19937& random, const std::vector<char16_t>& doubleByte,
                          bool option) {
    std::u16string text;
    const std::uint32_t length = random() % 200;
    while (text.size() < length) {
        const std::uint32_t kind = random() % 10;
        if (kind < 4) {
            const auto c = static_cast<char16_t>(0x20 + random() % 95);
            if (c != u'%' && !(option && c == u'&')) text += c;
        } else if (kind < 9) {
            text += doubleByte[random() % doubleByte.size()];
        } else {
            text += u"\r\n";
        }
    }
    return text;
}

TEST(RoundTrip, GeneratedTexts) {
    const std::vector<char16_t> doubleByte = DoubleByteCharacters();
    ASSERT_GT(doubleByte.size(), 7000u);
    std::mt19937 random(20240601);
    for (int i = 0; i < 2000; ++i) {
        const bool option = i % 2 == 1;
        const std::u16string text = RandomText(random, doubleByte, option);
        const std::u16string encoded = Encode(text, option);
        ASSERT_TRUE(IsPrintableAscii(encoded)) << "text " << i;
        ASSERT_EQ(Decode(encoded, option), text) << "text " << i << ", option " << option;
    }
}

TEST(RoundTrip, EveryDoubleByteCharacter) {
    const std::vector<char16_t> doubleByte = DoubleByteCharacters();
    const std::u16string text(doubleByte.begin(), doubleByte.end());
    for (const bool option : {false, true}) {
        EXPECT_EQ(Decode(Encode(text, option), option), text);
    }
}

}  // namespace
}  // namespace tessaly
