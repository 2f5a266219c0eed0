#include "stages/status_line.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "stages/status_text.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr uint64_t kKiB = 1024, kMiB = kKiB << 10, kGiB = kMiB << 10;

TEST(StatusText, BinaryUnitsWithOneDecimal) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},
      {kMiB - 1, "1.0 MiB"},  // 1023.999 KiB would print as 1024.0
      {kGiB * 12 / 10, "1.2 GiB"},
      {UINT64_MAX, "16.0 EiB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(format_bytes(bytes), text);
  EXPECT_EQ(format_duration(0), "0 s");
  EXPECT_EQ(format_duration(59), "59 s");
  EXPECT_EQ(format_duration(65), "1 min 05 s");
  EXPECT_EQ(format_duration(7440), "2 h 04 min");
}

TEST(StatusText, PhaseTexts) {
  EXPECT_EQ(copying_logs_text(kGiB * 12 / 10, kGiB * 34 / 10),
            "copying logs: 1.2 GiB of 3.4 GiB");
  // A log that grew while it was copied; a total not known.
  EXPECT_EQ(copying_logs_text(3 * kGiB, 2 * kGiB),
            "copying logs: 2.0 GiB of 2.0 GiB");
  EXPECT_EQ(copying_logs_text(5 * kMiB, 0), "copying logs: 5.0 MiB");
  EXPECT_EQ(waiting_text("rpm -qi quorvane-jce", 75),
            "waiting for rpm -qi quorvane-jce: 1 min 15 s, Ctrl-C stops "
            "cleanly");
  EXPECT_EQ(archiving_text(kGiB, 3 * kGiB, 10.0),
            "archiving: 1.0 GiB of 3.0 GiB, 102.4 MiB/s, 20 s left");
  EXPECT_EQ(archiving_text(0, 3 * kGiB, 3.0), "archiving: 0 B of 3.0 GiB");
  EXPECT_EQ(archiving_text(kGiB, 0, 4.0), "archiving: 1.0 GiB, 256.0 MiB/s");
}

TEST(StatusText, FitsByCharactersWithoutCuttingOne) {
  EXPECT_EQ(fit_to_width("archiving", 4), "arch");
  EXPECT_EQ(fit_to_width("archiving", 9), "archiving");
  EXPECT_EQ(fit_to_width("archiving", 0), "");
  EXPECT_EQ(fit_to_width("d\xc3\xa9j\xc3\xa0", 2), "d\xc3\xa9");
  EXPECT_EQ(text_columns("d\xc3\xa9j\xc3\xa0"), 4u);
}

// Everything written to |fd| until every descriptor of its far end closed.
std::string drain(int fd) {
  std::string seen;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0)
    seen.append(buf, static_cast<size_t>(n));
  return seen;
}

// On a terminal of 30 columns: nothing until the phase has lasted more
// than 2 s, then the line cut to 29 columns, redrawn when its text changes
// but not within 250 ms, and erased at the end so that the cursor stands
// where it stood. A phase that ends within 2 s writes nothing at all.
TEST(StatusLine, DrawsLateAndRarelyWithinTheWidthAndErases) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  UniqueFd terminal(::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(terminal.valid());
  const winsize size{24, 30, 0, 0};
  ASSERT_EQ(::ioctl(terminal.get(), TIOCSWINSZ, &size), 0);

  const StatusLine::Clock::time_point start{};
  StatusLine::Clock::time_point now = start;
  {
    StatusLine line(terminal.get(), [&] { return now; });
    ASSERT_TRUE(line.active());
    line.begin(StatusPhase::copying_logs(100 * kMiB));
    const std::pair<int, uint64_t> steps[] = {
        {1000, 10}, {2000, 10}, {2100, 10}, {2300, 10}, {2350, 0}, {2700, 0}};
    for (const auto& [ms, mib] : steps) {
      now = start + milliseconds(ms);
      line.advance(mib * kMiB);
    }
    line.end();
    line.begin(StatusPhase::archiving(kGiB));
    now += seconds(2);
    line.advance(kGiB);
  }  // ends the phase
  terminal.reset();
  const std::string seen = drain(master);
  ::close(master);
  EXPECT_EQ(seen,
            "\rcopying logs: 30.0 MiB of 100\rcopying logs: 40.0 MiB of 100\r" +
                std::string(29, ' ') + "\r");
}

// A shorter text is padded over the longer one it replaces, and the erasure
// covers the widest text drawn. A descriptor that knows no width counts as
// 80 columns.
TEST(StatusLine, ShorterTextCoversTheLongerOne) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  UniqueFd read_end(pipe_fds[0]), write_end(pipe_fds[1]);
  StatusLine::Clock::time_point now{};
  {
    StatusLine line(write_end.get(), [&] { return now; });
    line.begin(StatusPhase::copying_logs(0));
    now += seconds(3);
    line.advance(1000 * kKiB);
    now += seconds(1);
    line.advance(24 * kKiB);
    line.begin(StatusPhase::waiting_for(std::string(100, 'x')));
    now += seconds(3);
    line.advance(0);
  }
  write_end.reset();
  const std::string erase_24 = "\r" + std::string(24, ' ') + "\r";
  const std::string waiting = "waiting for " + std::string(67, 'x');
  EXPECT_EQ(drain(read_end.get()),
            "\rcopying logs: 1000.0 KiB\rcopying logs: 1.0 MiB   " + erase_24 +
                "\r" + waiting + "\r" + std::string(79, ' ') + "\r");
}

}  // namespace
}  // namespace diagpack
