// StatusLine: one line on the operator's terminal that shows how far a long
// phase of the run has come, so that a run copying gigabytes or waiting for
// a locked package database does not look hung. The stages tell it where
// they are; it alone decides whether anything is drawn.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/environment.hpp"
#include "sys/console.hpp"

namespace diagpack {

// A phase of the run as the status line shows it.
struct StatusPhase {
  enum class Kind { kSilent, kCopyingLogs, kWaiting, kArchiving };
  Kind kind = Kind::kSilent;
  // The bytes the phase will move (0: not known).
  uint64_t total = 0;
  // The command waited for.
  std::string command;

  // Work that shows nothing (it may still be long: a configuration copy).
  static StatusPhase silent() { return {}; }
  // Copying the matched logs, |total| bytes in all.
  static StatusPhase copying_logs(uint64_t total) {
    return {Kind::kCopyingLogs, total, {}};
  }
  // Waiting for the package manager running |command|.
  static StatusPhase waiting_for(std::string command) {
    return {Kind::kWaiting, 0, std::move(command)};
  }
  // Writing an archive stream of about |total| bytes.
  static StatusPhase archiving(uint64_t total) {
    return {Kind::kArchiving, total, {}};
  }
};

class StatusLine {
 public:
  using Clock = std::chrono::steady_clock;
  // A phase is shown once it has lasted longer than this...
  static constexpr Clock::duration kDelay = std::chrono::seconds(2);
  // ...and redrawn at most this often.
  static constexpr Clock::duration kRefresh = std::chrono::milliseconds(250);
  // The width assumed when the terminal does not say.
  static constexpr size_t kFallbackColumns = 80;

  // The status line of a run: drawn on console.err_fd when that is a
  // terminal and TERM in |env| is not "dumb" (an unset TERM included);
  // otherwise never drawn, and then nothing a run writes or calls differs
  // from a run without it.
  StatusLine(const Console& console, const Environment& env);
  // A line that is never drawn.
  StatusLine() : StatusLine(-1) {}
  // A line drawn on the terminal |fd| (never when -1), timed by |now|.
  explicit StatusLine(
      int fd,
      std::function<Clock::time_point()> now = [] { return Clock::now(); });
  // Erases the line if it is drawn.
  ~StatusLine();
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // Whether the line can ever be drawn; a stage asks before it does extra
  // work (a total to show) for it.
  bool active() const { return fd_ >= 0; }

  // A phase begins now (ending the one before).
  void begin(StatusPhase phase);
  // |bytes| more of the phase are done (0: time passed). Draws the line
  // when the phase has lasted longer than kDelay and it was not drawn
  // within kRefresh.
  void advance(uint64_t bytes);
  // The phase has ended: the line is erased (carriage return, blanks,
  // carriage return) if it was drawn, so that the cursor stands at the
  // start of an empty line, as it did before. Call before any other line
  // is printed.
  void end();

 private:
  std::string text(Clock::time_point now) const;
  void write(const std::string& bytes) const;

  int fd_ = -1;
  std::function<Clock::time_point()> now_;
  std::optional<StatusPhase> phase_;
  Clock::time_point start_;
  Clock::time_point drawn_at_;
  uint64_t done_ = 0;
  // The columns the drawn line covers (0: nothing drawn), and its text.
  size_t on_screen_ = 0;
  std::string drawn_;
};

}  // namespace diagpack
