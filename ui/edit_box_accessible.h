// What screen readers see of the edit box: an editable, multi-line text with
// its caret, selection and character geometry, read and edited through the
// box's model (positions over the model's 64-bit ones, clamped to int).
#pragma once

#include <QAccessibleWidget>
#include <QMetaObject>
#include <QString>

#include "editor/text_buffer.h"

namespace tessaly {

class EditBox;

// Installs the factory that makes EditBoxAccessible for every EditBox. Safe
// to call more than once: it is installed the first time only.
void InstallEditBoxAccessibility();

// Where the interfaces send their events: to Qt, and only while an assistive
// technology listens (QAccessible::isActive()). A sink set here takes them
// instead and counts as listening: tests record events with it, since no
// public call makes Qt's own platform accessibility active. nullptr: Qt again.
using EditBoxAccessibleEventSink = void (*)(QAccessibleEvent* event);
void SetEditBoxAccessibleEventSink(EditBoxAccessibleEventSink sink);

class EditBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    // Changes with more units than this, removed or inserted, are announced
    // without their text (see OnTextEdited).
    static constexpr Pos kEventTextLimit = 4096;

    explicit EditBoxAccessible(EditBox* box);
    ~EditBoxAccessible() override;

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text type, const QString& text) override;
    QAccessible::State state() const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface: undoable edits, line breaks as CR LF.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    struct Range {
        Pos start = 0;
        Pos end = 0;
    };

    EditBox* Box() const;
    Pos Length() const;
    // An offset from a client, clamped to the text; -1 is the end and -2 the
    // caret, as assistive technologies use them.
    Pos FromOffset(int offset) const;
    // A position moved back to the start of the surrogate pair or CR LF it
    // falls inside, so that edits never split a character.
    Pos CharStart(Pos pos) const;
    Pos CharEnd(Pos pos) const;
    QString Copy(Pos from, Pos to) const;
    // The unit of the given kind that holds pos (pos < Length()). The units of
    // each kind tile the text.
    Range UnitAt(Pos pos, QAccessible::TextBoundaryType type) const;
    Range SegmentAt(Pos pos, int finderType) const;
    QString Answer(Range range, int* startOffset, int* endOffset) const;
    QString UnitAround(int offset, QAccessible::TextBoundaryType boundaryType, int step, int* startOffset,
                       int* endOffset) const;
    void Replace(Pos from, Pos to, const QString& text);

    void OnTextEdited(Pos pos, Pos removed, Pos inserted);
    void OnCaretMoved();

    QMetaObject::Connection editedConnection_;
    QMetaObject::Connection caretConnection_;
    Pos lastAnchor_ = 0;
    Pos lastCaret_ = 0;
    bool textChangedSinceCaret_ = false;
};

}  // namespace tessaly
