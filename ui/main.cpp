#include <QApplication>

#include "documents/io.h"
#include "ui/app.h"
#include "ui/form1.h"

int main(int argc, char* argv[]) {
    tessaly::IgnoreFileSizeSignal();  // a save past ulimit -f is reported, not fatal
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    QApplication::setWindowIcon(tessaly::ProgramIcon());
    tessaly::InstallJapanese(app);

    tessaly::Form1 form;
    form.show();
    // Take the keyboard at once, also where no window manager hands it over.
    form.activateWindow();
    return app.exec();
}
