#include "ui/app.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>
#include <cstdio>

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

namespace {

constexpr const char* kUsage =
    "Usage: tessaly [--] [FILE]\n"
    "       tessaly --help | --version\n"
    "Opens the window that percent-encodes and decodes Shift-JIS text; with\n"
    "FILE, opens FILE into it at start, as File > Open does.\n"
    "\n"
    "  --           end of the options: FILE may start with \"-\"\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n";

CommandLine Usage(const QString& problem) {
    CommandLine command;
    command.action = CommandLine::Action::kUsage;
    command.problem = problem;
    return command;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine command;
    bool options = true;
    QStringList files;
    for (const QString& argument : arguments) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options && argument == QLatin1String("--help")) {
            command.action = CommandLine::Action::kHelp;
        } else if (options && argument == QLatin1String("--version")) {
            command.action = CommandLine::Action::kVersion;
        } else if (options && argument.startsWith(u'-') && argument != QLatin1String("-")) {
            return Usage(QStringLiteral("unknown option '%1'").arg(argument));
        } else {
            files.append(argument);
        }
    }
    if (files.size() > 1) {
        return Usage(QStringLiteral("one FILE at most"));
    }
    if (command.action == CommandLine::Action::kRun && files.size() == 1) {
        if (files.front().isEmpty()) {
            return Usage(QStringLiteral("an empty FILE"));
        }
        command.file = QDir::cleanPath(QDir::current().absoluteFilePath(files.front()));
    }
    return command;
}

int AnswerCommandLine(const CommandLine& command, const char* version) {
    switch (command.action) {
        case CommandLine::Action::kHelp:
            std::fputs(kUsage, stdout);
            return 0;
        case CommandLine::Action::kVersion:
            std::printf("tessaly %s\n", version);
            return 0;
        case CommandLine::Action::kUsage:
            std::fprintf(stderr, "tessaly: %s\n%s", command.problem.toLocal8Bit().constData(), kUsage);
            return 2;
        case CommandLine::Action::kRun:
            break;
    }
    return 0;
}

}  // namespace tessaly
