#include "documents/memory_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

namespace tessaly {
namespace {

// The value in kB of a "Key:   1234 kB" line, in bytes.
std::optional<std::uint64_t> ParseKiloBytes(std::string_view text, std::string_view key) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(key) || line.size() <= key.size() || line[key.size()] != ':') continue;
        std::string_view value = line.substr(key.size() + 1);
        const std::size_t digits = value.find_first_not_of(" \t");
        if (digits == std::string_view::npos) return std::nullopt;
        value.remove_prefix(digits);
        std::uint64_t kib = 0;
        const auto [end_ptr, error] = std::from_chars(value.data(), value.data() + value.size(), kib);
        if (error != std::errc() || end_ptr == value.data()) return std::nullopt;
        if (kib > UINT64_MAX / 1024) return std::nullopt;
        return kib * 1024;
    }
    return std::nullopt;
}

std::string ReadSmallFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    text.reserve(4096);
    char c;
    while (text.size() < (1 << 16) && in.get(c)) text += c;
    return text;
}

}  // namespace

std::optional<std::uint64_t> ParseMemAvailable(std::string_view meminfo) {
    return ParseKiloBytes(meminfo, "MemAvailable");
}

std::optional<std::uint64_t> ParseVmSize(std::string_view status) { return ParseKiloBytes(status, "VmSize"); }

std::optional<std::uint64_t> AvailableMemory() {
    std::optional<std::uint64_t> available = ParseMemAvailable(ReadSmallFile("/proc/meminfo"));
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const std::uint64_t used = ParseVmSize(ReadSmallFile("/proc/self/status")).value_or(0);
        const std::uint64_t left = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
        if (!available || left < *available) available = left;
    }
    return available;
}

bool MemoryAvailableFor(std::uint64_t bytes) {
    const std::optional<std::uint64_t> available = AvailableMemory();
    return !available || bytes <= *available;
}

std::uint64_t LoadMemoryFor(std::uint64_t fileSize) {
    constexpr std::uint64_t kHeadroom = 16ull << 20;
    return fileSize + 2 * (fileSize + fileSize / 2) + kHeadroom;
}

}  // namespace tessaly
