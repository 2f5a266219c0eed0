#include "stages/os_report.hpp"

#include <gtest/gtest.h>
#include <sys/utsname.h>  // uname

#include "test_support.hpp"

namespace diagpack {
namespace {

using test::exists;
using test::make_dir;

// A scratch directory holding the release files of one test.
class ReleaseDir {
 public:
  ReleaseDir() {
    files_.os_release = dir_.path("os-release");
    files_.lsb_release = dir_.path("lsb-release");
    files_.system_release = dir_.path("system-release");
  }

  void os_release(std::string_view bytes) {
    test::write_file(files_.os_release, bytes);
  }
  void lsb_release(std::string_view bytes) {
    test::write_file(files_.lsb_release, bytes);
  }
  void system_release(std::string_view bytes) {
    test::write_file(files_.system_release, bytes);
  }

  std::optional<std::string> lookup(std::string_view key,
                                    std::string_view fallback) {
    return get_system_info_linux(key, fallback, files_);
  }
  std::string long_version() {
    return SystemSnapshot(files_).long_os_version();
  }
  // The report as written to a directory of its own (made on first use).
  Result<std::string> report() {
    const std::string out = dir_.path("out");
    if (!exists(out)) make_dir(out);
    if (Status st = write_os_report(out, files_); !st) return st.take_error();
    return test::read_file(out + "/osInfo.txt");
  }

  const ReleaseFiles& files() const { return files_; }
  std::string path(std::string_view rel) const { return dir_.path(rel); }

 private:
  test::TempDir dir_;
  ReleaseFiles files_;
};

// The kernel release as uname gives it: ASCII up to its first NUL.
std::string uname_release() {
  struct utsname u = {};
  EXPECT_EQ(::uname(&u), 0);
  return u.release;
}

TEST(ReleaseLookup, KeyMustStartTheLineAndFirstMatchWins) {
  ReleaseDir dir;
  dir.os_release(
      "PRETTY_NAME=\"Pretty\"\n NAME=Indented\n# NAME=comment\n"
      "NAME=\"First\"\nNAME=\"Second\"\n");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), "First");
  dir.os_release("PRETTY_NAME=\"Pretty\"\n NAME=Indented\n");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), std::nullopt);
}

TEST(ReleaseLookup, CarriageReturnDroppedOnlyBeforeLineFeed) {
  ReleaseDir dir;
  dir.os_release("NAME=\"Ubuntu\"\r\nVERSION_ID=\"22.04\"\r\nID=x\r");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), "Ubuntu");
  EXPECT_EQ(dir.lookup("VERSION_ID=", "DISTRIB_RELEASE="), "22.04");
  EXPECT_EQ(dir.lookup("ID=", "DISTRIB_ID="), "x\r");
  dir.os_release("NAME=a\r\r\n");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), "a\r");
}

TEST(ReleaseLookup, DoubleQuotesRemovedEverythingElseKept) {
  ReleaseDir dir;
  dir.os_release("NAME='Arch \"Li\"nux' \\x \n");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), "'Arch Linux' \\x ");
}

TEST(ReleaseLookup, EmptyValueWinsOverFallback) {
  ReleaseDir dir;
  dir.os_release("VERSION_ID=\"\"\nNAME=\n");
  dir.lsb_release("DISTRIB_RELEASE=12\nDISTRIB_ID=Debian\n");
  EXPECT_EQ(dir.lookup("VERSION_ID=", "DISTRIB_RELEASE="), "");
  EXPECT_EQ(dir.long_version(), "Linux  ");
}

TEST(ReleaseLookup, InvalidUtf8LineIsSkipped) {
  ReleaseDir dir;
  dir.os_release("NAME=Bad\xFF\nNAME=Good\n");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), "Good");
  dir.os_release("NAME=Bad\xE2\x82");  // last line, cut short
  dir.lsb_release("DISTRIB_ID=Debian");
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), "Debian");
}

