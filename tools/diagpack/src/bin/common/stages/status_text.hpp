// The words of the status line: what each long phase of a run says about
// itself on a terminal, and how a text is cut to the terminal's width.
// Sizes are in binary units, B, KiB (1024 bytes), MiB (2^20), GiB (2^30)
// and up, with one decimal above bytes; durations in whole seconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace diagpack {

// "0 B", "1023 B", "1.0 KiB", "1.2 GiB": the largest unit that keeps the
// value, rounded to one decimal, below 1024.
std::string format_bytes(uint64_t bytes);

// "0 s", "59 s", "1 min 05 s", "2 h 04 min".
std::string format_duration(uint64_t seconds);

// "copying logs: 1.2 GiB of 3.4 GiB": the bytes copied of all matched logs
// so far, of their total (left out when 0: not known). |done| is shown as
// at most |total|, which a log that grows while it is copied passes.
std::string copying_logs_text(uint64_t done, uint64_t total);

// "waiting for rpm -qi quorvane-jce: 12 s, Ctrl-C stops cleanly".
std::string waiting_text(std::string_view command, uint64_t seconds);

// "archiving: 1.2 GiB of 3.4 GiB, 85.0 MiB/s, 27 s left": the bytes of the
// archive's stream written so far (shown as at most |total|), of the total
// (left out with the time left when 0: not known), with the mean rate over
// |seconds| and the time left at that rate. The rate and the time left are
// left out while nothing has been written.
std::string archiving_text(uint64_t done, uint64_t total, double seconds);

// The columns |text| takes on a terminal: one per character (UTF-8).
size_t text_columns(std::string_view text);

// The start of |text| that takes at most |columns| columns (as
// text_columns counts them), never cutting a UTF-8 sequence.
std::string_view fit_to_width(std::string_view text, size_t columns);

}  // namespace diagpack
