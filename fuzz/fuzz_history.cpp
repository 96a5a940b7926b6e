// The history file reader on any bytes: at most five names, none holding a
// quote, CR or LF; and what it read is written and read back unchanged.
#include <array>

#include "documents/history_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::u16string> names = tessaly::ParseHistory(tessaly::fuzz::AsBytes(data, size));
    FUZZ_CHECK(names.size() <= 5);
    std::array<std::u16string, 5> slots;
    for (std::size_t i = 0; i < names.size(); ++i) {
        FUZZ_CHECK(names[i].find_first_of(u"\"\r\n") == std::u16string::npos);
        slots[i] = names[i];
    }
    const std::vector<std::u16string> again = tessaly::ParseHistory(tessaly::FormatHistory(slots));
    FUZZ_CHECK(again.size() == 5);
    for (std::size_t i = 0; i < 5; ++i) FUZZ_CHECK(again[i] == slots[i]);
    return 0;
}
