// The standard open and save dialogs, set up through three properties.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace tessaly {

class CommonDialog {
public:
    explicit CommonDialog(QWidget* parent) : parent_(parent) {}

    // When set, Cancel ends a display with the cancel indication (false).
    bool CancelError = false;
    // In: the name shown at first (a full path selects its folder too).
    // Out: the full path of the file chosen or typed.
    QString FileName;
    // Pairs of description and pattern, every element separated by '|':
    // "Text files(*.txt)|*.txt|All files(*.*)|*.*". The first pair is selected.
    QString Filter;

    // Each shows the modal dialog. Returns false when the display ended with
    // the cancel indication, true otherwise (FileName then holds the choice).
    bool ShowOpen();
    bool ShowSave();

    // The dialog's name filters for a Filter string.
    static QStringList NameFilters(const QString& filter);

private:
    bool Show(bool save);

    QWidget* parent_;
};

}  // namespace tessaly
