#include "documents/file_ops.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

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

// Rewrites target in place without ever leaving a mix of old and new bytes
// behind a failure it can foresee: room for every new byte is reserved first
// (running out of disk or past the file-size limit fails there, before a byte
// changes); the bytes then overwrite the old ones, and only after all are
// written is the file cut to their length. What no reservation prevents (an
// I/O error, a copy-on-write file system refusing to rewrite its blocks) can
// still leave the file changed, with the error reported.
int WriteInPlace(const std::string& target, std::string_view bytes) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno;
    FdGuard guard(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return kErrNotRegularFile;
    ::fcntl(fd, F_SETFL, 0);
    const off_t newSize = static_cast<off_t>(bytes.size());
    if (newSize > 0) {
        if (const int error = ::posix_fallocate(fd, 0, newSize)) {
            // A reservation that failed part-way may have grown the file.
            struct stat now {};
            if (::fstat(fd, &now) == 0 && now.st_size != st.st_size) (void)!::ftruncate(fd, st.st_size);
            return error;
        }
    }
    for (off_t done = 0; done < newSize;) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - static_cast<std::size_t>(done), done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += n;
    }
    if (newSize < st.st_size && ::ftruncate(fd, newSize) != 0) return errno;
    if (::fsync(fd) != 0) return errno;
    return 0;
}

// The value of the extended attribute name of the file at path, or an errno.
int ReadXattr(const std::string& path, const char* name, std::string& value) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
        if (size < 0) return errno;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t n = ::getxattr(path.c_str(), name, value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return 0;
        }
        if (errno != ERANGE) return errno;  // ERANGE: it grew meanwhile
    }
    return ERANGE;
}

// The names of the extended attributes (ACLs among them) of fd, or of the
// file at path when fd is negative. A file system without any gives none.
int ListXattrs(int fd, const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::string list;
    for (int attempt = 0;; ++attempt) {
        const ssize_t size = fd >= 0 ? ::flistxattr(fd, nullptr, 0) : ::listxattr(path.c_str(), nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? 0 : errno;
        list.resize(static_cast<std::size_t>(size));
        const ssize_t n = fd >= 0 ? ::flistxattr(fd, list.data(), list.size())
                                  : ::listxattr(path.c_str(), list.data(), list.size());
        if (n >= 0) {
            list.resize(static_cast<std::size_t>(n));
            break;
        }
        if (errno != ERANGE || attempt == 8) return errno;
    }
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = std::min(list.find('\0', at), list.size());
        if (end > at) names.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return 0;
}

// Gives the new file fd what the file at target has beside its bytes: its
// owner and group, permission bits, and exactly its extended attributes
// (ACLs are attributes too; those the new file got from its folder and the
// target lacks are removed). Carries over all it can and returns 0, or the
// errno of the first thing it could not: replacing the target loses that.
int CarryOver(int fd, const std::string& target, const struct stat& st) {
    int lost = 0;
    const auto note = [&lost](bool failed) {
        if (failed && lost == 0) lost = errno;
    };
    // The owner first: a change of owner clears set-user-ID bits.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) note(::fchown(fd, st.st_uid, st.st_gid) != 0);
    note(::fchmod(fd, st.st_mode & 07777) != 0);
    std::vector<std::string> wanted;
    std::vector<std::string> present;
    if (const int error = ListXattrs(-1, target, wanted)) return lost ? lost : error;
    std::string value;
    for (const std::string& name : wanted) {
        if (const int error = ReadXattr(target, name.c_str(), value)) {
            if (lost == 0) lost = error;
            continue;
        }
        note(::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0);
    }
    if (const int error = ListXattrs(fd, target, present)) return lost ? lost : error;
    for (const std::string& name : present) {
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) note(::fremovexattr(fd, name.c_str()) != 0);
    }
    return lost;
}

void SyncFolder(const std::string& target) {
    const std::string folder = FolderOf(target);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

RegularFileReader::~RegularFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

int RegularFileReader::Open(const std::string& path) {
    // O_NONBLOCK keeps the open of a FIFO without a writer from blocking.
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return errno;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return kErrNotRegularFile;
    ::fcntl(fd_, F_SETFL, 0);
    size_ = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return 0;
}

int RegularFileReader::Read(char* out, std::size_t n, std::size_t& got) {
    got = 0;
    for (;;) {
        const ssize_t r = ::read(fd_, out, n);
        if (r >= 0) {
            got = static_cast<std::size_t>(r);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int ReadRegularFile(const std::string& path, std::size_t limit, std::string& out,
                    bool& truncated) {
    out.clear();
    truncated = false;
    RegularFileReader file;
    if (const int error = file.Open(path)) return error;

    // The size is only a hint: the file may grow or shrink while it is read.
    std::size_t size = 0;
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(limit, file.SizeHint() + 1)));
    for (;;) {
        if (size == out.size()) {
            if (size >= limit) {
                truncated = true;
                break;
            }
            out.resize(std::min(limit, size + std::max<std::size_t>(size, 65536)));
        }
        std::size_t n = 0;
        if (const int error = file.Read(out.data() + size, out.size() - size, n)) {
            out.resize(size);
            truncated = true;
            return error;
        }
        if (n == 0) break;
        size += n;
    }
    out.resize(size);
    return 0;
}

int ReplaceFile(const std::string& path, std::string_view bytes, InPlace inPlace, mode_t newFileMode) {
    std::string target;
    struct stat st {};
    bool exists = false;
    if (const int error = ResolveTarget(path, target, st, exists)) return error;
    const bool mayWriteInPlace = exists && inPlace == InPlace::kAllowed;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return EISDIR;
        if (!S_ISREG(st.st_mode)) return kErrNotRegularFile;
        // A file the user may not write is never replaced, even though the
        // folder might let us rename over it.
        if (::access(target.c_str(), W_OK) != 0) return errno;
        // A new file would leave the other names of the old one behind.
        if (mayWriteInPlace && st.st_nlink > 1) return WriteInPlace(target, bytes);
    }

    std::string temp;
    int fd = -1;
    if (const int error = CreateTemporary(target, exists ? 0600 : newFileMode, temp, fd)) {
        const bool folderLocked = error == EACCES || error == EPERM;
        if (mayWriteInPlace && folderLocked) return WriteInPlace(target, bytes);
        return error;
    }
    if (exists) {
        const int lost = CarryOver(fd, target, st);
        if (lost != 0 && mayWriteInPlace) {
            ::close(fd);
            ::unlink(temp.c_str());
            return WriteInPlace(target, bytes);
        }
        // Otherwise (our own files) what could be carried over is enough.
    }
    if (const int error = FinishWrite(fd, bytes)) {
        ::unlink(temp.c_str());
        return error;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        // A rename refused where writing is allowed: a sticky folder, a file
        // that is a mount point.
        const bool refused = error == EPERM || error == EACCES || error == EBUSY;
        if (mayWriteInPlace && refused) return WriteInPlace(target, bytes);
        return error;
    }
    SyncFolder(target);
    return 0;
}

}  // namespace tessaly::detail
