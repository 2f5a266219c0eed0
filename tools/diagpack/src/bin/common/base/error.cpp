#include "base/error.hpp"

#include <string.h>  // strerror_r (GNU variant)

namespace diagpack {

std::string os_error_text(int code) {
  char buf[256];
  const char* msg = strerror_r(code, buf, sizeof buf);
  return std::string(msg) + " (os error " + std::to_string(code) + ")";
}

Error Error::os(int code) {
  Error e;
  e.kind_ = ErrorKind::Os;
  e.os_code_ = code;
  e.text_ = os_error_text(code);
  return e;
}

Error Error::fixed(ErrorKind kind, std::string text) {
  Error e;
  e.kind_ = kind;
  e.text_ = std::move(text);
  return e;
}

Error Error::interrupted() {
  return fixed(ErrorKind::Interrupted, "stopped by a signal");
}

}  // namespace diagpack
