// The encodings' labels and names.
#include <array>

#include "codec/url.h"

namespace tessaly {
namespace {

struct Label {
    std::string_view label;
    Charset charset;
};

constexpr std::array<Label, 18> kLabels = {{
    {"utf-8", Charset::kUtf8},
    {"utf8", Charset::kUtf8},
    {"unicode-1-1-utf-8", Charset::kUtf8},
    {"unicode11utf8", Charset::kUtf8},
    {"unicode20utf8", Charset::kUtf8},
    {"x-unicode20utf8", Charset::kUtf8},
    {"euc-jp", Charset::kEucJp},
    {"cseucpkdfmtjapanese", Charset::kEucJp},
    {"x-euc-jp", Charset::kEucJp},
    {"shift_jis", Charset::kShiftJis},
    {"csshiftjis", Charset::kShiftJis},
    {"ms932", Charset::kShiftJis},
    {"ms_kanji", Charset::kShiftJis},
    {"sjis", Charset::kShiftJis},
    {"windows-31j", Charset::kShiftJis},
    {"x-sjis", Charset::kShiftJis},
    {"cp932", Charset::kShiftJis},
    {"shift-jis", Charset::kShiftJis},
}};

// The Encoding Standard's ASCII white space.
constexpr bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<Charset> CharsetFromLabel(std::string_view label) {
    while (!label.empty() && IsSpace(label.front())) label.remove_prefix(1);
    while (!label.empty() && IsSpace(label.back())) label.remove_suffix(1);
    for (const Label& known : kLabels) {
        if (known.label.size() != label.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < label.size() && same; ++i) same = Lower(label[i]) == known.label[i];
        if (same) return known.charset;
    }
    return std::nullopt;
}

std::string_view CharsetName(Charset charset) {
    switch (charset) {
        case Charset::kShiftJis:
            return "Shift_JIS";
        case Charset::kUtf8:
            return "UTF-8";
        case Charset::kEucJp:
            return "EUC-JP";
    }
    return "";
}

}  // namespace tessaly
