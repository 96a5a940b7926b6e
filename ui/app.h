// Application-wide set-up: Japanese everywhere, and the program's icon.
#pragma once

class QApplication;
class QIcon;

namespace tessaly {

// Loads Qt's own Japanese translations (standard buttons and dialogs) and
// makes Japanese the default locale, whatever the system's locale is.
// Returns whether the translations were found.
bool InstallJapanese(QApplication& app);

QIcon ProgramIcon();

}  // namespace tessaly
