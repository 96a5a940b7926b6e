#include "ui/loss_messages.h"

#include <QChar>
#include <algorithm>

namespace tessaly {
namespace {

bool IsUnseen(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

// The character of text at index: a surrogate pair whole, anything else one
// unit.
std::u16string_view CharacterAt(std::u16string_view text, std::size_t index) {
    index = std::min(index, text.size());
    const bool pair = index + 1 < text.size() && QChar::isHighSurrogate(text[index]) &&
                      QChar::isLowSurrogate(text[index + 1]);
    return text.substr(index, pair ? 2 : 1);
}

}  // namespace

QString ShownCharacter(std::u16string_view character) {
    if (character.empty()) return QString();
    char32_t c = character[0];
    if (character.size() == 2 && QChar::isHighSurrogate(c) && QChar::isLowSurrogate(character[1])) {
        c = QChar::surrogateToUcs4(character[0], character[1]);
    }
    if (IsUnseen(c)) {
        return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    }
    return QString::fromUtf16(character.data(), static_cast<qsizetype>(character.size()));
}

std::size_t LineOfIndex(std::u16string_view text, std::size_t index) {
    std::size_t line = 1;
    text = text.substr(0, std::min(index, text.size()));
    for (std::size_t at = text.find(u"\r\n"); at != std::u16string_view::npos; at = text.find(u"\r\n", at + 2)) {
        ++line;
    }
    return line;
}

QString TextLossQuestion(std::u16string_view text, const TextLoss& loss) {
    const std::size_t first = std::min(loss.first, text.size());
    return QStringLiteral("シフトJISでそのまま保存できない文字が %1 個あります。最初は %2 行目の「%3」で、"
                          "「%4」として保存されます。保存しますか？")
        .arg(QString::number(loss.count), QString::number(LineOfIndex(text, first)),
             ShownCharacter(CharacterAt(text, first)), ShownCharacter(loss.firstBecomes));
}

QString ByteLossNote(const FileByteLoss& loss) {
    return QStringLiteral("このファイルには、そのまま書き戻せないバイトが %1 個あります（最初は %2 行目）。"
                          "保存するとそれらは変わります。")
        .arg(QString::number(loss.count), QString::number(loss.firstLine));
}

QString CharsetCaption(Charset charset) {
    switch (charset) {
    case Charset::kUtf8:
        return QStringLiteral("UTF-8");
    case Charset::kEucJp:
        return QStringLiteral("EUC-JP");
    case Charset::kShiftJis:
        break;
    }
    return QStringLiteral("シフトJIS");
}

QString EncodeLossNote(std::u16string_view text, Charset charset, std::uint64_t lost, std::size_t first) {
    const std::u16string_view character = CharacterAt(text, first);
    const QString count = QString::number(lost);
    const QString line = QString::number(LineOfIndex(text, std::min(first, text.size())));
    if (charset != Charset::kEucJp) {
        // UTF-8 holds every character; only a lone surrogate is written as
        // U+FFFD.
        return QStringLiteral("%1で表せない文字（対になっていないサロゲート）が %2 個あり、U+FFFD として書きました。"
                              "最初は %3 行目の「%4」です。受け取る側ではもとの文字になりません。"
                              "Ctrl+Z で元に戻せます。")
            .arg(CharsetCaption(charset), count, line, ShownCharacter(character));
    }
    // EUC-JP writes what it cannot hold as a browser does, "&#N;".
    char32_t c = character.empty() ? U'\uFFFD' : character[0];
    if (character.size() == 2) {
        c = QChar::surrogateToUcs4(character[0], character[1]);
    } else if (QChar::isSurrogate(c)) {
        c = U'\uFFFD';
    }
    return QStringLiteral("%1で表せない文字が %2 個あり、ブラウザーと同じく「&#番号;」の形で書きました。"
                          "最初は %3 行目の「%4」で、「&#%5;」になっています。"
                          "受け取る側ではもとの文字にならないことがあります。Ctrl+Z で元に戻せます。")
        .arg(CharsetCaption(charset), count, line, ShownCharacter(character), QString::number(static_cast<uint>(c)));
}

QString MojibakeNote(std::uint64_t lines, Charset charset, Charset readBy) {
    return QStringLiteral("%1 行に、%2では文字にならないバイトがありました。これらの行は%3で読めます。"
                          "Ctrl+Z で元に戻してから、「文字コード」で%3を選ぶ（または「デコード時に自動判別」を"
                          "オンにする）と、正しくデコードできます。")
        .arg(QString::number(lines), CharsetCaption(charset), CharsetCaption(readBy));
}

}  // namespace tessaly
