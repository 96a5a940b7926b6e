// POSIX file helpers shared by the history file and text documents.
// Internal to documents/; errors are errno values or kErrNotRegularFile.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
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

// A regular file read a piece at a time, into the reader's own buffer.
class RegularFileReader {
public:
    RegularFileReader() = default;
    ~RegularFileReader();
    RegularFileReader(const RegularFileReader&) = delete;
    RegularFileReader& operator=(const RegularFileReader&) = delete;

    // 0, or the error: a folder gives EISDIR, a FIFO, device or socket
    // kErrNotRegularFile (it is never opened in a way that could block).
    int Open(const std::string& path);
    // The size when it was opened: a hint, as the file may grow or shrink.
    std::uint64_t SizeHint() const { return size_; }
    // Reads up to n bytes into out; got is 0 at end of file. 0 or the error.
    int Read(char* out, std::size_t n, std::size_t& got);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

enum class InPlace { kRefused, kAllowed };

// Replaces the content of the file at path with bytes. A symlink is followed
// and the file it names is written; a file that exists but fails
// access(W_OK) is refused before anything is written. The bytes normally go
// to a new file beside the target, which gets the target's owner, group,
// permission bits and extended attributes (ACLs among them), is synced and
// renamed over it: the target is never seen half-written. A new file is
// created with newFileMode less the umask.
// With InPlace::kAllowed the file is instead rewritten in place (reserving
// room first, so that running out of disk or past the file-size limit fails
// before anything changes) whenever a new file would lose something: the
// target has other hard links, the folder does not let us create the new
// file, the new file cannot get the target's owner or attributes, or the
// rename is refused (a sticky folder). With InPlace::kRefused the rename is
// the only way, carrying over what it can. Returns 0 or the error.
int ReplaceFile(const std::string& path, std::string_view bytes, InPlace inPlace, mode_t newFileMode = 0666);

}  // namespace tessaly::detail
