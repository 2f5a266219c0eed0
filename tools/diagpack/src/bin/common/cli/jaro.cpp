// Jaro's metric: with m matching characters (each matched once, within the
// window) and t half the number of matched characters that are out of
// order, the similarity is (m/|a| + m/|b| + (m - t)/m) / 3, or 0 when
// nothing matches.
//
// The counts are integers, so the similarity is a rational number: with o
// the out-of-order count (t = o/2) it is
//   (2m²·|b| + 2m²·|a| + (2m - o)·|a|·|b|) / (6m·|a|·|b|),
// and comparing it with a threshold p/q is a comparison of two products,
// done exactly in 128 bits. The sum of three quotients in doubles lands on
// either side of a boundary such as 0.7 by rounding alone.
#include "cli/jaro.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "base/utf8.hpp"  // first_utf8_sequence

namespace diagpack {

namespace {

// The code points of |bytes|, each ill-formed subpart read as U+FFFD.
std::u32string code_points(std::string_view bytes) {
  std::u32string out;
  while (!bytes.empty()) {
    const Utf8Sequence seq = first_utf8_sequence(bytes);
    out.push_back(seq.well_formed ? seq.code : kReplacementCharacter);
    bytes.remove_prefix(seq.length);
  }
  return out;
}

// The integers that the similarity is made of.
struct JaroCounts {
  size_t a_length = 0;
  size_t b_length = 0;
  size_t matches = 0;
  size_t out_of_order = 0;  // twice the transpositions
};

JaroCounts jaro_counts(std::string_view a_bytes, std::string_view b_bytes) {
  const std::u32string a = code_points(a_bytes);
  const std::u32string b = code_points(b_bytes);
  JaroCounts counts{a.size(), b.size(), 0, 0};
  if (a.empty() || b.empty()) return counts;

  const size_t longer = std::max(a.size(), b.size());
  const size_t window = longer / 2 >= 1 ? longer / 2 - 1 : 0;

  std::vector<bool> a_matched(a.size(), false);
  std::vector<bool> b_matched(b.size(), false);
  size_t matches = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const size_t lo = i >= window ? i - window : 0;
    const size_t hi = std::min(b.size(), i + window + 1);
    for (size_t j = lo; j < hi; ++j) {
      if (b_matched[j] || a[i] != b[j]) continue;
      a_matched[i] = b_matched[j] = true;
      ++matches;
      break;
    }
  }
  counts.matches = matches;
  if (matches == 0) return counts;

  // Walk both matched sequences in order and count the pairs that differ.
  size_t out_of_order = 0;
  size_t j = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++out_of_order;
    ++j;
  }
  counts.out_of_order = out_of_order;
  return counts;
}

}  // namespace

bool jaro_similarity_above(std::string_view a_bytes, std::string_view b_bytes,
                           unsigned numerator, unsigned denominator) {
  const JaroCounts c = jaro_counts(a_bytes, b_bytes);
  if (c.a_length == 0 && c.b_length == 0) return denominator > numerator;
  if (c.matches == 0) return false;
  using Wide = unsigned __int128;
  const Wide m = c.matches, a = c.a_length, b = c.b_length;
  const Wide sum =
      2 * m * m * b + 2 * m * m * a + (2 * m - c.out_of_order) * a * b;
  return sum * denominator > Wide{6} * m * a * b * numerator;
}

}  // namespace diagpack
