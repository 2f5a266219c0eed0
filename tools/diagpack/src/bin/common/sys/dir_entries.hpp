// Making and removing one name in a directory: mkdir(2) and unlink(2) with
// errors as values. Nothing is followed or retried: a name that exists, or
// is missing, is the caller's to judge from the error.
#pragma once

#include <string>

#include "base/result.hpp"

namespace diagpack {

// Creates the directory |path| with |mode| (narrowed by the umask). Returns
// the OS error (EEXIST when anything stands there, a link included).
Status make_directory(const std::string& path, unsigned mode);

// Removes the non-directory name |path|; a link goes, its target stays.
// Returns the OS error (ENOENT when nothing is there, EISDIR for a
// directory).
Status remove_file(const std::string& path);

}  // namespace diagpack
