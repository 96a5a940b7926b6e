// The one write loop of the program: for saved files and for tessaly-cli.
#pragma once

#include <string_view>

namespace tessaly {

// Writes all of bytes to fd, going on after short writes and EINTR; returns
// 0 or the errno of the failure (EIO when write gives 0).
int WriteAll(int fd, std::string_view bytes);

// Makes a write past the file-size limit (ulimit -f) fail with EFBIG, which
// is reported like any other write error, instead of ending the process with
// SIGXFSZ. Called first thing in main by every program that writes files.
void IgnoreFileSizeSignal();

}  // namespace tessaly
