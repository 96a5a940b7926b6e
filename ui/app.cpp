#include "ui/app.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>

#include "ui/icons/tessaly.xpm"

namespace tessaly {

bool InstallJapanese(QApplication& app) {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* translator = new QTranslator(&app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        QApplication::installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

QIcon ProgramIcon() { return QIcon(QPixmap(tessaly_xpm)); }

}  // namespace tessaly
