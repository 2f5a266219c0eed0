#include "stages/status_line.hpp"

#include <gtest/gtest.h>
#include <pty.h>  // openpty
#include <unistd.h>

#include <string>

#include "stages/status_text.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

constexpr uint64_t kKiB = 1024, kMiB = kKiB << 10, kGiB = kMiB << 10;

TEST(StatusText, UnitsAndPhaseTexts) {
  EXPECT_EQ(format_bytes(1023), "1023 B");
  EXPECT_EQ(format_bytes(1536), "1.5 KiB");
  EXPECT_EQ(format_bytes(kMiB - 1), "1.0 MiB");  // not "1024.0 KiB"
  EXPECT_EQ(format_bytes(UINT64_MAX), "16.0 EiB");
  EXPECT_EQ(format_duration(65), "1 min 05 s");
  EXPECT_EQ(format_duration(7440), "2 h 04 min");
  EXPECT_EQ(copying_logs_text(kGiB * 12 / 10, kGiB * 34 / 10),
            "copying logs: 1.2 GiB of 3.4 GiB");
  // A log that grew while it was copied.
  EXPECT_EQ(copying_logs_text(3 * kGiB, 2 * kGiB),
            "copying logs: 2.0 GiB of 2.0 GiB");
  EXPECT_EQ(waiting_text("rpm -qi quorvane-jce", 12),
            "waiting for rpm -qi quorvane-jce: 12 s, Ctrl-C stops cleanly");
  EXPECT_EQ(archiving_text(kGiB, 3 * kGiB, 10.0),
            "archiving: 1.0 GiB of 3.0 GiB, 102.4 MiB/s, 20 s left");
  EXPECT_EQ(archiving_text(0, 3 * kGiB, 3.0), "archiving: 0 B of 3.0 GiB");
  EXPECT_EQ(fit_to_width("d\xc3\xa9j\xc3\xa0", 2), "d\xc3\xa9");
  EXPECT_EQ(text_columns("d\xc3\xa9j\xc3\xa0"), 4u);
}

// On a terminal of 40 columns: nothing until the phase has lasted more than
// 2 s, then redrawn when its text changes but not within 250 ms, a shorter
// text padded over a longer one, cut to 39 columns, and erased at the end
// so that the cursor stands where it stood. A phase that ends within 2 s
// writes nothing at all.
TEST(StatusLine, DrawsLateAndRarelyWithinTheWidthAndErases) {
  int master = -1, slave = -1;
  const winsize size{24, 40, 0, 0};
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
  UniqueFd master_fd(master), terminal(slave);

  using std::chrono::milliseconds;
  const StatusLine::Clock::time_point start{};
  StatusLine::Clock::time_point now = start;
  {
    StatusLine line(terminal.get(), [&] { return now; });
    line.begin(StatusPhase::copying_logs(100 * kMiB));
    const std::pair<int, uint64_t> steps[] = {
        {1000, 500}, {2000, 500}, {2100, 0}, {2300, 24}, {2350, 0}, {2700, 0}};
    for (const auto& [ms, kib] : steps) {
      now = start + milliseconds(ms);
      line.advance(kib * kKiB);
    }
    line.begin(StatusPhase::waiting_for("rpm -qi quorvane-jce"));
    now += milliseconds(3000);
    line.advance(0);
    line.begin(StatusPhase::archiving(kGiB));
    now += milliseconds(2000);
    line.advance(kGiB);
  }
  terminal.reset();
  std::string seen;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(master, buf, sizeof buf)) > 0)
    seen.append(buf, static_cast<size_t>(n));
  EXPECT_EQ(seen,
            "\rcopying logs: 1000.0 KiB of 100.0 MiB"
            "\rcopying logs: 1.0 MiB of 100.0 MiB   \r" +
                std::string(37, ' ') +
                "\r\rwaiting for rpm -qi quorvane-jce: 3 s, \r" +
                std::string(39, ' ') + "\r");
}

}  // namespace
}  // namespace diagpack
