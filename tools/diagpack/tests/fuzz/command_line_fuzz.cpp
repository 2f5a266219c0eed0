// Fuzzes the command line's texts and the escape filter. The input is split
// at NUL bytes into an argument list (argv[0] first). Besides the
// sanitizers' checks it holds to what a user relies on:
// - a reply comes exactly when the list is more than argv[0] and a lone
//   "--", with status 0 on standard output or status 2 on standard error;
// - a colour-off text is valid UTF-8 without any ESC byte, control
//   character (but tab, line feed, form feed, carriage return) or DEL,
//   and every line of it ends in a line feed;
// - the filter gives the same output however its input is cut into feeds,
//   and that output is equally clean.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.hpp"
#include "cli/command_line.hpp"
#include "cli/vt_filter.hpp"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "violated: %s\n", what);
    std::abort();
  }
}

void check_clean(std::string_view text) {
  check(diagpack::is_valid_utf8(text), "colour-off text is UTF-8");
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    check(b != 0x1B, "no ESC byte");
    check(b != 0x7F, "no DEL");
    check(b >= 0x20 || b == '\t' || b == '\n' || b == '\f' || b == '\r',
          "no control character");
  }
}

std::vector<std::string> split_arguments(std::string_view data) {
  std::vector<std::string> args;
  if (data.empty()) return args;
  size_t pos = 0;
  while (true) {
    const size_t nul = data.find('\0', pos);
    args.emplace_back(data.substr(pos, nul - pos));
    if (nul == std::string_view::npos) break;
    pos = nul + 1;
  }
  return args;
}

void fuzz_command_line(std::string_view data) {
  const std::vector<std::string> args = split_arguments(data);
  const auto reply = diagpack::command_line_reply(args);
  const bool accepted =
      args.size() <= 1 || (args.size() == 2 && args[1] == "--");
  check(reply.has_value() != accepted, "reply only when not accepted");
  if (!reply) return;
  check(
      reply->to_error_stream == (reply->status == diagpack::kUsageErrorStatus),
      "errors go to standard error");
  check(reply->status == diagpack::kHelpStatus ||
            reply->status == diagpack::kUsageErrorStatus,
        "status 0 or 2");

  const std::string plain = diagpack::render(reply->text, false);
  check_clean(plain);
  const std::string coloured = diagpack::render(reply->text, true);
  check(!coloured.empty() && coloured.back() == '\n', "ends in a line feed");
  check(plain.find("For more information") != std::string::npos ||
            reply->status == diagpack::kHelpStatus,
        "error text ends with its closing line");
}

void fuzz_filter(std::string_view data) {
  const std::string whole = diagpack::strip_escapes(data);
  check_clean(whole);
  // Cut at a point chosen by the data itself.
  const size_t cut =
      data.empty() ? 0
                   : static_cast<unsigned char>(data[0]) % (data.size() + 1);
  diagpack::VtFilter filter;
  std::string pieces;
  filter.feed(data.substr(0, cut), pieces);
  filter.feed(data.substr(cut), pieces);
  check(pieces == whole, "feeds in pieces give the same output");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  fuzz_command_line(data);
  fuzz_filter(data);
  return 0;
}
