// POSIX file helpers shared by the history file and text documents.
// Internal to documents/; errors are errno values or kErrNotRegularFile.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly::detail {

// Reads a regular file (never a FIFO, device or folder, so it cannot block)
// until end of file or until limit bytes are read. truncated tells whether
// the read stopped before end of file, at the limit or at a read error; the
// result is then 0 at the limit and the error otherwise, with out holding
// what was read. On an open/stat failure out is empty.
int ReadRegularFile(const std::string& path, std::size_t limit, std::string& out,
                    bool& truncated);

enum class InPlace { kRefused, kAllowed };

// Replaces the content of the file at path with bytes without ever leaving
// it half-written: the bytes go to a new file beside it, which is synced and
// renamed over it, keeping its permission bits. A symlink is followed and
// the file it names is replaced. A file that exists but fails access(W_OK)
// is refused before anything is written. With InPlace::kAllowed, a writable
// file in a folder that does not let us create the temporary file is
// rewritten in place instead. Returns 0 or the error.
int ReplaceFile(const std::string& path, std::string_view bytes, InPlace inPlace);

}  // namespace tessaly::detail
