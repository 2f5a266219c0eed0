#include "sys/dir_entries.hpp"

#include <errno.h>
#include <sys/stat.h>  // mkdir
#include <unistd.h>    // unlink

namespace diagpack {

Status make_directory(const std::string& path, unsigned mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0)
    return Error::os(errno);
  return {};
}

Status remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return Error::os(errno);
  return {};
}

}  // namespace diagpack
