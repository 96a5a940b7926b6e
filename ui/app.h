// Application-wide set-up: Japanese everywhere, and the program's icon.
#pragma once

#include <QString>
#include <QStringList>

class QApplication;
class QIcon;

namespace tessaly {

// Loads Qt's own Japanese translations (standard buttons and dialogs) and
// makes Japanese the default locale, whatever the system's locale is.
// Returns whether the translations were found.
bool InstallJapanese(QApplication& app);

QIcon ProgramIcon();

// The window program's command line, once Qt has taken its own options:
//   tessaly [--] [FILE]      open FILE at start, as the Open command does
//   tessaly --help | --version
// Anything else starting with "-" is an unknown option, a second FILE is one
// too many; both are a usage error. "--" ends the options, and a lone "-" is
// the file of that name (the window reads no standard input).
struct CommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsage };
    Action action = Action::kRun;
    QString file;     // absolute, as the Open dialog gives it; empty for none
    QString problem;  // for kUsage: what was wrong
};
CommandLine ParseCommandLine(const QStringList& arguments);  // without the program's name

// Answers a command line that does not run the window: help or version on
// standard output, a usage error on standard error. Returns the exit status.
int AnswerCommandLine(const CommandLine& command, const char* version);

}  // namespace tessaly
