#include <QApplication>
#include <QTimer>

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
    // Qt has taken its own options (-platform, ...) out of argv by now.
    const tessaly::CommandLine command = tessaly::ParseCommandLine(QApplication::arguments().mid(1));
    if (command.action != tessaly::CommandLine::Action::kRun) {
        return tessaly::AnswerCommandLine(command, TESSALY_VERSION);
    }

    tessaly::Form1 form;
    form.show();
    // Take the keyboard at once, also where no window manager hands it over.
    form.activateWindow();
    // The file named on the command line, once the history is in and the
    // window is up, so that its error report has the window to sit on.
    if (!command.file.isEmpty()) {
        QTimer::singleShot(0, &form, [&form, file = command.file] { form.OpenDocument(file); });
    }
    return app.exec();
}
