// Loading and saving text documents held in code page 932.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly {

// Error numbers are errno values, plus these of our own.
inline constexpr int kErrNotRegularFile = -1000;  // a FIFO, device, socket...

// The bytes of a file that will not be written back as they were when its
// text is saved: each line is taken on its own, its terminator aside (a lone
// CR becoming CR LF is not counted).
struct FileByteLoss {
    std::uint64_t count = 0;
    std::size_t firstLine = 0;  // line of the first one, from 1; 0 when none
};

FileByteLoss FindFileByteLoss(std::string_view bytes);

struct LoadedText {
    int error = 0;  // 0 on success
    std::u16string text;
    FileByteLoss loss;  // of the bytes read, on success
    std::uint64_t lines = 1;  // lines of text (its CR LFs, plus one)
};

// The editor text for a file's bytes: lines end at CR LF or a lone CR (a lone
// LF stays inside its line); every line is converted and followed by CR LF.
// With loss, also counts what FindFileByteLoss counts, in the same pass.
std::u16string FileBytesToEditorText(std::string_view bytes, FileByteLoss* loss = nullptr);

// The bytes saved for an editor text: its code-page bytes followed by CR LF.
std::string EditorTextToFileBytes(std::u16string_view text);

// Reads a whole regular file, converting it a piece at a time as it is
// read, and tells which of its bytes will not come back. On any failure,
// error is set and text is empty: a folder gives EISDIR, a FIFO, device or
// socket kErrNotRegularFile.
LoadedText ReadTextDocument(const std::string& path);

// Writes the text so that the target is replaced only when every byte is on
// disk; on failure the target is left exactly as it was. Returns 0 or the error.
// A symlink is followed and the file it names is written. An existing file
// that access(W_OK) refuses gives EACCES (or EROFS) and is left alone; one
// that is not a regular file is refused like in ReadTextDocument. The saved
// file keeps its owner, group, permission bits, extended attributes, ACLs
// and hard links: where a new file renamed over it could not keep them, or
// the folder refuses the new file or the rename, it is rewritten in place,
// room for the new bytes reserved before any old one changes.
int WriteTextDocument(const std::string& path, std::u16string_view text);

// Whether something (a file, a folder, even a dangling symlink) has this
// name, whether or not the user may read it. Errors other than "no such
// file" (a folder on the way that cannot be searched) count as no: the save
// that follows reports them.
bool NameExists(const std::string& path);

// The description of a failure shown to the user (Japanese for the common ones).
std::u16string DescribeFileError(int error);

}  // namespace tessaly
