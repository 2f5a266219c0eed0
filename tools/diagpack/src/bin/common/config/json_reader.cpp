// A recursive-descent reader over one buffer. Values, arrays and objects are
// read here; strings and numbers by json_string and json_number, all moving
// one JsonCursor. Recursion goes one level per array or object and stops at
// kJsonMaxDepth, so the stack stays bounded whatever the input.
//
// The same reader does both jobs: building the whole document
// (parse_json), and the search for one string (find_json_string), which
// keeps nothing else. Every byte goes through the same steps either way;
// a value that is not kept is read with no place to go (a null JsonValue*,
// a string read with a null sink), so the two cannot differ in what they
// accept or where they stop. A search follows its path by the member
// names it reads (only a name's first bytes are kept, enough to compare
// it), and a later member of a name on the path replaces what an earlier
// one had found, as member lookup lets the later duplicate win. So a
// configuration text costs its own buffer and the one string found,
// however large the members around it.
#include "config/json_reader.hpp"

#include <algorithm>  // std::count
#include <optional>
#include <span>
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

// The level of a value that lies on no search path.
constexpr size_t kOffPath = std::string_view::npos;

class Reader {
 public:
  // A reader that builds the whole document.
  explicit Reader(std::string_view text) : cursor_(text) {}
  // A reader that looks only for the string at |path|, and stops early when
  // a stop signal is pending on |interrupts| (if given).
  Reader(std::string_view text, std::span<const std::string_view> path,
         const InterruptWatch* interrupts)
      : cursor_(text), searching_(true), path_(path) {
    cursor_.interrupts = interrupts;
  }

  // Reads the whole text: into |out| when given, else only checking it.
  // Returns false when it failed (json_error tells how).
  bool read_document(JsonValue* out) {
    if (!read_value(out, 0, searching_ ? 0 : kOffPath)) return false;
    if (!skip_whitespace()) return false;
    if (!cursor_.at_end())
      return cursor_.fail_past_current(kTrailingCharacters);
    return true;
  }

  Error error() const {
    return cursor_.interrupted ? Error::interrupted() : json_error(cursor_);
  }
  std::optional<std::string>& found() { return found_; }

 private:
  // Passes whitespace. Returns false only when a stop signal cut it short.
  bool skip_whitespace() {
    while (!cursor_.at_end()) {
      char c = cursor_.current();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return true;
      ++cursor_.pos;
      if (cursor_.stop_requested()) return false;
    }
    return true;
  }

  // Reads a value starting at the next non-whitespace byte into |out|, or
  // only checks it when |out| is null. |depth| is the number of arrays and
  // objects that enclose it; |level| how many names of the search path lead
  // to it (kOffPath when none do, or there is no search).
  bool read_value(JsonValue* out, int depth, size_t level) {
    if (cursor_.stop_requested() || !skip_whitespace()) return false;
    if (cursor_.at_end()) return cursor_.fail_at_end(kJsonEofValueText);
    char c = cursor_.current();
    switch (c) {
      case '[':
        return read_array(out, depth + 1);
      case '{':
        return read_object(out, depth + 1, level);
      case '"':
        return read_string_value(out, level);
      case 't':
        return read_literal("true", JsonValue::from_bool(true), out);
      case 'f':
        return read_literal("false", JsonValue::from_bool(false), out);
      case 'n':
        return read_literal("null", JsonValue(), out);
      default:
        if (c == '-' || is_json_digit(c)) {
          JsonValue number;
          if (!read_json_number(cursor_, number)) return false;
          if (out) *out = std::move(number);
          return true;
        }
        return cursor_.fail_past_current(kExpectedValue);
    }
  }

  bool read_string_value(JsonValue* out, size_t level) {
    if (searching_ && level == path_.size()) {
      found_.emplace();
      return read_json_string(cursor_, &*found_);
    }
    if (!out) return read_json_string(cursor_, nullptr);
    std::string s;
    if (!read_json_string(cursor_, &s)) return false;
    *out = JsonValue::from_string(std::move(s));
    return true;
  }

