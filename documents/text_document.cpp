#include "documents/text_document.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>

#include "codec/codepage.h"
#include "codec/fidelity.h"
#include "codec/large_pages.h"
#include "codec/utf8.h"
#include "documents/file_ops.h"
#include "documents/memory_budget.h"

namespace tessaly {

namespace {

// The editor text of a file's bytes, built from them a piece at a time.
class EditorTextBuilder {
public:
    explicit EditorTextBuilder(FileByteLoss* loss) : loss_(loss) {}

    // Room for what units bytes more can give: one unit a byte, two for a
    // lone CR, and the CR LF after the last line.
    void Room(std::size_t bytes) {
        const std::size_t need = text_.size() + 2 * bytes + 2;
        if (need <= text_.capacity()) return;
        Reserve(std::max(need, text_.capacity() + text_.capacity() / 2));
    }
    void Reserve(std::size_t units) {
        text_.reserve(units);
        AskForLargePages(text_.data(), text_.capacity() * sizeof(char16_t));
    }

    // Converts the lines of bytes that continue what came before and returns
    // how many bytes it took: unless last, a CR or a lead byte that ends
    // bytes is left for the bytes after it.
    std::size_t Take(std::string_view bytes, bool last) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t cr = bytes.find('\r', at);
            const std::size_t stop = std::min(cr, bytes.size());
            if (stop > at) {
                const std::string_view part = bytes.substr(at, stop - at);
                const bool final = cr != std::string_view::npos || last;  // the line ends with part
                std::size_t used = 0;
                if (loss_) {
                    ByteLoss lineLoss;
                    used = CodePageBridge::AppendText(text_, part, final, lineLoss);
                    if (lineLoss.count != 0 && loss_->count == 0) loss_->firstLine = line_;
                    loss_->count += lineLoss.count;
                } else {
                    used = CodePageBridge::AppendText(text_, part, final);
                }
                open_ = true;
                at += used;
                if (at < stop) return at;
            }
            if (cr == std::string_view::npos) break;
            if (cr + 1 == bytes.size() && !last) return cr;  // CR LF or a lone CR: the next byte tells
            EndLine();
            at = cr + 1 + (cr + 1 < bytes.size() && bytes[cr + 1] == '\n' ? 1 : 0);
        }
        if (last && open_) EndLine();
        return at;
    }

    std::u16string& Text() { return text_; }
    // Lines of the text: its CR LFs, plus one.
    std::uint64_t Lines() const { return breaks_ + 1; }

private:
    void EndLine() {
        text_ += u"\r\n";
        ++breaks_;
        ++line_;
        open_ = false;
    }

    FileByteLoss* loss_;
    std::u16string text_;
    std::uint64_t breaks_ = 0;
    std::size_t line_ = 1;  // of the bytes being taken, from 1
    bool open_ = false;     // bytes of the line have been taken
};

// Bytes read from a file at a time.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

}  // namespace

std::u16string FileBytesToEditorText(std::string_view bytes, FileByteLoss* loss) {
    EditorTextBuilder builder(loss);
    // A byte never gives more than one unit, and every CR (plus a last line
    // without a terminator) at most two.
    builder.Reserve(bytes.size() + static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\r')) + 2);
    builder.Take(bytes, true);
    return std::move(builder.Text());
}

FileByteLoss FindFileByteLoss(std::string_view bytes) {
    FileByteLoss loss;
    for (std::size_t line = 1; !bytes.empty(); ++line) {
        const auto cr = std::min(bytes.find('\r'), bytes.size());
        const std::uint64_t lost = FindByteLoss(bytes.substr(0, cr)).count;
        if (lost != 0 && loss.count == 0) loss.firstLine = line;
        loss.count += lost;
        bytes.remove_prefix(cr);
        bytes.remove_prefix(bytes.starts_with("\r\n") ? 2 : std::min<std::size_t>(bytes.size(), 1));
    }
    return loss;
}

std::string EditorTextToFileBytes(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2 + 2);
    AskForLargePages(bytes.data(), bytes.capacity());
    CodePageBridge::AppendBytes(bytes, text);
    bytes += "\r\n";
    return bytes;
}

LoadedText ReadTextDocument(const std::string& path) {
    LoadedText result;
    // A file too large to hold is refused before it is read: past what the
    // system can back, Linux ends the process instead of failing an allocation.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        !MemoryAvailableFor(LoadMemoryFor(static_cast<std::uint64_t>(st.st_size)))) {
        result.error = ENOMEM;
        return result;
    }
    try {
        detail::RegularFileReader file;
        result.error = file.Open(path);
        if (result.error != 0) return result;
        EditorTextBuilder builder(&result.loss);
        // Room for the text of the whole file when each of its bytes gives
        // a unit at most, as it does but for lone CRs.
        builder.Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(file.SizeHint(), SIZE_MAX / 4)) + 2 * kReadPiece + 2);
        // What a piece left (a CR or a lead byte) goes before the next one.
        std::unique_ptr<char[]> buffer(new char[kReadPiece + 2]);
        std::size_t left = 0;
        for (;;) {
            std::size_t got = 0;
            result.error = file.Read(buffer.get() + left, kReadPiece, got);
            if (result.error != 0) {
                result.text.clear();
                result.loss = {};
                return result;
            }
            const bool last = got == 0;
            builder.Room(left + got);
            const std::size_t used = builder.Take(std::string_view(buffer.get(), left + got), last);
            left = left + got - used;
            std::memmove(buffer.get(), buffer.get() + used, left);
            if (last) break;
        }
        result.lines = builder.Lines();
        result.text = std::move(builder.Text());
    } catch (const std::bad_alloc&) {
        result.error = ENOMEM;
        result.text.clear();
        result.loss = {};
    }
    return result;
}

int WriteTextDocument(const std::string& path, std::u16string_view text) {
    try {
        return detail::ReplaceFile(path, EditorTextToFileBytes(text), detail::InPlace::kAllowed);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

bool NameExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::u16string DescribeFileError(int error) {
    switch (error) {
        case ENOENT: return u"ファイルまたはフォルダーが見つかりません。";
        case EACCES:
        case EPERM: return u"アクセスが拒否されました。";
        case EISDIR: return u"フォルダーはファイルとして開けません。";
        case ENOSPC:
        case EDQUOT: return u"ディスクの空き容量が不足しています。";
        case EROFS: return u"読み取り専用のファイル システムです。";
        case ENAMETOOLONG: return u"ファイル名が長すぎます。";
        case ENOTDIR: return u"パスの途中にフォルダーでないものがあります。";
        case ENOMEM: return u"メモリが不足しています。";
        case EFBIG: return u"ファイルが大きすぎます。";
        case EIO: return u"入出力エラーが発生しました。";
        case ELOOP: return u"シンボリック リンクが多すぎます。";
        case kErrNotRegularFile: return u"通常のファイルではありません。";
        default: return Utf8ToUtf16(std::error_code(error, std::generic_category()).message());
    }
}

}  // namespace tessaly