// Lines across the 64 KiB pieces read; values past 1 MiB (then reserved).
TEST(ReleaseLookup, LinesSpanningReadChunksAreWhole) {
  ReleaseDir dir;
  std::string text;
  for (int i = 0; i < 5000; ++i)
    text += "FILLER_" + std::to_string(i) + "=some value\n";
  const std::string big(3 << 20, 'n');
  // A matching line that is not UTF-8 after megabytes is dropped whole.
  text += "NAME=" + big + "\xFF\n";
  text += "NAME=\"" + big + "\"\r\nVERSION_ID=9\n";
  dir.os_release(text);
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), big);
  EXPECT_EQ(dir.lookup("VERSION_ID=", "DISTRIB_RELEASE="), "9");
}

TEST(ReleaseLookup, UnreadableOsReleaseFallsBackWithoutLooping) {
  ReleaseDir dir;
  make_dir(dir.files().os_release);
  dir.lsb_release("DISTRIB_ID=Debian\nDISTRIB_RELEASE=12\n");
  EXPECT_EQ(dir.long_version(), "Linux 12 Debian");
}

TEST(ReleaseLookup, TwoValuesAreLookedUpIndependently) {
  ReleaseDir dir;
  dir.os_release("NAME=\"Fedora Linux\"\n");
  dir.lsb_release("DISTRIB_ID=Other\nDISTRIB_RELEASE=40\n");
  EXPECT_EQ(dir.long_version(), "Linux 40 Fedora Linux");
}

TEST(ReleaseLookup, NoFilesGiveNothing) {
  ReleaseDir dir;
  EXPECT_EQ(dir.lookup("NAME=", "DISTRIB_ID="), std::nullopt);
  EXPECT_EQ(dir.long_version(), "Linux  ");
}

TEST(KernelRelease, DropsEveryNulAndReadsLatin1) {
  EXPECT_EQ(kernel_release_text(std::string_view("6.1\0\0-x\0\xE9\0", 10)),
            "6.1-x\xC3\xA9");
  EXPECT_EQ(kernel_release_text(std::string(65, '\0')), "");
}

TEST(OsReport, TwoLinesWithoutSystemRelease) {
  ReleaseDir dir;
  dir.os_release("NAME=\"Ubuntu\"\nVERSION_ID=\"22.04\"\n");
  auto text = dir.report();
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "Platform: linux-" + uname_release() +
                       "\nVersion: Linux 22.04 Ubuntu\n");
}

TEST(OsReport, SystemReleaseCopiedWhole) {
  ReleaseDir dir;
  dir.os_release("NAME=\"Fedora Linux\"\nVERSION_ID=40\n");
  dir.system_release("Fedora release 40 (Forty)\n");
  auto text = dir.report();
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "Platform: linux-" + uname_release() +
                       "\nVersion: Linux 40 Fedora Linux\n"
                       "System Release: Fedora release 40 (Forty)\n\n");
  dir.system_release("");
  text = dir.report();
  ASSERT_TRUE(text.ok());
  EXPECT_TRUE(text->ends_with("\nSystem Release: \n")) << *text;
}

// A device never ends: release files linked to /dev/zero count as files
// that cannot be opened, so the report ends at once with two lines.
TEST(OsReport, ReleaseFilesThatAreDevicesAreNotRead) {
  ReleaseDir dir;
  for (const std::string& file :
       {dir.files().os_release, dir.files().lsb_release,
        dir.files().system_release})
    ASSERT_EQ(::symlink("/dev/zero", file.c_str()), 0);
  auto text = dir.report();
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text,
            "Platform: linux-" + uname_release() + "\nVersion: Linux  \n");
}

TEST(OsReport, SystemReleaseFaultsFailAndWriteNothing) {
  ReleaseDir dir;
  const std::string out = dir.path("out");
  make_dir(out);
  dir.system_release("ok\xFF");
  auto st = write_os_report(out, dir.files());
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().text(), "stream did not contain valid UTF-8");
  EXPECT_FALSE(exists(out + "/osInfo.txt"));

  ASSERT_EQ(::unlink(dir.files().system_release.c_str()), 0);
  make_dir(dir.files().system_release);
  st = write_os_report(out, dir.files());
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().text(), "Is a directory (os error 21)");
  EXPECT_FALSE(exists(out + "/osInfo.txt"));

  ASSERT_EQ(::rmdir(dir.files().system_release.c_str()), 0);
  EXPECT_TRUE(write_os_report(out, dir.files()).ok());
  EXPECT_TRUE(exists(out + "/osInfo.txt"));
}

}  // namespace
}  // namespace diagpack
