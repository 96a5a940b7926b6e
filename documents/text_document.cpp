#include "documents/text_document.h"

#include <algorithm>
#include <cerrno>
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

std::u16string FileBytesToEditorText(std::string_view bytes, FileByteLoss* loss) {
    std::u16string text;
    // A byte never gives more than one unit, and every CR (plus a last line
    // without a terminator) at most two.
    text.reserve(bytes.size() + static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\r')) + 2);
    AskForLargePages(text.data(), text.capacity() * sizeof(char16_t));
    for (std::size_t line = 1; !bytes.empty(); ++line) {
        const auto cr = std::min(bytes.find('\r'), bytes.size());
        if (loss) {
            ByteLoss lineLoss;
            CodePageBridge::AppendText(text, bytes.substr(0, cr), true, lineLoss);
            if (lineLoss.count != 0 && loss->count == 0) loss->firstLine = line;
            loss->count += lineLoss.count;
        } else {
            CodePageBridge::AppendText(text, bytes.substr(0, cr));
        }
        text += u"\r\n";
        bytes.remove_prefix(cr);
        if (bytes.starts_with("\r\n")) {
            bytes.remove_prefix(2);
        } else if (!bytes.empty()) {
            bytes.remove_prefix(1);
        }
    }
    return text;
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
        std::string bytes;
        bool truncated = false;
        result.error = detail::ReadRegularFile(path, bytes.max_size(), bytes, truncated);
        if (result.error == 0) {
            result.text = FileBytesToEditorText(bytes, &result.loss);
        }
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
