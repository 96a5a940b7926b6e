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

// What holding a text in the editor costs is editor/memory_cost.h's to say.

// What reading a file of the given size and turning it into editor text
// needs at its peak: the bytes, and the text of at most one unit a byte plus
// the line breaks added.
std::uint64_t LoadMemoryFor(std::uint64_t fileSize);

}  // namespace tessaly
