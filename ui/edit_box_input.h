// The edit box's input-method adapter: a composition is shown where the
// caret is, wrapped as the row view wraps the text, and never stored; a
// commit (with what it replaces around the caret) is one edit; and the input
// method's questions about the box are answered from the caret's line.
#pragma once

#include <QInputMethodEvent>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

namespace tessaly {

class EditBox;

class InputMethodAdapter {
public:
    explicit InputMethodAdapter(EditBox& box) : box_(box) {}

    void Event(QInputMethodEvent* e);
    // The answer to query, or nothing when the box leaves it to its base.
    std::optional<QVariant> Query(Qt::InputMethodQuery query) const;

private:
    void ShowComposition();

    EditBox& box_;
    QString preedit_;
    int preeditCursor_ = 0;
    bool preeditCursorVisible_ = true;
    QList<QInputMethodEvent::Attribute> preeditAttributes_;
};

}  // namespace tessaly
