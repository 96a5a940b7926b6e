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

// The input as a recipe for code page 932 bytes that look like text: long
// stretches of characters that write back their own bytes (ASCII runs,
// kana, kanji, half-width kana, controls, CR LF, runs of bytes that may each
// lead and trail), which the byte routes take many at a time, and now and
// then one that does not. Each input byte picks the next piece, until there
// are enough bytes for several of the routes' 2048-unit chunks.
inline std::string TextLikeBytes(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kEnough = 8192;
    // 漢字テストあいうえおソ表能ｱｲｳﾞ、。 in code page 932.
    static constexpr std::string_view kGood =
        "\x8A\xBF\x8E\x9A\x83\x65\x83\x58\x83\x67\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8"
        "\x83\x5C\x95\x5C\x94\x5C\xB1\xB2\xB3\xDE\x81\x41\x81\x42";
    static constexpr std::string_view kBad[] = {"\x81", "\x82\x40", "\xED\x40", "\xFA\x40", "\x87\x90",
                                                "\xFD", "\x80", "\xA0", "\x81\x7F", "\xEA\xA5",
                                                "\x89\x7F", "\x83\x97", "\x82\xF2", "\x82\x9E", "\x81\xAD"};
    std::string bytes;
    for (std::size_t i = 0; i < size && bytes.size() < kEnough; ++i) {
        const unsigned b = data[i];
        switch (b >> 5) {
            case 0: case 1: case 2:  // characters
                bytes += kGood.substr(b % kGood.size(), 1 + b % 7);
                break;
            case 3:  // printable ASCII, up to 96 bytes
                for (unsigned n = 3 * (b & 31); n > 0; --n) bytes += static_cast<char>(0x20 + (n * 7 + b) % 0x5F);
                break;
            case 4:  // bytes that may each lead and trail: pairs split by parity
                for (unsigned n = b & 31; n > 0; --n) bytes += static_cast<char>((n + b) % 3 ? 0x88 + n % 8 : 0xE0 + n % 8);
                break;
            case 5:
                bytes += b & 1 ? "\r\n" : "\t";
                break;
            case 6:
                bytes += kBad[b % std::size(kBad)];
                break;
            default:  // the byte itself
                bytes += static_cast<char>(b);
        }
    }
    return bytes;
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}

}  // namespace tessaly::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::tessaly::fuzz::Fail(#condition, __FILE__, __LINE__))
