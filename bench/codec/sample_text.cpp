#include "bench/codec/sample_text.h"

#include <cstdint>
#include <vector>

namespace tessaly::bench {
namespace {

// xorshift64*: fixed output on every platform.
class Random {
public:
    std::uint32_t Below(std::uint32_t n) {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return static_cast<std::uint32_t>((state_ * 0x2545F4914F6CDD1DULL) >> 32) % n;
    }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

std::u16string Range(char16_t first, char16_t last) {
    std::u16string chars;
    for (char16_t c = first; c <= last; ++c) chars += c;
    return chars;
}

}  // namespace

std::u16string MixedJapaneseText(std::size_t codePageBytes) {
    const std::u16string hiragana = Range(u'ぁ', u'ん');
    const std::u16string katakana = Range(u'ァ', u'ヶ');
    // Common kanji of the first JIS level (all convert both ways).
    const std::u16string kanji =
        u"日本語文字列変換符号化復号処理速度試験確認入力出力記号漢字片仮名平仮名"
        u"東京大阪名古屋市町村会社員学生先生時間分秒年月週曜火水木金土今明昨朝昼夜"
        u"電話番号住所氏名送信受信画面表示設定保存読込開閉終了開始検索置換編集";
    const std::u16string punctuation = u"、。「」・ー！？（）";
    Random random;
    std::u16string text;
    text.reserve(codePageBytes);
    std::size_t bytes = 0;
    auto put = [&](char16_t c, std::size_t size) {
        if (bytes + size > codePageBytes) return false;
        text += c;
        bytes += size;
        return true;
    };
    std::size_t lineLength = 0;
    for (;;) {
        const std::uint32_t kind = random.Below(100);
        bool ok = true;
        if (kind < 40) {  // an ASCII word and a space
            const std::uint32_t length = 2 + random.Below(7);
            for (std::uint32_t i = 0; ok && i < length; ++i) ok = put(static_cast<char16_t>(u'a' + random.Below(26)), 1);
            if (ok) ok = put(u' ', 1);
        } else if (kind < 90) {
            const std::u16string& pool = kind < 65 ? hiragana : kind < 80 ? kanji : katakana;
            const std::uint32_t length = 1 + random.Below(5);
            for (std::uint32_t i = 0; ok && i < length; ++i) {
                ok = put(pool[random.Below(static_cast<std::uint32_t>(pool.size()))], 2);
            }
        } else {
            ok = put(punctuation[random.Below(static_cast<std::uint32_t>(punctuation.size()))], 2);
        }
        lineLength += 6;
        if (ok && lineLength > 70) {
            ok = put(u'\r', 1) && put(u'\n', 1);
            lineLength = 0;
        }
        if (!ok) break;
    }
    while (bytes < codePageBytes) put(u'.', 1);  // fill the last few bytes
    return text;
}

}  // namespace tessaly::bench
