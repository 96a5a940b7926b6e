// Checks the generated code page tables against glibc's iconv "CP932", an
// independent implementation of the same code page, and lists every place
// where the two are meant to differ.
#include <gtest/gtest.h>
#include <iconv.h>

#include <map>
#include <set>
#include <string>

#include "codec/codepage.h"

namespace tessaly {
namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input or fails (invalid or incomplete input).
    bool Convert(const void* in, std::size_t size, std::string& out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[16];
        char* inPtr = static_cast<char*>(const_cast<void*>(in));
        char* outPtr = buffer;
        std::size_t inLeft = size;
        std::size_t outLeft = sizeof buffer;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return false;
        out.assign(buffer, static_cast<std::size_t>(outPtr - buffer));
        return true;
    }

private:
    iconv_t cd_;
};

std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return text;
}

bool IsLeadByte(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrailByte(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

TEST(Cp932VersusIconv, SingleBytes) {
    Iconv toText("UTF-16LE", "CP932");
    ASSERT_TRUE(toText.ok());
    // Single bytes that iconv lacks, with the characters the code page gives them.
    const std::map<unsigned, std::u16string> onlyOurs = {
        {0x80, u"\u0080"}, {0xA0, u"\uF8F0"}, {0xFD, u"\uF8F1"}, {0xFE, u"\uF8F2"}, {0xFF, u"\uF8F3"}};
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        std::string utf16;
        const bool known = toText.Convert(byte.data(), 1, utf16);
        const std::u16string ours = CodePageBridge::ToText(byte);
        SCOPED_TRACE(b);
        if (IsLeadByte(b)) {
            EXPECT_FALSE(known);  // incomplete
            EXPECT_EQ(ours, u"\u30FB");
        } else if (onlyOurs.count(b)) {
            EXPECT_FALSE(known);
            EXPECT_EQ(ours, onlyOurs.at(b));
        } else {
            ASSERT_TRUE(known);
            EXPECT_EQ(ours, FromUtf16Le(utf16));
        }
    }
}

TEST(Cp932VersusIconv, BytePairs) {
    Iconv toText("UTF-16LE", "CP932");
    ASSERT_TRUE(toText.ok());
    int decoded = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsLeadByte(lead)) continue;
        for (unsigned trail = 0; trail < 256; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string ours = CodePageBridge::ToText(pair);
            SCOPED_TRACE(testing::Message() << std::hex << lead << ' ' << trail);
            std::string utf16;
            if (!IsTrailByte(trail)) {
                // The lead byte stands alone; the other byte is converted by itself.
                std::u16string expected(1, u'\u30FB');
                expected += CodePageBridge::ToText(pair.substr(1));
                EXPECT_EQ(ours, expected);
            } else if (toText.Convert(pair.data(), 2, utf16)) {
                EXPECT_EQ(ours, FromUtf16Le(utf16));
                ++decoded;
            } else {
                EXPECT_EQ(ours, u"\u30FB");  // a pair without a character: the default
            }
        }
    }
    EXPECT_GT(decoded, 7000);  // JIS X 0208 alone has 6879 characters
}

// Characters that the code page converts one way only (best fit) and iconv
// does not convert at all.
std::set<char16_t> OneWayBestFit() {
    std::set<char16_t> chars = {0xA1, 0xA6, 0xA9, 0xAA, 0xAB, 0xAD, 0xAE, 0xAF, 0xB2,
                                0xB3, 0xB5, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0x3094};
    for (char16_t c = 0xC0; c <= 0xFF; ++c) {
        if (c != 0xD7 && c != 0xF7) chars.insert(c);  // × and ÷ have codes of their own
    }
    return chars;
}

TEST(Cp932VersusIconv, TextToBytes) {
    Iconv toBytes("CP932", "UTF-16LE");
    ASSERT_TRUE(toBytes.ok());
    const std::set<char16_t> oneWay = OneWayBestFit();
    // Single-byte codes iconv lacks (see SingleBytes); they convert both ways.
    const std::set<char16_t> extraSingles = {0x0080, 0xF8F0, 0xF8F1, 0xF8F2, 0xF8F3};
    for (unsigned c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const auto unit = static_cast<char16_t>(c);
        const std::string utf16{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        std::string theirs;
        const bool known = toBytes.Convert(utf16.data(), 2, theirs);
        const std::string ours = CodePageBridge::ToBytes(std::u16string(1, unit));
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << c);
        if (oneWay.count(unit)) {
            EXPECT_FALSE(known);
            EXPECT_NE(ours, "?");
            EXPECT_NE(CodePageBridge::ToText(ours), std::u16string(1, unit));
        } else if (extraSingles.count(unit)) {
            EXPECT_FALSE(known);
            EXPECT_EQ(ours.size(), 1u);
            EXPECT_EQ(CodePageBridge::ToText(ours), std::u16string(1, unit));
        } else if (c == 0x203E) {
            // OVERLINE: iconv writes "~"; the code page has no entry for it.
            EXPECT_EQ(theirs, "~");
            EXPECT_EQ(ours, "?");
        } else if (known) {
            EXPECT_EQ(ours, theirs);
        } else {
            EXPECT_EQ(ours, "?");
        }
    }
}

TEST(Cp932VersusIconv, LookAlikesTakeTheBytesOfTheirTwins) {
    Iconv toBytes("CP932", "UTF-16LE");
    ASSERT_TRUE(toBytes.ok());
    const std::pair<char16_t, char16_t> twins[] = {
        {0x2014, 0x2015}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x301C, 0xFF5E}};
    for (const auto& [lookAlike, twin] : twins) {
        const std::string utf16{static_cast<char>(twin & 0xFF), static_cast<char>(twin >> 8)};
        std::string twinBytes;
        ASSERT_TRUE(toBytes.Convert(utf16.data(), 2, twinBytes));
        EXPECT_EQ(CodePageBridge::ToBytes(std::u16string(1, lookAlike)), twinBytes);
        EXPECT_EQ(CodePageBridge::ToText(twinBytes), std::u16string(1, twin));
    }
}

}  // namespace
}  // namespace tessaly
