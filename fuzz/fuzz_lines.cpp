// Splitting a file's bytes into editor lines, checked against a plain
// reading of the rule: a line ends at CR LF or a lone CR (a lone LF stays in
// its line), and every line is converted on its own and followed by CR LF.
#include "codec/codepage.h"
#include "documents/text_document.h"
#include "fuzz/fuzz_support.h"

using tessaly::CodePageBridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = tessaly::fuzz::AsBytes(data, size);
    const std::u16string text = tessaly::FileBytesToEditorText(bytes);

    std::u16string expected;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        const bool end = i == bytes.size();
        if (!end && bytes[i] != '\r') continue;
        if (end && start == i) break;  // nothing after the last line end
        expected += CodePageBridge::ToText(bytes.substr(start, i - start));
        expected += u"\r\n";
        if (!end && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    FUZZ_CHECK(text == expected);

    // Every CR in the editor text is a line end.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == u'\n');
    }
    // Saving what was loaded gives the same lines back.
    if (!text.empty()) {
        const std::string saved = tessaly::EditorTextToFileBytes(std::u16string_view(text).substr(0, text.size() - 2));
        FUZZ_CHECK(tessaly::FileBytesToEditorText(saved) == text);
    }
    return 0;
}
