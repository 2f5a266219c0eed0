// Reading of JSON numbers and their conversion to the value the reader keeps.
#pragma once

#include "config/json_cursor.hpp"
#include "config/json_value.hpp"

namespace diagpack {

// Reads the number that starts under |cursor.pos| ('-' or a digit) into
// |out| and leaves the cursor just past it. An integer without fraction or
// exponent that fits 64 bits becomes a uint64 (no minus sign) or an int64
// (minus sign); anything else becomes the nearest double, or zero when it is
// too small for one. Returns false after recording the failure in |cursor|:
// "invalid number" (a sign, point or exponent mark without a digit after
// it, or a leading zero followed by a digit), "number out of range" (too
// large for a double), or the end of the text where a digit is due.
bool read_json_number(JsonCursor& cursor, JsonValue& out);

}  // namespace diagpack
