// The reader of component configuration documents: strict RFC 8259 JSON,
// with the messages and fault positions that operators see.
//
// A fault is reported where the reader stopped: just past the first byte it
// could not accept, or at the end of the text when the text ends early. The
// line is 1 plus the line feeds before that point, the column the bytes
// between the last of those line feeds (or the start) and that point. So
// "{}{}" fails with "trailing characters at line 1 column 3", and a raw line
// feed inside a string is reported at column 0 of the next line.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "config/json_value.hpp"
#include "sys/signals.hpp"  // InterruptWatch

namespace diagpack {

// Arrays and objects nest at most this deep, the outermost being level 1.
inline constexpr int kJsonMaxDepth = 127;

// Parses the whole of |text| as one JSON value, with whitespace (space, tab,
// line feed, carriage return) allowed around it. Bytes above 0x7F inside
// strings are kept as they are; the caller checks that the text is UTF-8.
// Returns the value, or an Error whose text() is "<message> at line L
// column C" and whose kind() is UnexpectedEof for the four "EOF while
// parsing ..." messages and InvalidData for all others.
//
// Integers that fit 64 bits are kept as uint64 (not negative) or int64
// (negative); every other number is a double. A number too large for a
// double fails with "number out of range"; one too small becomes zero.
// Recursion is bounded by kJsonMaxDepth and memory is linear in the text.
Result<JsonValue> parse_json(std::string_view text);

// Reads |text| exactly as parse_json does, accepting and refusing the same
// texts with the same errors, but keeps only the value that looking up the
// names of |path| one after another would give (member lookup: a later
// duplicate wins; a name looked up in anything but an object gives null).
// Returns that value when it is a string, or nothing; no other value is
// built, so the memory used is that string's beside the text. Every few MiB
// of text it looks at |interrupts| (when given) and stops with
// Error::interrupted() once a stop signal is pending.
Result<std::optional<std::string>> find_json_string(
    std::string_view text, std::span<const std::string_view> path,
    const InterruptWatch* interrupts = nullptr);

}  // namespace diagpack
