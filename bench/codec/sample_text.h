// A deterministic mixed Japanese/ASCII text for the codec benchmark.
#pragma once

#include <cstddef>
#include <string>

namespace tessaly::bench {

// Sentences of ASCII words, hiragana, katakana, kanji and Japanese
// punctuation with CR LF line breaks, exactly codePageBytes long in code
// page 932. Every character converts both ways.
std::u16string MixedJapaneseText(std::size_t codePageBytes);

}  // namespace tessaly::bench
