// How much more memory the program may take before the system refuses it or
// starts killing processes. Linux grants large allocations it cannot back
// (overcommit), so a failure shows up as the out-of-memory killer rather
// than std::bad_alloc: work that needs a great deal of memory asks here first.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <cstddef>

namespace tessaly {

// MemAvailable of a /proc/meminfo text, in bytes, or nothing when absent.
std::optional<std::uint64_t> ParseMemAvailable(std::string_view meminfo);

// VmSize of a /proc/self/status text, in bytes, or nothing when absent.
std::optional<std::uint64_t> ParseVmSize(std::string_view status);

// The memory this process can still take: the system's available memory,
// lowered to what the address-space limit (RLIMIT_AS) leaves. Nothing when
// neither is known.
std::optional<std::uint64_t> AvailableMemory();

// Whether bytes more can be taken; true when nothing is known.
bool MemoryAvailableFor(std::uint64_t bytes);

// What the window needs, at its peak, to hold a text of the given length in
// UTF-16 units whose longest line has longestLine units: the text, the edit
// box's copies and document, and the layout of the longest line.
std::uint64_t EditorMemoryFor(std::uint64_t units, std::uint64_t longestLine);

// The length of the longest line of an editor text: the longest run of units
// between CR LF line breaks (a lone CR or LF does not break a line there).
std::size_t LongestLine(std::u16string_view text);

// Whether the edit box can take the text: EditorMemoryFor it fits in what
// is available.
bool EditorCanHold(std::u16string_view text);

// What reading a file of the given size and turning it into editor text
// needs at its peak: the bytes, and the text of at most one unit a byte plus
// the line breaks added.
std::uint64_t LoadMemoryFor(std::uint64_t fileSize);

}  // namespace tessaly
