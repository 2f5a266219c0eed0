// Reading of JSON strings: RFC 8259 escapes, with \u surrogate pairs
// combined into one UTF-8 sequence and unpaired surrogates rejected.
#pragma once

#include <string>

#include "config/json_cursor.hpp"

namespace diagpack {

// Reads the string whose opening quote is under |cursor.pos| into |out|,
// escapes resolved, and leaves the cursor just past the closing quote.
// Bytes from 0x20 up other than '"' and '\' are taken as they are. Returns
// false after recording the failure in |cursor|: the text ends inside the
// string, a raw byte 0x00-0x1F, an unknown escape, a lone surrogate.
bool read_json_string(JsonCursor& cursor, std::string& out);

}  // namespace diagpack
