// UTF-8 checks by the Unicode Standard's table of well-formed byte
// sequences, and the texts that name the first fault.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace diagpack {

// The first ill-formed sequence of a byte string.
struct Utf8Fault {
  size_t index = 0;   // bytes before the sequence (all well formed)
  size_t length = 0;  // bytes accepted before the wrong one, lead included
  bool incomplete = false;  // the input ended where a byte was still needed
};

// Returns the first fault of |bytes|, or nothing when they are valid UTF-8.
std::optional<Utf8Fault> find_utf8_fault(std::string_view bytes);

inline bool is_valid_utf8(std::string_view bytes) {
  return !find_utf8_fault(bytes).has_value();
}

// "invalid utf-8 sequence of 1 bytes from index 5" or
// "incomplete utf-8 byte sequence from index 10".
std::string utf8_fault_text(const Utf8Fault& fault);

// The text of a read whose bytes were not UTF-8.
inline constexpr std::string_view kStreamNotUtf8Text =
    "stream did not contain valid UTF-8";

// Decodes |bytes| replacing every maximal ill-formed subpart by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The longest prefix of |bytes| that is valid UTF-8.
std::string_view utf8_valid_prefix(std::string_view bytes);

// Reads each byte as the Latin-1 character of the same number.
std::string latin1_to_utf8(std::string_view bytes);

}  // namespace diagpack
