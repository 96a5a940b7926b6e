#include "documents/history_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>

#include "codec/codepage.h"
#include "documents/file_ops.h"
#include "documents/recent_files.h"

namespace tessaly {
namespace {

// Five names of at most PATH_MAX bytes fit many times over; a larger file is
// not ours, and only its start is looked at.
constexpr std::size_t kHistoryReadLimit = 64 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Bytes no item may hold: a quote and control characters other than tab
// (no Shift-JIS trail byte is one of them).
bool IsUsableItem(std::string_view item) {
    return std::none_of(item.begin(), item.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == '"' || c == 0x7F || (c < 0x20 && c != '\t');
    });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string HistoryPath(const std::string& exeDirectory) {
    if (exeDirectory.empty()) return kHistoryFileName;
    if (exeDirectory.back() == '/') return exeDirectory + kHistoryFileName;
    return exeDirectory + '/' + kHistoryFileName;
}

namespace {

std::string_view WithoutTrailingSlash(std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    return folder;
}

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// folder + "/" + rest, with a single '/' even when folder is the root.
std::string Below(std::string_view folder, std::string_view rest) {
    while (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    return std::string(folder) + '/' + std::string(rest);
}

}  // namespace

std::string HistoryPathFor(const std::string& exeDirectory, const std::vector<std::string>& installDirectories,
                           const char* xdgStateHome, const char* home) {
    const bool installed = !exeDirectory.empty() &&
                           std::any_of(installDirectories.begin(), installDirectories.end(), [&](const std::string& dir) {
                               return !dir.empty() && WithoutTrailingSlash(dir) == WithoutTrailingSlash(exeDirectory);
                           });
    if (!installed) return HistoryPath(exeDirectory);
    if (IsAbsolute(xdgStateHome)) return Below(xdgStateHome, std::string("tessaly/") + kHistoryFileName);
    if (IsAbsolute(home)) return Below(home, std::string(".local/state/tessaly/") + kHistoryFileName);
    return std::string();
}

// How items are read. Lines end at CR LF, a lone LF or a lone CR; the last
// line may lack its terminator, and the end of the bytes ends the items.
// - A line whose first non-blank byte is a quote holds a quoted item: the
//   bytes up to the next quote on that line. Whatever follows the closing
//   quote is ignored. A line without the closing quote is a failed read.
// - Any other line holds an unquoted item: its bytes up to the first comma,
//   with surrounding spaces and tabs removed. An empty line gives "".
// - An item holding a quote or a control byte other than tab (binary junk,
//   never written by FormatHistory) is a failed read.
// A failed read ends the items; the items before it are kept.
std::vector<std::u16string> ParseHistory(std::string_view bytes) {
    std::vector<std::u16string> items;
    while (items.size() < static_cast<std::size_t>(RecentSlots::kCount) && !bytes.empty()) {
        const auto end = std::min(bytes.find_first_of("\r\n"), bytes.size());
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end);
        if (bytes.starts_with("\r\n")) {
            bytes.remove_prefix(2);
        } else if (!bytes.empty()) {
            bytes.remove_prefix(1);
        }

        std::string_view item = Trim(line);
        if (!item.empty() && item.front() == '"') {
            const auto close = item.find('"', 1);
            if (close == std::string_view::npos) break;
            item = item.substr(1, close - 1);
        } else {
            item = Trim(item.substr(0, item.find(',')));
        }
        if (!IsUsableItem(item)) break;
        items.push_back(CodePageBridge::ToText(item));
    }
    return items;
}

std::string HistoryBytesOf(std::u16string_view name) {
    std::string bytes = CodePageBridge::ToBytes(name);
    if (!IsUsableItem(bytes) || CodePageBridge::ToText(bytes) != name) bytes.clear();
    return bytes;
}

// A name without its own bytes is written as an empty slot, so that the file
// keeps its five lines and every other name reads back. The slot is lost at
// the next start, but never points at another file.
std::string FormatHistory(const std::array<std::u16string, 5>& names) {
    std::string out;
    for (const auto& name : names) {
        out += '"';
        out += HistoryBytesOf(name);
        out += "\"\r\n";
    }
    return out;
}

void LoadHistory(RecentFileList& list, const std::string& path) {
    list.ClearRecentFiles();
    std::vector<std::u16string> items;
    try {
        std::string bytes;
        bool truncated = false;
        detail::ReadRegularFile(path, kHistoryReadLimit, bytes, truncated);
        if (truncated) {
            // The last line read may be cut short: leave it unread.
            const auto lastBreak = bytes.find_last_of("\r\n");
            bytes.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
        }
        items = ParseHistory(bytes);
    } catch (const std::exception&) {
        items.clear();
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        list.SetRecentFileName(static_cast<int>(i), items[i]);
    }
    list.ShowRecentFiles();
}

namespace {

// Makes the missing folders of path, each only for the user (0700), as the
// XDG Base Directory rules ask; folders that exist are left as they are.
void MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(path.c_str(), 0700);
}

}  // namespace

bool SaveHistory(const RecentFileList& list, const std::string& path) {
    std::array<std::u16string, 5> names;
    for (int i = 0; i < RecentSlots::kCount; ++i) names[static_cast<std::size_t>(i)] = list.RecentFileName(i);
    if (path.empty()) return false;
    try {
        // A folder that is missing (the state folder, at the first exit) is
        // made; a failure shows in the write. The recent paths are only the
        // user's to read: a new file is made 0600.
        const auto slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0) MakeFolders(path.substr(0, slash));
        return detail::ReplaceFile(path, FormatHistory(names), detail::InPlace::kRefused, 0600) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tessaly
