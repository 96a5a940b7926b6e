// EUC-JP against a plain reading of the Encoding Standard's decoder and
// encoder steps, on maps built from the index files themselves.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "codec/eucjp.h"

namespace tessaly {
namespace {

struct Indexes {
    std::map<unsigned, char16_t> jis0208, jis0212;
    std::map<char16_t, unsigned> firstPointer;  // jis0208's lowest pointer of each character
};

std::map<unsigned, char16_t> ReadIndex(const std::string& name) {
    std::ifstream file(std::string(TESSALY_INDEX_DIR) + "/" + name);
    std::map<unsigned, char16_t> index;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        unsigned pointer = 0, c = 0;
        fields >> pointer >> std::hex >> c;
        index[pointer] = static_cast<char16_t>(c);
    }
    return index;
}

const Indexes& TheIndexes() {
    static const Indexes indexes = [] {
        Indexes i{ReadIndex("index-jis0208.txt"), ReadIndex("index-jis0212.txt"), {}};
        for (const auto& [pointer, c] : i.jis0208) i.firstPointer.emplace(c, pointer);
        return i;
    }();
    return indexes;
}

struct RefResult {
    std::u16string text;
    std::uint64_t invalid = 0;
    std::size_t firstInvalid = eucjp::Read::npos;
};

bool In(unsigned b, unsigned low, unsigned high) { return b >= low && b <= high; }

// The decoder's handler, step by step, on a queue that bytes can be
// restored to. Errors are placed at the byte that started their sequence.
RefResult ReferenceDecode(const std::string& bytes) {
    constexpr int kEnd = -1;
    const Indexes& ix = TheIndexes();
    std::deque<std::pair<int, std::size_t>> queue;
    for (std::size_t i = 0; i < bytes.size(); ++i) queue.emplace_back(static_cast<unsigned char>(bytes[i]), i);
    queue.emplace_back(kEnd, bytes.size());
    RefResult r;
    bool jis0212 = false;
    unsigned lead = 0;
    std::size_t start = 0;
    auto error = [&] {
        r.text += u'\uFFFD';
        if (r.invalid++ == 0) r.firstInvalid = start;
    };
    for (;;) {
        const auto [byte, offset] = queue.front();
        queue.pop_front();
        if (byte == kEnd) {
            if (lead != 0) error();
            return r;
        }
        const unsigned b = static_cast<unsigned>(byte);
        if (lead == 0x8E && In(b, 0xA1, 0xDF)) {
            lead = 0;
            r.text += static_cast<char16_t>(0xFF61 - 0xA1 + b);
        } else if (lead == 0x8F && In(b, 0xA1, 0xFE)) {
            jis0212 = true;
            lead = b;
        } else if (lead != 0) {
            const unsigned l = lead;
            lead = 0;
            char16_t c = 0;
            if (In(l, 0xA1, 0xFE) && In(b, 0xA1, 0xFE)) {
                const auto& index = jis0212 ? ix.jis0212 : ix.jis0208;
                const auto found = index.find((l - 0xA1) * 94 + b - 0xA1);
                if (found != index.end()) c = found->second;
            }
            jis0212 = false;
            if (c != 0) {
                r.text += c;
            } else {
                if (b < 0x80) queue.emplace_front(byte, offset);
                error();
            }
        } else if (b < 0x80) {
            r.text += static_cast<char16_t>(b);
        } else if (b == 0x8E || b == 0x8F || In(b, 0xA1, 0xFE)) {
            lead = b;
            start = offset;
        } else {
            start = offset;
            error();
        }
    }
}

struct RefBytes {
    std::string bytes;
    std::uint64_t lost = 0;
    std::size_t firstLost = eucjp::Write::npos;
};

RefBytes ReferenceEncode(const std::u16string& text) {
    const Indexes& ix = TheIndexes();
    RefBytes r;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        const std::size_t at = i;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            r.bytes += static_cast<char>(c);
            continue;
        }
        if (c == 0xA5 || c == 0x203E) {
            r.bytes += c == 0xA5 ? '\x5C' : '\x7E';
            continue;
        }
        if (c >= 0xFF61 && c <= 0xFF9F) {
            r.bytes += '\x8E';
            r.bytes += static_cast<char>(c - 0xFF61 + 0xA1);
            continue;
        }
        const char32_t lookedUp = c == 0x2212 ? 0xFF0D : c;
        const auto found = lookedUp < 0x10000 ? ix.firstPointer.find(static_cast<char16_t>(lookedUp))
                                              : ix.firstPointer.end();
        if (found == ix.firstPointer.end()) {
            r.bytes += "&#" + std::to_string(c) + ";";
            if (r.lost++ == 0) r.firstLost = at;
            continue;
        }
        r.bytes += static_cast<char>(found->second / 94 + 0xA1);
        r.bytes += static_cast<char>(found->second % 94 + 0xA1);
    }
    return r;
}

