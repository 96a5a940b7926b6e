#include "documents/io.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace tessaly {

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

void IgnoreFileSizeSignal() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace tessaly
