// mkdir(2) with errors as values. (Removing a file is remove_file in
// remove_tree.hpp.)
#pragma once

#include <string>

#include "base/result.hpp"

namespace diagpack {

// Creates the directory |path| with |mode| (narrowed by the umask). Returns
// the OS error (EEXIST when anything stands there, a link included).
Status make_directory(const std::string& path, unsigned mode);

}  // namespace diagpack
