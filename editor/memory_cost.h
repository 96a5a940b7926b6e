// What holding a text in the editor costs, and what the window's commands
// need at their peak: the one place that knows these numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace tessaly {

// Bytes the editor needs to hold a text of the given length and line count
// (the buffer with its gap, the line index, the rows of the laid-out lines).
std::uint64_t EditorMemoryFor(std::uint64_t units, std::uint64_t lines);

// Peak bytes for URL Encode / URL Decode of a text of the given length, above
// what the editor holds already: the result, the editor's copy of it and the
// undo step that keeps the old text.
std::uint64_t EncodeMemoryFor(std::uint64_t units);
// The same for an encoding that makes at most bytesPerUnit bytes of a unit
// of text, written as at most resultPerUnit units (the one-argument form:
// two and six, code page 932 with every byte escaped).
std::uint64_t EncodeMemoryFor(std::uint64_t units, std::uint64_t bytesPerUnit, std::uint64_t resultPerUnit);
std::uint64_t DecodeMemoryFor(std::uint64_t units);
// The same when the result's line count is known to be at most resultLines
// (the one-argument form assumes every unit could end a line).
std::uint64_t DecodeMemoryFor(std::uint64_t units, std::uint64_t resultLines);
// Peak bytes for decoding one line of the text again on its own, as the look
// for lines another encoding reads does after a decode.
std::uint64_t LineDecodeMemoryFor(std::uint64_t lineUnits);

}  // namespace tessaly
