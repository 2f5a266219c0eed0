// A recursive-descent reader over one buffer. Every step looks at the byte
// under |pos_| and either accepts it or fails "just past" it, so a failure is
// one byte offset; line and column are worked out from that offset only when
// an error is raised. Recursion goes one level per array or object and stops
// at kJsonMaxDepth, so the stack stays bounded whatever the input.
#include "json_reader.hpp"

#include <algorithm>  // std::count
#include <optional>
#include <string>

#include "json_number.hpp"

namespace diagpack {
namespace {

constexpr std::string_view kEofValue = "EOF while parsing a value";
constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedListEnd = "expected `,` or `]`";
constexpr std::string_view kExpectedObjectEnd = "expected `,` or `}`";
constexpr std::string_view kKeyMustBeString = "key must be a string";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kLoneSurrogate =
    "lone leading surrogate in hex escape";
constexpr std::string_view kHexEscapeEnd = "unexpected end of hex escape";
constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

bool is_eof_message(std::string_view message) {
  return message == kEofValue || message == kEofList ||
         message == kEofObject || message == kEofString;
}

// "<message> at line L column C" for a reader that stopped at |offset|.
Error json_error(std::string_view text, std::string_view message,
                 size_t offset) {
  std::string_view before = text.substr(0, offset);
  size_t line = 1 + std::count(before.begin(), before.end(), '\n');
  size_t last_lf = before.rfind('\n');
  size_t column = last_lf == std::string_view::npos ? offset
                                                    : offset - last_lf - 1;
  std::string display(message);
  display += " at line " + std::to_string(line) + " column " +
             std::to_string(column);
  return Error::fixed(is_eof_message(message) ? ErrorKind::UnexpectedEof
                                              : ErrorKind::InvalidData,
                      std::move(display));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Result<JsonValue> read_document() {
    JsonValue value;
    if (!read_value(value, 0)) return json_error(text_, message_, stop_);
    skip_whitespace();
    if (!at_end()) {
      fail_past_current(kTrailingCharacters);
      return json_error(text_, message_, stop_);
    }
    return value;
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  char current() const { return text_[pos_]; }

  void skip_whitespace() {
    while (!at_end()) {
      char c = current();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }

  // Failures record the message and where the reader stopped; they return
  // false so that every caller can unwind with `return fail...`.
  bool fail_at(std::string_view message, size_t stop) {
    message_ = message;
    stop_ = stop;
    return false;
  }
  bool fail_past_current(std::string_view message) {
    return fail_at(message, pos_ + 1);
  }
  bool fail_at_end(std::string_view message) {
    return fail_at(message, text_.size());
  }

  // Reads a value starting at the next non-whitespace byte. |depth| is the
  // number of arrays and objects that enclose it.
  bool read_value(JsonValue& out, int depth) {
    skip_whitespace();
    if (at_end()) return fail_at_end(kEofValue);
    switch (current()) {
      case '[': return read_array(out, depth + 1);
      case '{': return read_object(out, depth + 1);
      case '"': {
        std::string s;
        if (!read_string(s)) return false;
        out = JsonValue::from_string(std::move(s));
        return true;
      }
      case 't': return read_literal("true", JsonValue::from_bool(true), out);
      case 'f': return read_literal("false", JsonValue::from_bool(false), out);
      case 'n': return read_literal("null", JsonValue(), out);
      default:
        if (current() == '-' || is_digit(current())) return read_number(out);
        return fail_past_current(kExpectedValue);
    }
  }

  bool read_literal(std::string_view word, JsonValue value, JsonValue& out) {
    for (char expected : word) {
      if (at_end()) return fail_at_end(kEofValue);
      if (current() != expected) return fail_past_current(kExpectedIdent);
      ++pos_;
    }
    out = std::move(value);
    return true;
  }

  bool read_array(JsonValue& out, int depth) {
    if (depth > kJsonMaxDepth) return fail_past_current(kRecursionLimit);
    ++pos_;  // '['
    JsonValue::Array elements;
    skip_whitespace();
    if (at_end()) return fail_at_end(kEofList);
    if (current() == ']') {
      ++pos_;
      out = JsonValue::from_array(std::move(elements));
      return true;
    }
    for (;;) {
      elements.emplace_back();
      if (!read_value(elements.back(), depth)) return false;
      skip_whitespace();
      if (at_end()) return fail_at_end(kEofList);
      if (current() == ']') break;
      if (current() != ',') return fail_past_current(kExpectedListEnd);
      ++pos_;
      skip_whitespace();
      if (at_end()) return fail_at_end(kEofValue);
      if (current() == ']') return fail_past_current(kTrailingComma);
    }
    ++pos_;  // ']'
    out = JsonValue::from_array(std::move(elements));
    return true;
  }

  bool read_object(JsonValue& out, int depth) {
    if (depth > kJsonMaxDepth) return fail_past_current(kRecursionLimit);
    ++pos_;  // '{'
    std::vector<JsonValue::Member> members;
    skip_whitespace();
    if (at_end()) return fail_at_end(kEofObject);
    if (current() == '}') {
      ++pos_;
      out = JsonValue::from_members(std::move(members));
      return true;
    }
    for (;;) {
      if (current() != '"') return fail_past_current(kKeyMustBeString);
      JsonValue::Member& member = members.emplace_back();
      if (!read_string(member.first)) return false;
      skip_whitespace();
      if (at_end()) return fail_at_end(kEofObject);
      if (current() != ':') return fail_past_current(kExpectedColon);
      ++pos_;
      if (!read_value(member.second, depth)) return false;
      skip_whitespace();
      if (at_end()) return fail_at_end(kEofObject);
      if (current() == '}') break;
      if (current() != ',') return fail_past_current(kExpectedObjectEnd);
      ++pos_;
      skip_whitespace();
      if (at_end()) return fail_at_end(kEofValue);
      if (current() == '}') return fail_past_current(kTrailingComma);
    }
    ++pos_;  // '}'
    out = JsonValue::from_members(std::move(members));
    return true;
  }

  // Reads a string starting at its opening quote into |out|, escapes
  // resolved. Runs of plain bytes are appended in one go.
  bool read_string(std::string& out) {
    ++pos_;  // '"'
    for (;;) {
      size_t run = pos_;
      while (run < text_.size()) {
        unsigned char c = static_cast<unsigned char>(text_[run]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        ++run;
      }
      out.append(text_.substr(pos_, run - pos_));
      pos_ = run;
      if (at_end()) return fail_at_end(kEofString);
      char c = current();
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c != '\\') return fail_past_current(kControlCharacter);
      ++pos_;
      if (!read_escape(out)) return false;
    }
  }

  // Reads the escape whose backslash was just passed.
  bool read_escape(std::string& out) {
    if (at_end()) return fail_at_end(kEofString);
    char c = current();
    char plain = 0;
    switch (c) {
      case '"': plain = '"'; break;
      case '\\': plain = '\\'; break;
      case '/': plain = '/'; break;
      case 'b': plain = '\b'; break;
      case 'f': plain = '\f'; break;
      case 'n': plain = '\n'; break;
      case 'r': plain = '\r'; break;
      case 't': plain = '\t'; break;
      case 'u': return read_unicode_escape(out);
      default: return fail_past_current(kInvalidEscape);
    }
    out += plain;
    ++pos_;
    return true;
  }

  // Reads the four hexadecimal digits after "\u" into |unit|.
  bool read_hex4(uint32_t& unit) {
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      if (at_end()) return fail_at_end(kEofString);
      int digit = hex_digit_value(current());
      if (digit < 0) return fail_past_current(kInvalidEscape);
      unit = unit * 16 + static_cast<uint32_t>(digit);
      ++pos_;
    }
    return true;
  }

  // Reads "\uXXXX" (the 'u' under |pos_|) and, for a leading surrogate, the
  // "\uXXXX" of its trailing surrogate, appending the code point as UTF-8.
  bool read_unicode_escape(std::string& out) {
    ++pos_;  // 'u'
    uint32_t unit = 0;
    if (!read_hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_at(kLoneSurrogate, pos_);
    if (unit < 0xD800 || unit > 0xDBFF) {
      append_utf8(out, unit);
      return true;
    }
    for (char expected : {'\\', 'u'}) {
      if (at_end()) return fail_at_end(kEofString);
      if (current() != expected) return fail_past_current(kHexEscapeEnd);
      ++pos_;
    }
    uint32_t trail = 0;
    if (!read_hex4(trail)) return false;
    if (trail < 0xDC00 || trail > 0xDFFF) return fail_at(kLoneSurrogate, pos_);
    append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00));
    return true;
  }

  // Checks the number grammar byte by byte, then converts the whole token.
  bool read_number(JsonValue& out) {
    size_t start = pos_;
    if (current() == '-') ++pos_;
    if (at_end()) return fail_at_end(kEofValue);
    if (current() == '0') {
      ++pos_;
      if (!at_end() && is_digit(current())) {
        return fail_past_current(kInvalidNumber);
      }
    } else if (!read_digits()) {
      return false;
    }
    if (!at_end() && current() == '.') {
      ++pos_;
      if (!read_digits()) return false;
    }
    if (!at_end() && (current() == 'e' || current() == 'E')) {
      ++pos_;
      if (!at_end() && (current() == '+' || current() == '-')) ++pos_;
      if (!read_digits()) return false;
    }
    std::optional<JsonValue> value =
        convert_json_number(text_.substr(start, pos_ - start));
    if (!value) return fail_at(kNumberOutOfRange, pos_);
    out = std::move(*value);
    return true;
  }

  // Reads one or more digits: a sign, point or exponent mark must have one.
  bool read_digits() {
    if (at_end()) return fail_at_end(kEofValue);
    if (!is_digit(current())) return fail_past_current(kInvalidNumber);
    while (!at_end() && is_digit(current())) ++pos_;
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string_view message_;
  size_t stop_ = 0;
};

}  // namespace

Result<JsonValue> parse_json(std::string_view text) {
  return Reader(text).read_document();
}

}  // namespace diagpack
