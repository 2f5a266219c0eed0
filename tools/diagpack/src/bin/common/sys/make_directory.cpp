#include "sys/make_directory.hpp"

#include <errno.h>
#include <sys/stat.h>  // mkdir

namespace diagpack {

Status make_directory(const std::string& path, unsigned mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0)
    return Error::os(errno);
  return {};
}

}  // namespace diagpack
