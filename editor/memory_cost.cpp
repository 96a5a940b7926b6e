#include "editor/memory_cost.h"

namespace tessaly {

namespace {

constexpr std::uint64_t kUnit = 2;         // bytes of a UTF-16 unit
constexpr std::uint64_t kFixed = 1 << 20;  // the advance tables and the like
// The rows of the laid-out lines: a 64-bit start a row, rows of 16 units or
// more at any usable width.
constexpr std::uint64_t RowsFor(std::uint64_t units) { return units / 16 * 8; }
// The line index (a start a line) and the row index's counts, pointers and
// flags per line.
constexpr std::uint64_t PerLine(std::uint64_t lines) { return lines * (8 + 8 + 8 + 8 + 1); }

}  // namespace

std::uint64_t EditorMemoryFor(std::uint64_t units, std::uint64_t lines) {
    // The buffer, with the gap it grows by (an eighth) while the old storage
    // is still being copied from.
    const std::uint64_t buffer = units * kUnit + (units + units / 8) * kUnit;
    return buffer + PerLine(lines) + RowsFor(units) + kFixed;
}

std::uint64_t EncodeMemoryFor(std::uint64_t units) { return EncodeMemoryFor(units, 2, 6); }

std::uint64_t EncodeMemoryFor(std::uint64_t units, std::uint64_t bytesPerUnit, std::uint64_t resultPerUnit) {
    // The encoded bytes and the result (code page 932: at most two bytes a
    // unit, three units a byte), which the editor takes over without a copy
    // while the old text moves into the undo history. The encoded text
    // breaks no line: it is one line, and its rows are what it costs.
    const std::uint64_t result = units * resultPerUnit;
    return units * bytesPerUnit + result * kUnit + (result + result / 8) * kUnit + RowsFor(result) + PerLine(1) +
           kFixed;
}

std::uint64_t DecodeMemoryFor(std::uint64_t units) { return DecodeMemoryFor(units, units + 1); }

std::uint64_t DecodeMemoryFor(std::uint64_t units, std::uint64_t resultLines) {
    // At most two units a unit ("&" becomes CR LF), and a byte string of at
    // most one byte a unit on the way.
    const std::uint64_t result = units * 2;
    return units + result * kUnit + (result + result / 8) * kUnit + RowsFor(result) + PerLine(resultLines) + kFixed;
}

std::uint64_t LineDecodeMemoryFor(std::uint64_t lineUnits) {
    // The decoded line (at most two units a unit) and a byte a unit on the
    // way.
    return lineUnits * 2 * kUnit + lineUnits + kFixed;
}

}  // namespace tessaly
