// Removal of a directory tree that never follows a symbolic link: every
// directory is opened relative to its parent with O_NOFOLLOW, and entries
// are removed with unlinkat, so a link planted anywhere in the tree is
// removed itself and its target is never touched.
#pragma once

#include <string>

#include "base/result.hpp"

namespace diagpack {

// Removes |path| and everything below it. A symbolic link at |path| is
// unlinked (its target stays). An entry below |path| that vanishes while
// the tree is removed is skipped. Returns the status error of |path| or the
// first other error; what was removed by then stays removed.
//
// The walk keeps one open directory per level of the tree on an explicit
// stack, so depth costs descriptors (EMFILE ends a tree deeper than the
// descriptor limit) but never the call stack.
Status remove_dir_all(const std::string& path);

// Removes the file at |path| that is not a directory (a symbolic link
// itself, never its target). Nothing at |path| is success. Returns the
// unlink error otherwise (EISDIR for a directory).
Status remove_file(const std::string& path);

}  // namespace diagpack
