// The status of a file (stat(2), lstat(2), fstat(2)) with errors as
// values. Paths are passed to the system as C strings, so a path holding a
// zero byte is read up to it; callers that take paths from outside reject
// such paths first (reject_nul_byte).
#pragma once

#include <sys/stat.h>

#include <string>

#include "base/result.hpp"

namespace diagpack {

// The status of what |path| names, links followed. Returns the OS error
// (ENOENT for a dangling link, ELOOP for a link loop).
Result<struct stat> status_following_links(const std::string& path);

// The status of |path| itself: a link describes the link. Returns the OS
// error.
Result<struct stat> status_of_link(const std::string& path);

// The status of the file open on |fd|. Returns the OS error (EBADF for a
// descriptor that is not open).
Result<struct stat> status_of_fd(int fd);

}  // namespace diagpack
