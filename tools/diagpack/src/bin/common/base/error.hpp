// An Error is what a failed operation hands back: a kind and the text that a
// user sees. Operating-system errors keep their errno and display as the C
// library's message followed by " (os error N)".
#pragma once

#include <string>
#include <string_view>

namespace diagpack {

enum class ErrorKind {
  Os,  // from an errno value; os_code() tells which
  NotFound,
  InvalidInput,
  InvalidData,
  UnexpectedEof,
  Interrupted,  // a stop signal cut the operation short; never shown
  Other,
};

// "Permission denied (os error 13)".
std::string os_error_text(int code);

class Error {
 public:
  Error() = default;

  // An operating-system error for errno value |code|.
  static Error os(int code);
  // An error raised by the system itself, with a fixed text.
  static Error fixed(ErrorKind kind, std::string text);
  // Work cut short because a stop signal is pending (kind Interrupted).
  // Never shown: the run ends by the signal instead.
  static Error interrupted();

  ErrorKind kind() const { return kind_; }
  // The errno value of an Os error, 0 for every other kind.
  int os_code() const { return os_code_; }
  // The display text, exactly as printed.
  const std::string& text() const { return text_; }

 private:
  ErrorKind kind_ = ErrorKind::Other;
  int os_code_ = 0;
  std::string text_;
};

}  // namespace diagpack
