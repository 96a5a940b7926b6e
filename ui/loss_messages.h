// What the window says when saving would change characters of the text, when
// a file just opened will not be written back byte for byte, and when a URL
// conversion gave text the other side will not read as it was meant.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/fidelity.h"
#include "codec/url.h"
#include "documents/text_document.h"

namespace tessaly {

// A character for a message: itself, or its code ("U+00A0") when it would
// not be seen (a control, format or private-use character, a space, a lone
// combining mark, a lone surrogate).
QString ShownCharacter(std::u16string_view character);

// The line, from 1, of the character at index: lines end at CR LF, as in the
// edit box.
std::size_t LineOfIndex(std::u16string_view text, std::size_t index);

// The question asked before a save that would change characters of text.
QString TextLossQuestion(std::u16string_view text, const TextLoss& loss);

// The note shown after opening a file whose bytes will not all come back.
QString ByteLossNote(const FileByteLoss& loss);

// An encoding's name as the Convert menu shows it ("シフトJIS", "UTF-8",
// "EUC-JP").
QString CharsetCaption(Charset charset);

// The note shown after URL Encode wrote lost characters of text in place of
// characters the encoding cannot hold; first is the index in text of the
// first of them.
QString EncodeLossNote(std::u16string_view text, Charset charset, std::uint64_t lost, std::size_t first);

// The note shown after URL Decode in charset left lines that readBy reads.
QString MojibakeNote(std::uint64_t lines, Charset charset, Charset readBy);

}  // namespace tessaly
