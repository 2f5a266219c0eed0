// Jaro similarity of two texts, used to suggest the help flag for a
// mistyped long option.
#pragma once

#include <string_view>

namespace diagpack {

// The Jaro similarity of |a| and |b|, in [0, 1], computed over Unicode
// characters: both are decoded as UTF-8 with every ill-formed subpart
// counted as one U+FFFD. Two characters match when they are equal and no
// further apart than max(length) / 2 - 1 (rounded down, never below 0).
// Returns 1 for two empty texts and 0 when exactly one is empty.
double jaro_similarity(std::string_view a, std::string_view b);

// Whether the Jaro similarity of |a| and |b| (as above) is greater than
// |numerator| / |denominator|, strictly, compared exactly in integers: a
// similarity of exactly 0.7 is not above 7/10, which the double above can
// miss by a rounding. |denominator| must not be 0.
bool jaro_similarity_above(std::string_view a, std::string_view b,
                           unsigned numerator, unsigned denominator);

}  // namespace diagpack
