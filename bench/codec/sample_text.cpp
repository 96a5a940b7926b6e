#include "bench/codec/sample_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codec/codepage.h"
#include "codec/utf8.h"

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

namespace {

template <class List>
const auto& Pick(Random& random, const List& list) {
    return list[random.Below(static_cast<std::uint32_t>(std::size(list)))];
}

// Whole lines from line() while they fit in `bytes` (as code page 932).
template <class Line>
std::string Lines(std::size_t bytes, Line line) {
    std::string out;
    out.reserve(bytes);
    for (;;) {
        const std::string next = line();
        if (out.size() + next.size() > bytes) break;
        out += next;
    }
    return out;
}

std::string Sjis(std::u16string_view text) { return CodePageBridge::ToBytes(text); }

// Japanese sentences: kanji and katakana words joined by particles,
// commas and full stops, now and then a quotation, a number or an ASCII
// word; a few sentences a line, CR LF.
std::string Prose(std::size_t bytes) {
    static constexpr std::u16string_view kNouns[] = {
        u"日本", u"東京", u"会議", u"資料", u"説明", u"問題", u"解決", u"方法", u"必要", u"時間",
        u"今日", u"明日", u"電車", u"駅", u"天気", u"気持ち", u"仕事", u"会社", u"研究", u"結果",
        u"言葉", u"文字", u"変換", u"情報", u"社会", u"経済", u"学校", u"先生", u"友達", u"家族",
        u"料理", u"旅行", u"表現", u"能力", u"予定", u"場合", u"意見", u"部分", u"世界", u"最初"};
    static constexpr std::u16string_view kKatakana[] = {
        u"コンピュータ", u"データ", u"ファイル", u"システム", u"メール", u"サーバー", u"テスト",
        u"ソフトウェア", u"ネットワーク", u"プログラム", u"ページ", u"ソース"};
    static constexpr std::u16string_view kParticles[] = {u"は", u"が", u"を", u"に", u"で", u"と",
                                                         u"の", u"も", u"から", u"まで", u"へ", u"より"};
    static constexpr std::u16string_view kEndings[] = {
        u"します。", u"しました。", u"です。", u"でした。", u"がある。", u"になる。", u"と思う。",
        u"られる。", u"している。", u"ではない。", u"でしょうか？", u"だった！"};
    static constexpr std::u16string_view kAscii[] = {u"PDF", u"Web", u"OK", u"ID", u"2026年", u"3つ",
                                                     u"10分", u"API", u"URL", u"100円"};
    Random random;
    return Lines(bytes, [&] {
        std::u16string line;
        for (std::uint32_t s = 1 + random.Below(4); s > 0; --s) {
            for (std::uint32_t w = 2 + random.Below(5); w > 0; --w) {
                const std::uint32_t kind = random.Below(20);
                if (kind < 12) {
                    line += Pick(random, kNouns);
                } else if (kind < 16) {
                    line += Pick(random, kKatakana);
                } else if (kind < 18) {
                    line += Pick(random, kAscii);
                } else {
                    line += u"「";
                    line += Pick(random, kNouns);
                    line += u"」";
                }
                line += Pick(random, kParticles);
                if (random.Below(5) == 0) line += u"、";
            }
            line += Pick(random, kEndings);
        }
        return Sjis(line + u"\r\n");
    });
}

// One line mixing every kind of character, over and over.
std::string Alternating(std::size_t bytes) {
    const std::string line = Sjis(u"漢字テストあいうえおABC def 123 ｱｲｳ,.!?\r\n");
    return Lines(bytes, [&] { return line; });
}

// Words of half-width katakana (voiced marks included) between spaces and
// half-width punctuation, CR LF lines.
std::string HalfWidth(std::size_t bytes) {
    Random random;
    return Lines(bytes, [&] {
        std::u16string line;
        for (std::uint32_t w = 3 + random.Below(8); w > 0; --w) {
            for (std::uint32_t c = 2 + random.Below(6); c > 0; --c) {
                line += static_cast<char16_t>(0xFF66 + random.Below(0xFF9F - 0xFF66 + 1));
            }
            line += random.Below(6) == 0 ? u"､" : u" ";
        }
        line += u"｡\r\n";
        return Sjis(line);
    });
}

constexpr std::u16string_view kNames[] = {u"山田", u"佐藤", u"鈴木", u"高橋", u"田中",
                                          u"伊藤", u"渡辺", u"中村", u"小林", u"加藤"};

// An application log: ASCII lines, one in eight with a Japanese name or
// message; LF lines.
std::string Log(std::size_t bytes) {
    static constexpr const char* kLevels[] = {"INFO ", "INFO ", "INFO ", "DEBUG", "WARN ", "ERROR"};
    static constexpr const char* kPaths[] = {"/api/v1/items", "/api/v1/users", "/login", "/static/app.js",
                                             "/api/v1/orders", "/healthz"};
    static constexpr const char* kUsers[] = {"alice", "bob", "carol", "dave", "erin", "frank"};
    static constexpr std::u16string_view kMessages[] = {u"保存しました", u"接続がタイムアウトしました",
                                                        u"ファイルを開けません", u"処理を開始します"};
    Random random;
    unsigned second = 0;
    return Lines(bytes, [&] {
        char head[200];
        ++second;
        std::snprintf(head, sizeof head,
                      "2026-12-09T%02u:%02u:%02u.%03uZ %s [worker-%u] GET %s/%u status=%u bytes=%u took=%ums user=",
                      second / 3600 % 24, second / 60 % 60, second % 60, random.Below(1000),
                      Pick(random, kLevels), random.Below(8), Pick(random, kPaths), random.Below(100000),
                      random.Below(8) == 0 ? 404u : 200u, random.Below(60000), random.Below(900));
        std::string line = head;
        if (random.Below(8) == 0) {
            line += Sjis(Pick(random, kNames));
            line += " msg=";
            line += Sjis(Pick(random, kMessages));
        } else {
            line += Pick(random, kUsers);
        }
        return line + "\n";
    });
}

// A web server's access log whose search words are escaped as a browser
// escapes them (every byte but ASCII letters and digits), through code
// page 932 or UTF-8.
std::string AccessLog(std::size_t bytes, bool utf8) {
    static constexpr std::u16string_view kWords[] = {
        u"東京", u"天気", u"ラーメン", u"新宿駅", u"時刻表", u"ソフト", u"表示", u"予約", u"京都 旅行",
        u"ﾃｽﾄ", u"プログラム", u"日本語", u"地図", u"ホテル", u"能力"};
    static constexpr const char* kAgents[] = {
        "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0",
        "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0 Safari/537.36",
        "curl/7.88.1"};
    const auto escape = [utf8](std::u16string_view word) {
        const std::string raw = utf8 ? Utf16ToUtf8(word) : Sjis(word);
        std::string out;
        for (const char c : raw) {
            const auto b = static_cast<unsigned char>(c);
            if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
                out += c;
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", b);
                out += hex;
            }
        }
        return out;
    };
    Random random;
    unsigned second = 0;
    return Lines(bytes, [&] {
        char head[120];
        ++second;
        std::snprintf(head, sizeof head, "192.168.%u.%u - - [09/Dec/2026:%02u:%02u:%02u +0900] \"GET ",
                      random.Below(256), random.Below(256), second / 3600 % 24, second / 60 % 60, second % 60);
        std::string line = head;
        if (random.Below(4) == 0) {
            line += "/static/style.css";
        } else {
            line += "/search?q=";
            for (std::uint32_t w = 1 + random.Below(3); w > 0; --w) {
                line += escape(Pick(random, kWords));
                if (w > 1) line += "+";
            }
            line += "&page=" + std::to_string(1 + random.Below(9));
        }
        char tail[80];
        std::snprintf(tail, sizeof tail, " HTTP/1.1\" 200 %u \"-\" \"", random.Below(60000));
        return line + tail + Pick(random, kAgents) + "\"\n";
    });
}

}  // namespace

const std::vector<Corpus>& Corpora() {
    static const std::vector<Corpus> corpora = {
        {"sample", "the codec benchmark's mixed text"},
        {"prose", "Japanese sentences, CR LF lines"},
        {"alternating", "one line of kanji, kana, ASCII and half-width kana, repeated"},
        {"halfwidth", "half-width katakana words"},
        {"log", "an application log, mostly ASCII"},
        {"access-sjis", "an access log, code page 932 escapes", true},
        {"access-utf8", "an access log, UTF-8 escapes", true, true},
    };
    return corpora;
}

std::string CorpusBytes(std::string_view name, std::size_t bytes) {
    if (name == "sample") return Sjis(MixedJapaneseText(bytes));
    if (name == "prose") return Prose(bytes);
    if (name == "alternating") return Alternating(bytes);
    if (name == "halfwidth") return HalfWidth(bytes);
    if (name == "log") return Log(bytes);
    if (name == "access-sjis") return AccessLog(bytes, false);
    if (name == "access-utf8") return AccessLog(bytes, true);
    std::fprintf(stderr, "no corpus named %.*s\n", static_cast<int>(name.size()), name.data());
    std::abort();
}

}  // namespace tessaly::bench
