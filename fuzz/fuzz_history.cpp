// The history file on any input, read two ways.
// As the bytes of a file: the reader gives at most five names, none holding
// a quote, CR or LF; and what it read is written and read back unchanged.
// As five UTF-16 names (split at U+FFFF): each is written and read back as
// itself when the code page gives it back exactly and it holds no quote or
// control character, and as an empty slot otherwise, never as another name.
#include <algorithm>
#include <array>

#include "codec/codepage.h"
#include "documents/history_file.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckFileBytes(std::string_view bytes) {
    const std::vector<std::u16string> names = tessaly::ParseHistory(bytes);
    FUZZ_CHECK(names.size() <= 5);
    std::array<std::u16string, 5> slots;
    for (std::size_t i = 0; i < names.size(); ++i) {
        FUZZ_CHECK(names[i].find_first_of(u"\"\r\n") == std::u16string::npos);
        slots[i] = names[i];
    }
    const std::vector<std::u16string> again = tessaly::ParseHistory(tessaly::FormatHistory(slots));
    FUZZ_CHECK(again.size() == 5);
    for (std::size_t i = 0; i < 5; ++i) FUZZ_CHECK(again[i] == slots[i]);
}

bool Keepable(const std::u16string& name) {
    const bool plain = std::none_of(name.begin(), name.end(), [](char16_t c) {
        return c == u'"' || c == 0x7F || (c < 0x20 && c != u'\t');
    });
    return plain && tessaly::CodePageBridge::ToText(tessaly::CodePageBridge::ToBytes(name)) == name;
}

void CheckNames(const std::u16string& text) {
    std::array<std::u16string, 5> names;
    std::size_t at = 0;
    for (auto& name : names) {
        const std::size_t end = std::min(text.find(u'\uFFFF', at), text.size());
        if (at < text.size()) name = text.substr(at, end - at);
        at = end + 1;
    }
    const std::vector<std::u16string> back = tessaly::ParseHistory(tessaly::FormatHistory(names));
    FUZZ_CHECK(back.size() == 5);
    for (std::size_t i = 0; i < 5; ++i) {
        const bool kept = Keepable(names[i]);
        FUZZ_CHECK(back[i] == (kept ? names[i] : std::u16string()));
        FUZZ_CHECK(tessaly::HistoryBytesOf(names[i]) == (kept ? tessaly::CodePageBridge::ToBytes(names[i]) : ""));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckFileBytes(tessaly::fuzz::AsBytes(data, size));
    CheckNames(tessaly::fuzz::AsText(data, size));
    return 0;
}
