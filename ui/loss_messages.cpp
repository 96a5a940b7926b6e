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
    const bool pair = first + 1 < text.size() && QChar::isHighSurrogate(text[first]) &&
                      QChar::isLowSurrogate(text[first + 1]);
    return QStringLiteral("シフトJISでそのまま保存できない文字が %1 個あります。最初は %2 行目の「%3」で、"
                          "「%4」として保存されます。保存しますか？")
        .arg(QString::number(loss.count), QString::number(LineOfIndex(text, first)),
             ShownCharacter(text.substr(first, pair ? 2 : 1)), ShownCharacter(loss.firstBecomes));
}

QString ByteLossNote(const FileByteLoss& loss) {
    return QStringLiteral("このファイルには、そのまま書き戻せないバイトが %1 個あります（最初は %2 行目）。"
                          "保存するとそれらは変わります。")
        .arg(QString::number(loss.count), QString::number(loss.firstLine));
}

}  // namespace tessaly
