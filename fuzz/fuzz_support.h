// Shared pieces of the fuzz targets: reading the input as text, and checks
// that stop the run (libFuzzer keeps the input that failed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tessaly::fuzz {

// Two input bytes per UTF-16 unit, little-endian; an odd last byte is dropped.
inline std::u16string AsText(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    return text;
}

inline std::string_view AsBytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}

}  // namespace tessaly::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::tessaly::fuzz::Fail(#condition, __FILE__, __LINE__))
