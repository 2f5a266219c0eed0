// Fuzzes the UTF-8 checks against a reference that decodes code points and
// judges them by value (overlong forms, surrogates, the upper limit) rather
// than by the byte-range table the library uses:
// - a fault is found exactly when the reference rejects the bytes;
// - the bytes before the fault are valid, the fault's length is 1 to 3, and
//   an incomplete sequence runs to the end of the input;
// - the fault text has one of the two forms with the fault's numbers;
// - the lossy decoding is valid UTF-8 and leaves valid input unchanged;
// - the bytes checked in three pieces, cut anywhere, give the same fault.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/utf8.hpp"
#include "reference_utf8.hpp"

namespace {

using diagpack::test::reference_valid;

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto fault = diagpack::find_utf8_fault(bytes);
  check(fault.has_value() != reference_valid(bytes));

  if (fault) {
    check(fault->index < size);
    check(reference_valid(bytes.substr(0, fault->index)));
    check(fault->length >= 1 && fault->length <= 3);
    if (fault->incomplete) check(fault->index + fault->length == size);
    const std::string text = diagpack::utf8_fault_text(*fault);
    const std::string index = std::to_string(fault->index);
    check(text ==
          (fault->incomplete
               ? "incomplete utf-8 byte sequence from index " + index
               : "invalid utf-8 sequence of " + std::to_string(fault->length) +
                     " bytes from index " + index));
    check(diagpack::utf8_valid_prefix(bytes) == bytes.substr(0, fault->index));
  }

  const size_t cut1 = size == 0 ? 0 : data[0] % (size + 1);
  const size_t cut2 = cut1 + (size - cut1) / 2;
  diagpack::Utf8Checker checker;
  checker.feed(bytes.substr(0, cut1));
  checker.feed(bytes.substr(cut1, cut2 - cut1));
  checker.feed(bytes.substr(cut2));
  const auto in_pieces = checker.finish();
  check(in_pieces.has_value() == fault.has_value() &&
        (!fault || utf8_fault_text(*in_pieces) == utf8_fault_text(*fault)));

  const std::string lossy = diagpack::utf8_lossy(bytes);
  check(reference_valid(lossy));
  if (!fault) check(lossy == bytes);
  return 0;
}
