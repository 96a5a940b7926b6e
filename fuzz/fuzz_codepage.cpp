// Both directions of the code page. The first byte picks the direction.
//  - bytes -> text: at most one unit per byte, and the text survives a trip
//    through bytes and back unchanged;
//  - text -> bytes: at most two bytes per unit, and after one round trip the
//    text is stable.
// Either way the fidelity checks agree with the round trip: bytes (or a text
// without look-alikes) are clean exactly when they come back unchanged.
#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "fuzz/fuzz_support.h"

using tessaly::CodePageBridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool fromBytes = data[0] & 1;
    ++data, --size;
    if (fromBytes) {
        const std::string_view bytes = tessaly::fuzz::AsBytes(data, size);
        const std::u16string text = CodePageBridge::ToText(bytes);
        FUZZ_CHECK(text.size() <= bytes.size());
        FUZZ_CHECK(CodePageBridge::ToText(CodePageBridge::ToBytes(text)) == text);
        FUZZ_CHECK((tessaly::FindByteLoss(bytes).count == 0) == (CodePageBridge::ToBytes(text) == bytes));
    } else {
        const std::u16string text = tessaly::fuzz::AsText(data, size);
        const std::string bytes = CodePageBridge::ToBytes(text);
        FUZZ_CHECK(bytes.size() <= 2 * text.size());
        const std::u16string once = CodePageBridge::ToText(bytes);
        FUZZ_CHECK(once.size() <= text.size());
        FUZZ_CHECK(CodePageBridge::ToBytes(once) == bytes);
        FUZZ_CHECK(CodePageBridge::ToText(CodePageBridge::ToBytes(once)) == once);
        bool lookAlike = false;
        for (const char16_t c : text) lookAlike = lookAlike || tessaly::IsIntendedLookAlike(c);
        if (!lookAlike) FUZZ_CHECK((tessaly::FindTextLoss(text).count == 0) == (once == text));
    }
    return 0;
}
