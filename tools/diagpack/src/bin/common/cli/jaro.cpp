// Jaro's metric: with m matching characters (each matched once, within the
// window) and t half the number of matched characters that are out of
// order, the similarity is (m/|a| + m/|b| + (m - t)/m) / 3, or 0 when
// nothing matches.
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

}  // namespace

double jaro_similarity(std::string_view a_bytes, std::string_view b_bytes) {
  const std::u32string a = code_points(a_bytes);
  const std::u32string b = code_points(b_bytes);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;

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
  if (matches == 0) return 0.0;

  // Walk both matched sequences in order and count the pairs that differ.
  size_t out_of_order = 0;
  size_t j = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++out_of_order;
    ++j;
  }
  const double m = static_cast<double>(matches);
  const double t = static_cast<double>(out_of_order) / 2.0;
  return (m / static_cast<double>(a.size()) +
          m / static_cast<double>(b.size()) + (m - t) / m) /
         3.0;
}

}  // namespace diagpack
