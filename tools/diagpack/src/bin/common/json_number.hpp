// Conversion of a JSON number token to the value the reader keeps.
#pragma once

#include <optional>
#include <string_view>

#include "json_value.hpp"

namespace diagpack {

// Converts |token|, which must already match the JSON number grammar
// ("-"? int frac? exp?). An integer without fraction or exponent that fits 64
// bits becomes a uint64 (no minus sign) or an int64 (minus sign); anything
// else becomes the nearest double, or zero when it is too small for one.
// Returns nothing when the number is too large for a double.
std::optional<JsonValue> convert_json_number(std::string_view token);

}  // namespace diagpack
