#include "ui/common_dialog.h"

#include <QFileDialog>

#include "ui/message_box.h"

namespace tessaly {

QStringList CommonDialog::NameFilters(const QString& filter) {
    QStringList filters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(u';', u' ');
        // The dialog reads the patterns from the last parentheses; most
        // descriptions already end with them.
        if (description.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
            filters << description;
        } else {
            filters << description + QStringLiteral(" (") + pattern + QLatin1Char(')');
        }
    }
    return filters;
}

bool CommonDialog::ShowOpen() { return Show(false); }
bool CommonDialog::ShowSave() { return Show(true); }

bool CommonDialog::Show(bool save) {
    QFileDialog dialog(parent_);
    // Qt's own dialog behaves the same on every desktop and under test.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // The program asks its own question before replacing a file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A name that does not exist is handed on; the caller reports it.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = NameFilters(Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.first());
    }
    if (!FileName.isEmpty()) {
        dialog.selectFile(FileName);
    }
    const int result = dialog.exec();
    ReturnFocus(parent_);
    if (result != QDialog::Accepted) {
        if (CancelError) {
            return false;
        }
        FileName.clear();
        return true;
    }
    const QStringList chosen = dialog.selectedFiles();
    FileName = chosen.isEmpty() ? QString() : chosen.first();
    return true;
}

}  // namespace tessaly
