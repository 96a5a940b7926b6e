#include "documents/file_ops.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "documents/io.h"
#include "documents/text_document.h"

namespace tessaly::detail {
namespace {

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() { if (fd_ >= 0) ::close(fd_); }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;

private:
    int fd_;
};

// Writes, syncs and closes fd, closing it in every case.
int FinishWrite(int fd, std::string_view bytes) {
    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symlinks from path to the file they name, which need not exist.
int ResolveTarget(const std::string& path, std::string& target, struct stat& st,
                  bool& exists) {
    target = path;
    for (int hops = 0;; ++hops) {
        if (::lstat(target.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            exists = false;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            return 0;
        }
        if (hops == 40) return ELOOP;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), link, sizeof link);
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) == sizeof link) return ENAMETOOLONG;
        const std::string text(link, static_cast<std::size_t>(n));
        target = text.starts_with('/') ? text : FolderOf(target) + text;
    }
}

// Creates a new, empty file beside target under a name nobody else uses.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temp, int& fd) {
    static unsigned counter = 0;
    const std::string folder = FolderOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        char name[64];
        std::snprintf(name, sizeof name, ".tessaly-%ld-%u-%lx.tmp", static_cast<long>(::getpid()),
                      ++counter, static_cast<unsigned long>(now.tv_nsec));
        temp = folder + name;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int WriteInPlace(const std::string& target, std::string_view bytes) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    return FinishWrite(fd, bytes);
}

void SyncFolder(const std::string& target) {
    const std::string folder = FolderOf(target);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

int ReadRegularFile(const std::string& path, std::size_t limit, std::string& out,
                    bool& truncated) {
    out.clear();
    truncated = false;
    // O_NONBLOCK keeps the open of a FIFO without a writer from blocking.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    FdGuard guard(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return kErrNotRegularFile;
    ::fcntl(fd, F_SETFL, 0);

    // The size is only a hint: the file may grow or shrink while it is read.
    std::size_t size = 0;
    out.resize(std::min(limit, static_cast<std::size_t>(st.st_size) + 1));
    for (;;) {
        if (size == out.size()) {
            if (size >= limit) {
                truncated = true;
                break;
            }
            out.resize(std::min(limit, size + std::max<std::size_t>(size, 65536)));
        }
        const ssize_t n = ::read(fd, out.data() + size, out.size() - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            out.resize(size);
            truncated = true;
            return error;
        }
        if (n == 0) break;
        size += static_cast<std::size_t>(n);
    }
    out.resize(size);
    return 0;
}

int ReplaceFile(const std::string& path, std::string_view bytes, InPlace inPlace) {
    std::string target;
    struct stat st {};
    bool exists = false;
    if (const int error = ResolveTarget(path, target, st, exists)) return error;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return EISDIR;
        if (!S_ISREG(st.st_mode)) return kErrNotRegularFile;
        // A file the user may not write is never replaced, even though the
        // folder might let us rename over it.
        if (::access(target.c_str(), W_OK) != 0) return errno;
    }

    std::string temp;
    int fd = -1;
    // A new file gets 0666 less the umask from open itself.
    if (const int error = CreateTemporary(target, exists ? 0600 : 0666, temp, fd)) {
        const bool folderLocked = error == EACCES || error == EPERM;
        if (exists && folderLocked && inPlace == InPlace::kAllowed) return WriteInPlace(target, bytes);
        return error;
    }
    int error = 0;
    if (exists) {
        // Ownership is kept where we may (root); the permission bits always.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)!::fchown(fd, st.st_uid, st.st_gid);
        if (::fchmod(fd, st.st_mode & 07777) != 0) error = errno;
    }
    if (error == 0) {
        error = FinishWrite(fd, bytes);
    } else {
        ::close(fd);
    }
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    SyncFolder(target);
    return 0;
}

}  // namespace tessaly::detail
