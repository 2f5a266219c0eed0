// The archive step with a stop signal pending: it must stop reading the
// output directory at once and leave no partial archive behind.
#include "stages/archive.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>

#include "sys/signals.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

// Bytes this process has read so far, as the kernel counts them.
long long bytes_read() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = -1;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

TEST(ArchiveStep, StopsAndRemovesItsArchiveWhenASignalIsPending) {
  test::TempDir dir;
  const std::string out_dir = dir.path("jce-data");
  test::make_dir(out_dir);
  constexpr size_t kLogSize = 16 << 20;
  test::write_file(out_dir + "/jce.log", std::string(kLogSize, 'x'));

  InterruptWatch watch;
  if (watch.fd() < 0) GTEST_SKIP() << "no signalfd here";
  ::raise(SIGTERM);
  if (!watch.pending())
    GTEST_SKIP() << "SIGTERM was ignored or blocked when the test started";

  const ComponentInfo info = component_info(Component::jce);
  const Environment env;
  const long long before = bytes_read();
  StatusLine no_line;
  Status status =
      archive_output_directory({info, out_dir, env, watch, no_line});
  const long long read = bytes_read() - before;
  EXPECT_EQ(watch.take(), SIGTERM);  // or it ends this process on unblocking

  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().kind(), ErrorKind::Interrupted);
  EXPECT_FALSE(test::exists(archive_path(out_dir)));
  // The walk stopped within its first look at the watch instead of packing
  // the whole log first.
  if (before >= 0) {
    EXPECT_LT(read, static_cast<long long>(kLogSize / 4));
  }
  EXPECT_TRUE(test::exists(out_dir + "/jce.log"));
}

}  // namespace
}  // namespace diagpack
