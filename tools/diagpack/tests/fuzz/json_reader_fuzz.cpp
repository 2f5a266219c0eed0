// Fuzzes parse_json with arbitrary bytes. Besides the sanitizers' checks it
// holds the reader to what operators rely on:
// - every failure is one of the known messages with a position inside the
//   text, "EOF while parsing" exactly at its end and with kind UnexpectedEof;
// - a value that parses still parses, unchanged, inside an array or object
//   (while under the nesting limit);
// - a byte that cannot continue anything after a parsed value is reported
//   as "trailing characters" just past it;
// - dropping the closing byte of a parsed array, object or string leaves a
//   text that ends early;
// - the search for one string (find_json_string) accepts and refuses the
//   same texts with the same errors, and finds what member lookup in the
//   whole document finds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "config/json_reader.hpp"

namespace {

using diagpack::ErrorKind;
using diagpack::find_json_string;
using diagpack::JsonValue;
using diagpack::parse_json;

constexpr std::string_view kMessages[] = {
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected value",
    "expected ident",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "key must be a string",
    "trailing comma",
    "trailing characters",
    "invalid number",
    "number out of range",
    "invalid escape",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "recursion limit exceeded",
};

[[noreturn]] void violated(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant violated: %s: %s\n", what, detail.c_str());
  std::abort();
}

// "line L column C" for a reader that stopped at |offset|.
std::string position(std::string_view text, size_t offset) {
  std::string_view before = text.substr(0, offset);
  size_t line = 1 + std::count(before.begin(), before.end(), '\n');
  size_t lf = before.rfind('\n');
  size_t column = lf == std::string_view::npos ? offset : offset - lf - 1;
  return "line " + std::to_string(line) + " column " + std::to_string(column);
}

void check_error(std::string_view text, const diagpack::Error& error) {
  const std::string& shown = error.text();
  std::string_view message;
  for (std::string_view m : kMessages) {
    if (shown.size() > m.size() && shown.compare(0, m.size(), m) == 0 &&
        shown.compare(m.size(), 4, " at ") == 0) {
      message = m;
    }
  }
  if (message.empty()) violated("unknown message", shown);
  bool eof = message.substr(0, 3) == "EOF";
  ErrorKind want = eof ? ErrorKind::UnexpectedEof : ErrorKind::InvalidData;
  if (error.kind() != want) violated("kind", shown);
  std::string where(shown.substr(message.size() + 4));
  if (eof) {
    if (where != position(text, text.size())) violated("EOF position", shown);
    return;
  }
  // "line L column C" must name an offset in 1..size: C bytes into line L,
  // with no line feed among them.
  unsigned long line = 0, column = 0;
  if (std::sscanf(where.c_str(), "line %lu column %lu", &line, &column) != 2 ||
      where != "line " + std::to_string(line) + " column " +
                   std::to_string(column)) {
    violated("position format", shown);
  }
  size_t start = 0;
  for (unsigned long l = 1; l < line; ++l) {
    size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) violated("line beyond the text", shown);
    start = lf + 1;
  }
  size_t offset = start + column;
  if (offset == 0 || offset > text.size() ||
      text.substr(start, column).find('\n') != std::string_view::npos) {
    violated("column outside the line", shown);
  }
}

int depth(const JsonValue& value) {
  int deepest = 0;
  if (value.is_array()) {
    for (const JsonValue& e : value.as_array())
      deepest = std::max(deepest, depth(e));
    return deepest + 1;
  }
  if (value.is_object()) {
    for (const auto& m : value.as_object())
      deepest = std::max(deepest, depth(m.second));
    return deepest + 1;
  }
  return 0;
}

void check_value(const std::string& text, const JsonValue& value) {
  if (depth(value) < diagpack::kJsonMaxDepth) {
    auto in_array = parse_json("[" + text + "]");
    if (!in_array || in_array->as_array().size() != 1 ||
        !(in_array->as_array()[0] == value)) {
      violated("value inside an array", text);
    }
    auto in_object = parse_json("{\"k\":" + text + "}");
    if (!in_object || !(in_object->member("k") == value)) {
      violated("value inside an object", text);
    }
  }
  std::string extended = text + "x";
  auto trailing = parse_json(extended);
  if (trailing ||
      trailing.error().text() !=
          "trailing characters at " + position(extended, extended.size())) {
    violated("trailing byte", text);
  }
  size_t last = text.find_last_not_of(" \t\r\n");
  char closing = text[last];
  if (closing == ']' || closing == '}' || closing == '"') {
    auto cut = parse_json(text.substr(0, last));
    if (cut || cut.error().kind() != ErrorKind::UnexpectedEof) {
      violated("text without its closing byte", text);
    }
  }
}

}  // namespace

// The configuration's path, and one-letter names the fuzzer hits more often.
void check_search(const std::string& text,
                  const diagpack::Result<JsonValue>& result) {
  constexpr std::string_view kLocation[] = {"logging", "log_file"};
  constexpr std::string_view kShort[] = {"a", "b"};
  for (std::span<const std::string_view> path :
       {std::span(kLocation), std::span(kShort)}) {
    auto found = find_json_string(text, path);
    const JsonValue* value = result ? &*result : nullptr;
    for (size_t i = 0; value && i < path.size(); ++i)
      value = &value->member(path[i]);
    if (found.ok() != result.ok() ||
        (!found && (found.error().text() != result.error().text() ||
                    found.error().kind() != result.error().kind())) ||
        (found && (found->has_value() != value->is_string() ||
                   (value->is_string() && **found != value->as_string()))))
      violated("search differs from the whole document", text);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto result = parse_json(text);
  if (result) {
    check_value(text, *result);
  } else {
    check_error(text, result.error());
  }
  check_search(text, result);
  return 0;
}
