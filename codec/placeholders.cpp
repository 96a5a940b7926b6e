// Stand-ins until the EUC-JP tables and the plausibility judgement land:
// EUC-JP reads and writes ASCII only, and the encoding with the fewest
// invalid bytes is chosen. Removed when the real ones are built.
#include "codec/detect.h"
#include "codec/eucjp.h"

namespace tessaly {

Charset ChooseCharset(const std::array<LineReading, kCharsetCount>& readings, Charset preferred) {
    auto best = static_cast<std::size_t>(preferred);
    for (std::size_t k = 0; k < kCharsetCount; ++k) {
        if (readings[k].invalid < readings[best].invalid) best = k;
    }
    return static_cast<Charset>(best);
}

namespace eucjp {

Read AppendText(std::u16string& out, std::string_view bytes, bool) {
    Read read;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80 && read.invalid++ == 0) read.firstInvalid = i;
        out += b < 0x80 ? char16_t{b} : u'\uFFFD';
    }
    read.consumed = bytes.size();
    return read;
}

Write AppendBytes(std::string& out, std::u16string_view text, bool) {
    Write write;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] < 0x80) {
            out += static_cast<char>(text[i]);
            continue;
        }
        if (write.lost++ == 0) write.firstLost = i;
        out += "&#" + std::to_string(unsigned{text[i]}) + ";";
    }
    write.consumed = text.size();
    return write;
}

}  // namespace eucjp
}  // namespace tessaly
