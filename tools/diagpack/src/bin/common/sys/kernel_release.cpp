#include "sys/kernel_release.hpp"

#include <sys/utsname.h>  // uname

namespace diagpack {

std::optional<std::string> kernel_release_field() {
  struct utsname names = {};
  if (::uname(&names) != 0) return std::nullopt;
  return std::string(names.release, sizeof names.release);
}

}  // namespace diagpack