void ExpectDecodesAsReference(const std::string& bytes) {
    std::u16string text = u"x";
    const eucjp::Read read = eucjp::AppendText(text, bytes);
    const RefResult ref = ReferenceDecode(bytes);
    ASSERT_EQ(text, u"x" + ref.text) << testing::PrintToString(bytes);
    ASSERT_EQ(read.invalid, ref.invalid) << testing::PrintToString(bytes);
    ASSERT_EQ(read.firstInvalid, ref.firstInvalid) << testing::PrintToString(bytes);
    ASSERT_EQ(read.consumed, bytes.size());
}

void ExpectEncodesAsReference(const std::u16string& text) {
    std::string bytes = "x";
    const eucjp::Write write = eucjp::AppendBytes(bytes, text);
    const RefBytes ref = ReferenceEncode(text);
    ASSERT_EQ(bytes, "x" + ref.bytes) << testing::PrintToString(text);
    ASSERT_EQ(write.lost, ref.lost);
    ASSERT_EQ(write.firstLost, ref.firstLost);
    ASSERT_EQ(write.consumed, text.size());
}

// Bytes drawn mostly from the values the decoder treats differently.
std::string RandomBytes(std::mt19937& rng, std::size_t size) {
    static constexpr unsigned char kBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8D, 0x8E, 0x8F, 0x90, 0xA0,
                                               0xA1, 0xA4, 0xB0, 0xDF, 0xE0, 0xF4, 0xFE, 0xFF};
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(rng() % 2 ? kBytes[rng() % sizeof kBytes] : rng() % 256);
    }
    return bytes;
}

std::u16string RandomText(std::mt19937& rng, std::size_t size) {
    static constexpr char16_t kUnits[] = {u'a', 0x7F, 0xA5, 0x203E, 0x2212, 0xFF0D, 0xFF61, 0xFF9F, 0xFFA0,
                                          0x3042, 0x4E9C, 0x2170, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFD};
    std::u16string text(size, u'\0');
    for (char16_t& c : text) {
        c = static_cast<char16_t>(rng() % 2 ? kUnits[rng() % std::size(kUnits)] : rng() % 0x10000);
    }
    return text;
}

TEST(EucJp, DecodesEveryByteEveryPairAndEveryThreeByteFormAsTheStandard) {
    for (unsigned a = 0; a < 256; ++a) {
        ExpectDecodesAsReference(std::string(1, static_cast<char>(a)));
        for (unsigned b = 0; b < 256; ++b) {
            const std::string pair{static_cast<char>(a), static_cast<char>(b)};
            ExpectDecodesAsReference(pair);
            ExpectDecodesAsReference("\x8F" + pair);
        }
    }
}

TEST(EucJp, DecodesRandomBytesAsTheStandardAndPiecesGiveTheWhole) {
    std::mt19937 rng(14);
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes = RandomBytes(rng, rng() % 40);
        ExpectDecodesAsReference(bytes);
        std::u16string whole, pieces;
        const eucjp::Read all = eucjp::AppendText(whole, bytes);
        std::string pending;
        std::uint64_t invalid = 0;
        for (std::size_t from = 0;;) {
            const std::size_t to = std::min(bytes.size(), from + rng() % 5);
            pending.append(bytes, from, to - from);
            from = to;
            const eucjp::Read read = eucjp::AppendText(pieces, pending, to == bytes.size());
            invalid += read.invalid;
            pending.erase(0, read.consumed);
            if (to == bytes.size()) break;
        }
        ASSERT_EQ(pieces, whole) << testing::PrintToString(bytes);
        ASSERT_EQ(invalid, all.invalid);
        ASSERT_TRUE(pending.empty());
    }
}

TEST(EucJp, EncodesEveryUnitAndRandomTextAsTheStandardAndPiecesGiveTheWhole) {
    for (unsigned c = 0; c < 0x10000; ++c) ExpectEncodesAsReference(std::u16string(1, static_cast<char16_t>(c)));
    std::mt19937 rng(932);
    for (int round = 0; round < 3000; ++round) {
        const std::u16string text = RandomText(rng, rng() % 40);
        ExpectEncodesAsReference(text);
        std::string whole, pieces;
        eucjp::AppendBytes(whole, text);
        std::u16string pending;
        for (std::size_t from = 0;;) {
            const std::size_t to = std::min(text.size(), from + rng() % 5);
            pending.append(text, from, to - from);
            from = to;
            pending.erase(0, eucjp::AppendBytes(pieces, pending, to == text.size()).consumed);
            if (to == text.size()) break;
        }
        ASSERT_EQ(pieces, whole);
    }
    // Longer than a chunk of the encoder, with a pair across every chunk boundary.
    std::u16string text = u"a";
    for (int i = 0; i < 5000; ++i) text += i % 2 ? std::u16string(u"\U0001F600") : std::u16string{0xD800, 0x3042};
    ExpectEncodesAsReference(text);
}

}  // namespace
}  // namespace tessaly
