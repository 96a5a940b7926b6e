#include "codec/fidelity.h"

#include "codec/cp932.h"

namespace tessaly {

bool IsIntendedLookAlike(char16_t unit) {
    return unit == u'\u2014' || unit == u'\u2016' || unit == u'\u2212' || unit == u'\u301C';
}

TextLoss FindTextLoss(std::u16string_view text) {
    TextLoss loss;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool pair = cp932::IsHighSurrogate(unit) && i + 1 < text.size() && cp932::IsLowSurrogate(text[i + 1]);
        const bool lost = pair || (!cp932::RoundTrips(unit) && !IsIntendedLookAlike(unit));
        if (lost) {
            if (loss.count++ == 0) {
                loss.first = i;
                loss.firstBecomes = pair ? u"?" : std::u16string(1, cp932::BytesToChar(cp932::UnitToBytes(unit)));
            }
        }
        if (pair) ++i;
    }
    return loss;
}

ByteLoss FindByteLoss(std::string_view bytes) {
    ByteLoss loss;
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    const unsigned char* p = begin;
    while (p != end) {
        char16_t c;
        const unsigned char* const next = cp932::ConvertCharacter(p, end, &c);
        unsigned char back[2];
        const unsigned char* const backEnd = cp932::PutBytes(cp932::UnitToBytes(c), back);
        const std::size_t n = static_cast<std::size_t>(next - p);
        const bool same = static_cast<std::size_t>(backEnd - back) == n && back[0] == p[0] && (n == 1 || back[1] == p[1]);
        if (!same) {
            if (loss.count == 0) loss.first = static_cast<std::size_t>(p - begin);
            loss.count += n;
        }
        p = next;
    }
    return loss;
}

}  // namespace tessaly
