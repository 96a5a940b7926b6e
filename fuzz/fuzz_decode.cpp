// Decode on any text: it ends, grows only by "&" becoming CR LF, leaves a
// text without escapes (and without "&" when the option is on) alone, and
// never touches what lies before the first "%" or "&".
#include "codec/percent.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool option = data[0] & 1;
    ++data, --size;
    const std::u16string text = tessaly::fuzz::AsText(data, size);
    const std::u16string decoded = tessaly::Decode(text, option);

    const std::size_t special = text.find_first_of(option ? u"%&" : u"%");
    if (special == std::u16string::npos) {
        FUZZ_CHECK(decoded == text);
    } else {
        FUZZ_CHECK(decoded.compare(0, special, text, 0, special) == 0);
    }
    FUZZ_CHECK(decoded.size() <= (option ? 2 * text.size() : text.size()));
    return 0;
}
