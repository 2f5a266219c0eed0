// How the status line is drawn and taken away again without a trace.
//
// Every other line the run prints ends in a line feed, so when a phase
// begins the cursor stands at the start of an empty line. The status line
// is drawn there as a carriage return and the text, padded with blanks
// over whatever longer text it replaces, and no line feed: the cursor stays
// on that line. To erase it, a carriage return, as many blanks as the line
// covers and a carriage return again leave the cursor where it stood before
// the phase, on an empty line, and the next line prints exactly where it
// would have without a status line. No escape sequence is ever written, so
// this works on any terminal that knows a carriage return, and the line is
// cut one column short of the terminal's width: some terminals wrap as soon
// as the last column is written, and a wrapped line could not be erased.
//
// The clock is read only when a stage reports (after a piece of a copy,
// every few hundred kilobytes of the archive, four times a second while a
// child is waited for), and the terminal is written to only when the text
// changes, at most four times a second, once the phase has lasted two
// seconds: a short phase never shows a line at all. When standard error is
// not a terminal there is no line, and a stage asks active() before doing
// anything for it, so such a run makes the same calls and writes the same
// bytes as one without a status line.
#include "stages/status_line.hpp"

#include <algorithm>

#include "stages/status_text.hpp"

namespace diagpack {

namespace {

constexpr std::string_view kDumbTerminal = "dumb";

// Standard error when it is a terminal that can show the line, else -1.
int status_fd(const Console& console, const Environment& env) {
  if (env.get("TERM") == kDumbTerminal || !is_terminal(console.err_fd))
    return -1;
  return console.err_fd;
}

}  // namespace

StatusLine::StatusLine(const Console& console, const Environment& env)
    : StatusLine(status_fd(console, env)) {}

StatusLine::StatusLine(int fd, std::function<Clock::time_point()> now)
    : fd_(fd), now_(std::move(now)) {}

StatusLine::~StatusLine() { end(); }

void StatusLine::begin(StatusPhase phase) {
  end();
  if (!active() || phase.kind == StatusPhase::Kind::kSilent) return;
  phase_ = std::move(phase);
  start_ = now_();
  done_ = 0;
}

void StatusLine::advance(uint64_t bytes) {
  if (!phase_) return;
  done_ += bytes;
  const Clock::time_point now = now_();
  if (now - start_ <= kDelay) return;
  if (on_screen_ > 0 && now - drawn_at_ < kRefresh) return;
  const size_t columns = terminal_columns(fd_).value_or(kFallbackColumns);
  if (columns < 2) return;
  const std::string full = text(now);
  const std::string_view fitted = fit_to_width(full, columns - 1);
  drawn_at_ = now;
  if (on_screen_ > 0 && fitted == drawn_) return;
  const size_t width = text_columns(fitted);
  const size_t cover = std::min(on_screen_, columns - 1);
  std::string line(1, '\r');
  line.append(fitted);
  if (width < cover) line.append(cover - width, ' ');
  write(line);
  on_screen_ = std::max(width, cover);
  drawn_ = fitted;
}

void StatusLine::end() {
  phase_.reset();
  if (on_screen_ == 0) return;
  const size_t columns = terminal_columns(fd_).value_or(kFallbackColumns);
  const size_t blanks = std::min(on_screen_, columns > 1 ? columns - 1 : 1);
  std::string erase(blanks + 2, ' ');
  erase.front() = erase.back() = '\r';
  write(erase);
  on_screen_ = 0;
  drawn_.clear();
}

std::string StatusLine::text(Clock::time_point now) const {
  const auto elapsed = std::chrono::duration<double>(now - start_).count();
  switch (phase_->kind) {
    case StatusPhase::Kind::kCopyingLogs:
      return copying_logs_text(done_, phase_->total);
    case StatusPhase::Kind::kWaiting:
      return waiting_text(phase_->command, static_cast<uint64_t>(elapsed));
    case StatusPhase::Kind::kArchiving:
      return archiving_text(done_, phase_->total, elapsed);
    case StatusPhase::Kind::kSilent:
      break;
  }
  return {};
}

void StatusLine::write(const std::string& bytes) const {
  Console::write_raw(fd_, bytes);
}

}  // namespace diagpack
