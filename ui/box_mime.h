// What the edit box puts on the clipboard, in the primary selection and in
// drags: the text as plain text and in the box's own exact format, so that
// what the box copies comes back unchanged while text of other programs has
// its line breaks made CR LF.
#pragma once

#include <QMimeData>
#include <QPointer>
#include <QString>
#include <string_view>

#include "editor/text_buffer.h"

namespace tessaly {

class EditBox;

namespace box {

inline QString ToQString(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::u16string_view View(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size())};
}

}  // namespace box

// The box's own format: the exact UTF-16 units.
const QString& ExactTextFormat();

// Text the box offers. A primary selection too large to copy at once is read
// from the box when asked, while the text is still the one selected; when
// the text changes, the box has it keep a copy of what was selected.
class BoxMime final : public QMimeData {
public:
    explicit BoxMime(QString text);
    BoxMime(EditBox* box, Pos from, Pos to, quint64 generation);
    QStringList formats() const override;
    bool hasFormat(const QString& mime) const override;
    // The exact text, when it can still be had.
    bool Exact(QString& out) const;
    // The box's text has just changed (now is the text after the change):
    // copies what was selected from it and what the change removed. Without
    // the memory for the copy it offers nothing from then on.
    void KeepText(const TextChange& change, const TextBuffer& now);

protected:
    QVariant retrieveData(const QString& mime, QMetaType) const override;

private:
    QString text_;
    bool eager_ = false;
    QPointer<EditBox> box_;
    Pos from_ = 0, to_ = 0;
    quint64 generation_ = 0;
};

// The text of a clipboard or drag: exact when the box made it (here or in
// another copy of the program), else with its line breaks made CR LF.
QString TextOf(const QMimeData* data);
bool HasBoxText(const QMimeData* data);

}  // namespace tessaly
