// Reading of JSON strings: RFC 8259 escapes, with \u surrogate pairs
// combined into one UTF-8 sequence and unpaired surrogates rejected.
#pragma once

#include <cstddef>
#include <string>

#include "config/json_cursor.hpp"

namespace diagpack {

// Reads the string whose opening quote is under |cursor.pos|, appending it
// to |out| with its escapes resolved, and leaves the cursor just past the
// closing quote. Bytes from 0x20 up other than '"' and '\' are taken as they
// are. Of the string only its first |limit| bytes are appended (enough to
// tell whether it equals a name |limit| - 1 bytes long); with a null |out|
// it is only checked. Either way the whole string is read and judged alike.
// Returns false after recording the failure in |cursor|: the text ends
// inside the string, a raw byte 0x00-0x1F, an unknown escape, a lone
// surrogate.
bool read_json_string(JsonCursor& cursor, std::string* out,
                      size_t limit = std::string::npos);

}  // namespace diagpack
