// The grammar is checked byte by byte first, so that a fault is reported
// just past the byte that shows it; the whole token is converted after.
// Integers are accumulated digit by digit with an overflow check, since a
// double cannot hold every 64-bit integer. Everything else goes through
// std::from_chars, which never consults the locale. from_chars reports a
// result out of range without saying which way; the token itself tells: a
// number of at least 1 can only have overflowed, a smaller one underflowed.
#include "config/json_number.hpp"

#include <algorithm>  // std::min
#include <charconv>   // std::from_chars
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>  // std::errc

namespace diagpack {
namespace {

constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";

// Reads one or more digits, as a sign, point or exponent mark requires.
bool read_digits(JsonCursor& cursor) {
  if (cursor.at_end()) return cursor.fail_at_end(kJsonEofValueText);
  if (!is_json_digit(cursor.current())) {
    return cursor.fail_past_current(kInvalidNumber);
  }
  while (!cursor.at_end() && is_json_digit(cursor.current())) {
    ++cursor.pos;
    if (cursor.stop_requested()) return false;
  }
  return true;
}

// Reads "-"? int frac? exp?, leaving the cursor just past it.
bool scan_number(JsonCursor& cursor) {
  if (cursor.current() == '-') ++cursor.pos;
  if (cursor.at_end()) return cursor.fail_at_end(kJsonEofValueText);
  if (cursor.current() == '0') {
    ++cursor.pos;
    if (!cursor.at_end() && is_json_digit(cursor.current())) {
      return cursor.fail_past_current(kInvalidNumber);
    }
  } else if (!read_digits(cursor)) {
    return false;
  }
  if (!cursor.at_end() && cursor.current() == '.') {
    ++cursor.pos;
    if (!read_digits(cursor)) return false;
  }
  if (!cursor.at_end() &&
      (cursor.current() == 'e' || cursor.current() == 'E')) {
    ++cursor.pos;
    if (!cursor.at_end() &&
        (cursor.current() == '+' || cursor.current() == '-')) {
      ++cursor.pos;
    }
    if (!read_digits(cursor)) return false;
  }
  return true;
}

// Whether the magnitude of a token of the grammar is at least 1: its
// first significant digit stands at or left of the units place.
bool magnitude_at_least_one(std::string_view token) {
  size_t i = token[0] == '-' ? 1 : 0;
  // Decimal place of the first significant digit: 1 for the units place,
  // 0 for tenths, -1 for hundredths... Saturated far beyond any double.
  constexpr int64_t kCap = int64_t{1} << 40;
  int64_t place = 0;
  bool significant = false;
  size_t int_digits = 0;
  for (; i < token.size() && is_json_digit(token[i]); ++i) ++int_digits;
  if (token[i - int_digits] != '0') {
    place = static_cast<int64_t>(std::min<size_t>(int_digits, kCap));
    significant = true;
  }
  if (i < token.size() && token[i] == '.') {
    ++i;
    int64_t zeros = 0;
    for (; i < token.size() && is_json_digit(token[i]); ++i) {
      if (significant) continue;
      if (token[i] == '0') {
        if (zeros < kCap) ++zeros;
      } else {
        place = -zeros;
        significant = true;
      }
    }
  }
  if (!significant) return false;  // zero
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    bool negative = token[i] == '-';
    if (token[i] == '-' || token[i] == '+') ++i;
    int64_t exponent = 0;
    for (; i < token.size(); ++i) {
      exponent = std::min(kCap, exponent * 10 + (token[i] - '0'));
    }
    place += negative ? -exponent : exponent;
  }
  return place >= 1;
}

// Converts a token that matches the grammar; nothing when it is too large
// for a double.
std::optional<JsonValue> convert_number(std::string_view token) {
  bool negative = token[0] == '-';
  std::string_view digits = token.substr(negative ? 1 : 0);
  if (digits.find_first_of(".eE") == std::string_view::npos) {
    uint64_t magnitude = 0;
    bool fits = true;
    for (char c : digits) {
      uint64_t d = static_cast<uint64_t>(c - '0');
      if (magnitude > (std::numeric_limits<uint64_t>::max() - d) / 10) {
        fits = false;
        break;
      }
      magnitude = magnitude * 10 + d;
    }
    if (fits && !negative) return JsonValue::from_uint64(magnitude);
    constexpr uint64_t kMinMagnitude = uint64_t{1} << 63;  // of INT64_MIN
    if (fits && magnitude <= kMinMagnitude) {
      return JsonValue::from_int64(magnitude == kMinMagnitude
                                       ? std::numeric_limits<int64_t>::min()
                                       : -static_cast<int64_t>(magnitude));
    }
  }
  double value = 0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(),
                                   value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (magnitude_at_least_one(token)) return std::nullopt;
    return JsonValue::from_double(negative ? -0.0 : 0.0);
  }
  if (ec != std::errc() || end != token.data() + token.size()) {
    return std::nullopt;  // cannot happen for a token of the JSON grammar
  }
  return JsonValue::from_double(value);
}

}  // namespace

bool read_json_number(JsonCursor& cursor, JsonValue& out) {
  size_t start = cursor.pos;
  if (!scan_number(cursor)) return false;
  std::optional<JsonValue> value =
      convert_number(cursor.text.substr(start, cursor.pos - start));
  if (!value) return cursor.fail_at(kNumberOutOfRange, cursor.pos);
  out = std::move(*value);
  return true;
}

}  // namespace diagpack
