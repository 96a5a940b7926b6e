// Line-by-line choice of encoding. Each reading is priced as Japanese text:
// every character costs roughly the bits a Japanese query spends on it
// (hiragana little, a rare kanji more, a combining mark or a C1 control a
// lot). The same bytes read as the wrong encoding turn into characters that
// cost more, or into more characters: UTF-8 read as Shift-JIS gives half as
// many characters again, EUC-JP read as Shift-JIS gives runs of half-width
// katakana, EUC-JP read as UTF-8 gives Latin letters and combining marks.
#include "codec/detect.h"

#include <cstdint>

#include "codec/eucjp.h"

namespace tessaly {
namespace {

using Cost = std::uint8_t;

// The cost of each class of character, in about quarter bits.
namespace cost {
constexpr Cost kAscii = 8;
constexpr Cost kControl = 120;
constexpr Cost kHiragana = 24;
constexpr Cost kKatakana = 28;
constexpr Cost kCommonPunctuation = 32;  // 、。・ brackets, the ideographic space
constexpr Cost kFullWidthAscii = 40;
constexpr Cost kKanji1 = 36;  // JIS level 1
constexpr Cost kKanji2 = 52;  // JIS level 2
constexpr Cost kJisSymbol = 56;  // the rest of JIS X 0208's rows 1 and 2
constexpr Cost kJisGreekCyrillic = 64;
constexpr Cost kJisRare = 72;  // box drawing, the NEC and IBM rows
constexpr Cost kHalfWidthKatakana = 48;
constexpr Cost kOtherKanji = 100;  // ideographs outside JIS X 0208
constexpr Cost kLatin1 = 72;
constexpr Cost kLatin1InWord = 20;  // a Latin-1 letter beside an ASCII letter: café, München
constexpr Cost kOtherLetter = 88;  // other scripts, Latin beyond Latin-1
constexpr Cost kCombining = 120;
constexpr Cost kPrivateUse = 160;
constexpr Cost kSupplementary = 100;  // per surrogate pair
constexpr Cost kReplacement = 160;
constexpr Cost kOther = 96;
}  // namespace cost

Cost JisCost(unsigned row, char16_t c) {
    if (row >= 16 && row <= 47) return cost::kKanji1;
    if (row >= 48 && row <= 84) return cost::kKanji2;
    if (row == 4) return cost::kHiragana;
    if (row == 5 || c == 0x30FC) return cost::kKatakana;  // ー is in row 1
    if (c == 0x3005) return cost::kKanji1;                // 々 too
    if (row == 3) return cost::kFullWidthAscii;
    if (row == 6 || row == 7) return cost::kJisGreekCyrillic;
    if ((c >= 0x3000 && c <= 0x3002) || c == 0x30FB || c == 0xFF0C || c == 0xFF0E || c == 0xFF08 || c == 0xFF09 ||
        (c >= 0x300C && c <= 0x3011)) {
        return cost::kCommonPunctuation;
    }
    if (row <= 2) return cost::kJisSymbol;
    return cost::kJisRare;
}

Cost CharacterCost(char16_t c) {
    if (c >= 0x20 && c < 0x7F) return cost::kAscii;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return cost::kControl;
    if (c == 0xFFFD) return cost::kReplacement;
    if (const unsigned row = eucjp::Jis0208Row(c)) return JisCost(row, c);
    if (c >= 0xFF61 && c <= 0xFF9F) return cost::kHalfWidthKatakana;
    if (c < 0x100) return cost::kLatin1;
    if (c >= 0x300 && c < 0x370) return cost::kCombining;
    if ((c >= 0x3400 && c < 0xA000) || (c >= 0xF900 && c < 0xFB00)) return cost::kOtherKanji;
    if (c >= 0xE000 && c < 0xF900) return cost::kPrivateUse;
    if (c >= 0xD800 && c < 0xDC00) return cost::kSupplementary;
    if (c >= 0xDC00 && c < 0xE000) return 0;  // priced with its high half
    if (c < 0x2000 || (c >= 0xAC00 && c < 0xD800)) return cost::kOtherLetter;
    return cost::kOther;
}

// Built on first use: a run that never chooses an encoding does not pay
// for it at start-up.
struct CostTable {
    Cost of[0x10000];
    CostTable() {
        for (unsigned c = 0; c < 0x10000; ++c) of[c] = CharacterCost(static_cast<char16_t>(c));
    }
    static const CostTable& Get() {
        static const CostTable table;
        return table;
    }
};

constexpr bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
constexpr bool IsLatin1Letter(char16_t c) { return c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7; }

std::uint64_t Price(std::u16string_view text) {
    const CostTable& costs = CostTable::Get();
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        // In a word of a European language (which URLs hold in UTF-8), where
        // EUC-JP reads a kanji.
        const bool inWord = IsLatin1Letter(c) && ((i > 0 && IsAsciiLetter(text[i - 1])) ||
                                                  (i + 1 < text.size() && IsAsciiLetter(text[i + 1])));
        sum += inWord ? cost::kLatin1InWord : costs.of[c];
    }
    return sum;
}

}  // namespace

Charset ChooseCharset(const std::array<LineReading, kCharsetCount>& readings, Charset preferred) {
    // Candidates in the order that settles a tie the preferred one is not in.
    constexpr Charset kOrder[] = {Charset::kUtf8, Charset::kShiftJis, Charset::kEucJp};
    Charset best = preferred;
    std::uint64_t bestInvalid = readings[static_cast<std::size_t>(preferred)].invalid;
    std::uint64_t bestPrice = Price(readings[static_cast<std::size_t>(preferred)].text);
    for (const Charset charset : kOrder) {
        if (charset == preferred) continue;
        const LineReading& reading = readings[static_cast<std::size_t>(charset)];
        if (reading.invalid > bestInvalid) continue;
        const std::uint64_t price = Price(reading.text);
        if (reading.invalid < bestInvalid || price < bestPrice) {
            best = charset;
            bestInvalid = reading.invalid;
            bestPrice = price;
        }
    }
    return best;
}

}  // namespace tessaly
