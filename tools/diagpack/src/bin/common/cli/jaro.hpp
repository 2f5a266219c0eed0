// Jaro similarity of two texts, used to suggest the help flag for a
// mistyped long option.
#pragma once

#include <string_view>

namespace diagpack {

// Whether the Jaro similarity of |a| and |b| is greater than |numerator| /
// |denominator|, strictly. The similarity is in [0, 1], computed over
// Unicode characters: both are decoded as UTF-8 with every ill-formed
// subpart counted as one U+FFFD. Two characters match when they are equal
// and no further apart than max(length) / 2 - 1 (rounded down, never below
// 0). It is 1 for two empty texts and 0 when exactly one is empty. The
// comparison is exact, in integers: a similarity of exactly 0.7 is not
// above 7/10, which a sum of quotients in doubles can miss by a rounding.
// |denominator| must not be 0.
bool jaro_similarity_above(std::string_view a, std::string_view b,
                           unsigned numerator, unsigned denominator);

}  // namespace diagpack
