// The edit box. It keeps the exact text the program puts into it (lone CR,
// lone LF, U+2029 and the rest), while the user edits it like any text box:
// Enter and pasted line breaks become CR LF.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace tessaly {

class EditBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit EditBox(QWidget* parent = nullptr);

    // The whole text, line breaks as CR LF.
    QString Text() const;
    // Replaces the whole text in one step, with a fresh document: the undo
    // history starts empty, and the cursor and the view are at the top.
    void SetText(const QString& text);

    // The form the document shows for an exact text: CR LF is a line break,
    // every other character that the document would turn into a line break
    // is shown as a visible symbol of the same length. A text that needs no
    // change is returned as it is, sharing its characters.
    static QString DisplayForm(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void OnContentsChange(int position, int removed, int added);
    qsizetype ExactIndex(int displayPosition) const;
    qsizetype SkipDisplayUnits(qsizetype exactIndex, qsizetype units) const;
    QString DocumentText(int from, int to) const;

    QString exact_;
    bool settingText_ = false;
    // A known pair of matching positions, so that mapping a position does not
    // always scan from the start.
    mutable int cacheDisplay_ = 0;
    mutable qsizetype cacheExact_ = 0;
};

}  // namespace tessaly
