// A recursive-descent reader over one buffer. Values, arrays and objects are
// read here; strings and numbers by json_string and json_number, all moving
// one JsonCursor. Recursion goes one level per array or object and stops at
// kJsonMaxDepth, so the stack stays bounded whatever the input.
#include "config/json_reader.hpp"

#include <algorithm>  // std::count
#include <string>
#include <utility>
#include <vector>

#include "config/json_cursor.hpp"
#include "config/json_number.hpp"
#include "config/json_string.hpp"

namespace diagpack {
namespace {

constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedListEnd = "expected `,` or `]`";
constexpr std::string_view kExpectedObjectEnd = "expected `,` or `}`";
constexpr std::string_view kKeyMustBeString = "key must be a string";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

// "<message> at line L column C" for the failure recorded in |cursor|.
Error json_error(const JsonCursor& cursor) {
  std::string_view before = cursor.text.substr(0, cursor.stop);
  size_t line = 1 + std::count(before.begin(), before.end(), '\n');
  size_t last_lf = before.rfind('\n');
  size_t column = last_lf == std::string_view::npos
                      ? before.size()
                      : before.size() - last_lf - 1;
  std::string display(cursor.message);
  display +=
      " at line " + std::to_string(line) + " column " + std::to_string(column);
  return Error::fixed(
      cursor.ended_early ? ErrorKind::UnexpectedEof : ErrorKind::InvalidData,
      std::move(display));
}

class Reader {
 public:
  explicit Reader(std::string_view text) : cursor_(text) {}

  Result<JsonValue> read_document() {
    JsonValue value;
    if (!read_value(value, 0)) return json_error(cursor_);
    skip_whitespace();
    if (!cursor_.at_end()) {
      cursor_.fail_past_current(kTrailingCharacters);
      return json_error(cursor_);
    }
    return value;
  }

 private:
  void skip_whitespace() {
    while (!cursor_.at_end()) {
      char c = cursor_.current();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++cursor_.pos;
    }
  }

  // Reads a value starting at the next non-whitespace byte. |depth| is the
  // number of arrays and objects that enclose it.
  bool read_value(JsonValue& out, int depth) {
    skip_whitespace();
    if (cursor_.at_end()) return cursor_.fail_at_end(kJsonEofValueText);
    char c = cursor_.current();
    switch (c) {
      case '[':
        return read_array(out, depth + 1);
      case '{':
        return read_object(out, depth + 1);
      case '"': {
        std::string s;
        if (!read_json_string(cursor_, s)) return false;
        out = JsonValue::from_string(std::move(s));
        return true;
      }
      case 't':
        return read_literal("true", JsonValue::from_bool(true), out);
      case 'f':
        return read_literal("false", JsonValue::from_bool(false), out);
      case 'n':
        return read_literal("null", JsonValue(), out);
      default:
        if (c == '-' || is_json_digit(c)) return read_json_number(cursor_, out);
        return cursor_.fail_past_current(kExpectedValue);
    }
  }

  bool read_literal(std::string_view word, JsonValue value, JsonValue& out) {
    for (char expected : word) {
      if (cursor_.at_end()) return cursor_.fail_at_end(kJsonEofValueText);
      if (cursor_.current() != expected) {
        return cursor_.fail_past_current(kExpectedIdent);
      }
      ++cursor_.pos;
    }
    out = std::move(value);
    return true;
  }

  // After an element or member: true with the cursor on the next one
  // (past the comma), or with |closed| set and the cursor past |close|.
  bool read_separator(char close, std::string_view eof_message,
                      std::string_view expected_message, bool& closed) {
    skip_whitespace();
    if (cursor_.at_end()) return cursor_.fail_at_end(eof_message);
    if (cursor_.current() == close) {
      ++cursor_.pos;
      closed = true;
      return true;
    }
    if (cursor_.current() != ',') {
      return cursor_.fail_past_current(expected_message);
    }
    ++cursor_.pos;
    skip_whitespace();
    if (cursor_.at_end()) return cursor_.fail_at_end(kJsonEofValueText);
    if (cursor_.current() == close) {
      return cursor_.fail_past_current(kTrailingComma);
    }
    return true;
  }

  // Passes the opening bracket of a container at |depth| and any
  // whitespace; |empty| tells whether |close| follows at once.
  bool open_container(int depth, char close, std::string_view eof_message,
                      bool& empty) {
    if (depth > kJsonMaxDepth) {
      return cursor_.fail_past_current(kRecursionLimit);
    }
    ++cursor_.pos;
    skip_whitespace();
    if (cursor_.at_end()) return cursor_.fail_at_end(eof_message);
    empty = cursor_.current() == close;
    if (empty) ++cursor_.pos;
    return true;
  }

  bool read_array(JsonValue& out, int depth) {
    JsonValue::Array elements;
    bool closed = false;
    if (!open_container(depth, ']', kEofList, closed)) return false;
    while (!closed) {
      if (!read_value(elements.emplace_back(), depth)) return false;
      if (!read_separator(']', kEofList, kExpectedListEnd, closed)) {
        return false;
      }
    }
    out = JsonValue::from_array(std::move(elements));
    return true;
  }

  bool read_object(JsonValue& out, int depth) {
    std::vector<JsonValue::Member> members;
    bool closed = false;
    if (!open_container(depth, '}', kEofObject, closed)) return false;
    while (!closed) {
      if (cursor_.current() != '"') {
        return cursor_.fail_past_current(kKeyMustBeString);
      }
      JsonValue::Member& member = members.emplace_back();
      if (!read_json_string(cursor_, member.first)) return false;
      skip_whitespace();
      if (cursor_.at_end()) return cursor_.fail_at_end(kEofObject);
      if (cursor_.current() != ':') {
        return cursor_.fail_past_current(kExpectedColon);
      }
      ++cursor_.pos;
      if (!read_value(member.second, depth)) return false;
      if (!read_separator('}', kEofObject, kExpectedObjectEnd, closed)) {
        return false;
      }
    }
    out = JsonValue::from_members(std::move(members));
    return true;
  }

  JsonCursor cursor_;
};

}  // namespace

Result<JsonValue> parse_json(std::string_view text) {
  return Reader(text).read_document();
}

}  // namespace diagpack
