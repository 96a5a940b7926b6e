// CodePageBridge over the code page 932 tables.
#include "codec/codepage.h"

#include <algorithm>

#include "codec/chunked_output.h"
#include "codec/cp932.h"

namespace tessaly {

using detail::ChunkedOutput;
using detail::kChunkUnits;

std::string CodePageBridge::ToBytes(std::u16string_view text) {
    std::string out;
    AppendBytes(out, text);
    return out;
}

std::size_t CodePageBridge::AppendBytes(std::string& out, std::u16string_view text, bool final) {
    if (!final && !text.empty() && cp932::IsHighSurrogate(text.back())) text.remove_suffix(1);
    ChunkedOutput<char> output(out, 2 * text.size());  // at most two bytes per unit
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    while (p != end) {
        const char16_t* const chunkEnd = p + std::min<std::size_t>(end - p, kChunkUnits);
        char* const room = output.Room(2 * static_cast<std::size_t>(chunkEnd - p));
        auto* o = reinterpret_cast<unsigned char*>(room);
        while (p < chunkEnd) {
            const char16_t unit = *p++;
            o = cp932::PutBytes(cp932::UnitToBytes(unit), o);
            // A surrogate pair is one character, so it gives one '?'.
            if (cp932::IsHighSurrogate(unit) && p != end && cp932::IsLowSurrogate(*p)) ++p;
        }
        output.Commit(reinterpret_cast<char*>(o));
    }
    output.Finish();
    return text.size();
}

std::u16string CodePageBridge::ToText(std::string_view bytes) {
    std::u16string out;
    AppendText(out, bytes);
    return out;
}

std::size_t CodePageBridge::AppendText(std::u16string& out, std::string_view bytes, bool final) {
    ChunkedOutput<char16_t> output(out, bytes.size());  // at most one unit per byte
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    // Stop before the last byte when it may be a lead byte waiting for its
    // trail; whether it is one depends on the bytes before it.
    const auto* const stop = !final && p != end && cp932::IsLeadByte(end[-1]) ? end - 1 : end;
    while (p < stop) {
        // A pair that starts in the chunk may end one byte past it.
        const unsigned char* const chunkEnd = p + std::min<std::size_t>(stop - p, kChunkUnits);
        char16_t* o = output.Room(static_cast<std::size_t>(chunkEnd - p));
        while (p < chunkEnd) p = cp932::ConvertCharacter(p, end, o++);
        output.Commit(o);
    }
    output.Finish();
    return static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(bytes.data()));
}

}  // namespace tessaly
