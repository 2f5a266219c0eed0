// An independent judge of UTF-8 for the tests: it decodes code points and
// judges them by value (overlong forms, surrogates, the upper limit) rather
// than by the byte-range table the library's decoder uses, so a fault in
// that table cannot pass unnoticed in the tests that use this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace diagpack::test {

// Length of the valid sequence at |pos|, or 0 when it is not one.
inline size_t reference_sequence(std::string_view s, size_t pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  size_t len = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 0;
  if (len == 0 || pos + len > s.size()) return 0;
  uint32_t cp = len == 1 ? lead : lead & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[pos + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

inline bool reference_valid(std::string_view s) {
  for (size_t pos = 0; pos < s.size();) {
    const size_t len = reference_sequence(s, pos);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

}  // namespace diagpack::test