  bool read_literal(std::string_view word, JsonValue value, JsonValue* out) {
    for (char expected : word) {
      if (cursor_.at_end()) return cursor_.fail_at_end(kJsonEofValueText);
      if (cursor_.current() != expected) {
        return cursor_.fail_past_current(kExpectedIdent);
      }
      ++cursor_.pos;
    }
    if (out) *out = std::move(value);
    return true;
  }

  // After an element or member: true with the cursor on the next one
  // (past the comma), or with |closed| set and the cursor past |close|.
  bool read_separator(char close, std::string_view eof_message,
                      std::string_view expected_message, bool& closed) {
    if (!skip_whitespace()) return false;
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
    if (!skip_whitespace()) return false;
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
    if (!skip_whitespace()) return false;
    if (cursor_.at_end()) return cursor_.fail_at_end(eof_message);
    empty = cursor_.current() == close;
    if (empty) ++cursor_.pos;
    return true;
  }

  bool read_array(JsonValue* out, int depth) {
    JsonValue::Array elements;
    bool closed = false;
    if (!open_container(depth, ']', kEofList, closed)) return false;
    while (!closed) {
      if (!read_value(out ? &elements.emplace_back() : nullptr, depth,
                      kOffPath))
        return false;
      if (!read_separator(']', kEofList, kExpectedListEnd, closed)) {
        return false;
      }
    }
    if (out) *out = JsonValue::from_array(std::move(elements));
    return true;
  }

  bool read_object(JsonValue* out, int depth, size_t level) {
    std::vector<JsonValue::Member> members;
    const bool on_path = searching_ && level < path_.size();
    std::string name;  // a name read for the search: its first bytes only
    bool closed = false;
    if (!open_container(depth, '}', kEofObject, closed)) return false;
    while (!closed) {
      if (cursor_.current() != '"') {
        return cursor_.fail_past_current(kKeyMustBeString);
      }
      JsonValue* value = nullptr;
      size_t value_level = kOffPath;
      if (out) {
        JsonValue::Member& member = members.emplace_back();
        if (!read_json_string(cursor_, &member.first)) return false;
        value = &member.second;
      } else if (on_path) {
        const std::string_view wanted = path_[level];
        name.clear();
        if (!read_json_string(cursor_, &name, wanted.size() + 1)) return false;
        if (name == wanted) {
          found_.reset();  // what an earlier member of this name led to
          value_level = level + 1;
        }
      } else if (!read_json_string(cursor_, nullptr)) {
        return false;
      }
      if (!skip_whitespace()) return false;
      if (cursor_.at_end()) return cursor_.fail_at_end(kEofObject);
      if (cursor_.current() != ':') {
        return cursor_.fail_past_current(kExpectedColon);
      }
      ++cursor_.pos;
      if (!read_value(value, depth, value_level)) return false;
      if (!read_separator('}', kEofObject, kExpectedObjectEnd, closed)) {
        return false;
      }
    }
    if (out) *out = JsonValue::from_members(std::move(members));
    return true;
  }

  JsonCursor cursor_;
  const bool searching_ = false;
  const std::span<const std::string_view> path_;
  // The string at the end of the search path, once one was read.
  std::optional<std::string> found_;
};

}  // namespace

Result<JsonValue> parse_json(std::string_view text) {
  Reader reader(text);
  JsonValue value;
  if (!reader.read_document(&value)) return reader.error();
  return value;
}

Result<std::optional<std::string>> find_json_string(
    std::string_view text, std::span<const std::string_view> path,
    const InterruptWatch* interrupts) {
  Reader reader(text, path, interrupts);
  if (!reader.read_document(nullptr)) return reader.error();
  return std::move(reader.found());
}

}  // namespace diagpack
