// Deterministic texts for the codec benchmarks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::bench {

// Sentences of ASCII words, hiragana, katakana, kanji and Japanese
// punctuation with CR LF line breaks, exactly codePageBytes long in code
// page 932. Every character converts both ways.
std::u16string MixedJapaneseText(std::size_t codePageBytes);

// A named kind of input, as the bytes a command reads.
struct Corpus {
    std::string_view name;
    std::string_view description;
    // The bytes are an encoded text to decode (not a text to encode).
    bool encoded = false;
    // The escapes stand for UTF-8 bytes rather than code page 932 bytes.
    bool utf8 = false;
};

// sample, prose, alternating, halfwidth, log, access-sjis, access-utf8.
const std::vector<Corpus>& Corpora();

// Whole lines of the corpus, at most `bytes` long and within a line of it:
// code page 932 bytes, or for an encoded corpus its ASCII.
std::string CorpusBytes(std::string_view name, std::size_t bytes);

}  // namespace tessaly::bench
