#include "config/json_string.hpp"

#include <algorithm>  // std::min
#include <cstdint>

namespace diagpack {
namespace {

constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kLoneSurrogate =
    "lone leading surrogate in hex escape";
constexpr std::string_view kHexEscapeEnd = "unexpected end of hex escape";

// Where the string's bytes go: appended to |out| up to |limit| bytes in
// all, the rest dropped; nowhere when |out| is null.
struct StringSink {
  std::string* out;
  size_t limit;

  void put(std::string_view bytes) {
    if (out == nullptr || out->size() >= limit) return;
    out->append(bytes.substr(0, limit - out->size()));
  }
};

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Puts the scalar value |cp| (never a surrogate) as UTF-8.
void put_utf8(StringSink& out, uint32_t cp) {
  char bytes[4];
  size_t n = 0;
  if (cp < 0x80) {
    bytes[n++] = static_cast<char>(cp);
  } else if (cp < 0x800) {
    bytes[n++] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    bytes[n++] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    bytes[n++] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  }
  out.put(std::string_view(bytes, n));
}

// Reads the four hexadecimal digits after "\u" into |unit|.
bool read_hex4(JsonCursor& cursor, uint32_t& unit) {
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    if (cursor.at_end()) return cursor.fail_at_end(kEofString);
    int digit = hex_digit_value(cursor.current());
    if (digit < 0) return cursor.fail_past_current(kInvalidEscape);
    unit = unit * 16 + static_cast<uint32_t>(digit);
    ++cursor.pos;
  }
  return true;
}

bool is_leading_surrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_trailing_surrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Reads "\uXXXX" (the 'u' under the cursor) and, after a leading surrogate,
// the "\uXXXX" of its trailing surrogate. A surrogate fault is reported
// just past the four digits that show it.
bool read_unicode_escape(JsonCursor& cursor, StringSink& out) {
  ++cursor.pos;  // 'u'
  uint32_t unit = 0;
  if (!read_hex4(cursor, unit)) return false;
  if (is_trailing_surrogate(unit)) {
    return cursor.fail_at(kLoneSurrogate, cursor.pos);
  }
  if (!is_leading_surrogate(unit)) {
    put_utf8(out, unit);
    return true;
  }
  for (char expected : {'\\', 'u'}) {
    if (cursor.at_end()) return cursor.fail_at_end(kEofString);
    if (cursor.current() != expected) {
      return cursor.fail_past_current(kHexEscapeEnd);
    }
    ++cursor.pos;
  }
  uint32_t trail = 0;
  if (!read_hex4(cursor, trail)) return false;
  if (!is_trailing_surrogate(trail)) {
    return cursor.fail_at(kLoneSurrogate, cursor.pos);
  }
  put_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00));
  return true;
}

// Reads the escape whose backslash was just passed.
bool read_escape(JsonCursor& cursor, StringSink& out) {
  if (cursor.at_end()) return cursor.fail_at_end(kEofString);
  char plain = 0;
  switch (cursor.current()) {
    case '"':
      plain = '"';
      break;
    case '\\':
      plain = '\\';
      break;
    case '/':
      plain = '/';
      break;
    case 'b':
      plain = '\b';
      break;
    case 'f':
      plain = '\f';
      break;
    case 'n':
      plain = '\n';
      break;
    case 'r':
      plain = '\r';
      break;
    case 't':
      plain = '\t';
      break;
    case 'u':
      return read_unicode_escape(cursor, out);
    default:
      return cursor.fail_past_current(kInvalidEscape);
  }
  out.put(std::string_view(&plain, 1));
  ++cursor.pos;
  return true;
}

}  // namespace

// Runs of plain bytes are appended in one go; only quotes, backslashes and
// control characters stop the scan.
bool read_json_string(JsonCursor& cursor, std::string* out, size_t limit) {
  StringSink sink{out, limit};
  std::string_view text = cursor.text;
  ++cursor.pos;  // '"'
  for (;;) {
    size_t run = cursor.pos;
    const size_t run_end = std::min(text.size(), run + kInterruptPollBytes);
    while (run < run_end) {
      unsigned char c = static_cast<unsigned char>(text[run]);
      if (c == '"' || c == '\\' || c < 0x20) break;
      ++run;
    }
    sink.put(text.substr(cursor.pos, run - cursor.pos));
    cursor.pos = run;
    if (cursor.stop_requested()) return false;
    if (run == run_end && !cursor.at_end()) continue;  // a long run goes on
    if (cursor.at_end()) return cursor.fail_at_end(kEofString);
    char c = cursor.current();
    if (c == '"') {
      ++cursor.pos;
      return true;
    }
    if (c != '\\') return cursor.fail_past_current(kControlCharacter);
    ++cursor.pos;
    if (!read_escape(cursor, sink)) return false;
  }
}

}  // namespace diagpack
