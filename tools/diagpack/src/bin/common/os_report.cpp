#include "stages.hpp"

namespace diagpack {

Status collect_os_info(const std::string&, const ComponentInfo&) {
  return Error::fixed(ErrorKind::Other, "not built yet");
}

}  // namespace diagpack
