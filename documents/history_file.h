// The history file "sys.!!!": the recent-file list between runs.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

class RecentFileList;

inline constexpr const char* kHistoryFileName = "sys.!!!";

// The history file's path for the executable's directory: a '/' is added
// unless the directory already ends with one. An empty directory (not known)
// gives the bare file name.
std::string HistoryPath(const std::string& exeDirectory);

// Where a program whose executable is in exeDirectory keeps its history.
// Run from a folder programs are installed to (one of installDirectories),
// where nothing of ours is ever written, it is the user's state folder:
// "$XDG_STATE_HOME/tessaly/sys.!!!", or "$HOME/.local/state/tessaly/sys.!!!"
// when XDG_STATE_HOME is unset or not absolute (null is unset); without an
// absolute home there is no place, and the result is "". Every other copy
// keeps it beside itself (HistoryPath). Folders are compared as strings,
// a trailing '/' aside: the caller passes canonical ones.
std::string HistoryPathFor(const std::string& exeDirectory, const std::vector<std::string>& installDirectories,
                           const char* xdgStateHome, const char* home);

// The items of a history file, at most five, in order; reading stops at the
// first item that cannot be read. No item contains a quote, CR or LF. How
// lines that FormatHistory never writes are read is told beside the code.
std::vector<std::u16string> ParseHistory(std::string_view bytes);

// The code-page bytes that stand for name in the file, or "" when no bytes
// read back as exactly this name: it holds a quote or a control character
// other than tab, or a character the code page lacks or writes with a
// look-alike's bytes (é as e, ¥ as \, − as －, an emoji as ?). Such a name,
// written anyway, would read back as the name of another file.
std::string HistoryBytesOf(std::u16string_view name);

// The file's bytes: five lines of quote, HistoryBytesOf(name), quote, CR LF.
// A name without bytes of its own is thus written as an empty slot.
std::string FormatHistory(const std::array<std::u16string, 5>& names);

// Empties the list, fills it from the file at path and shows the filled slots.
// Every failure is silent; only a regular file is read, and only its start.
void LoadHistory(RecentFileList& list, const std::string& path);

// Writes the list's five names to path, replacing the file only once the new
// content is complete; missing folders on the way are created first, 0700,
// and a new file 0600 (the recent paths are the user's alone). Returns
// whether it was written; callers stay silent. An empty path writes nothing.
bool SaveHistory(const RecentFileList& list, const std::string& path);

}  // namespace tessaly
