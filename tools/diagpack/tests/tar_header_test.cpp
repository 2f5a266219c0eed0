#include "archive/tar_header.hpp"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>  // makedev

#include <string>

namespace diagpack {
namespace {

using namespace std::string_literals;

std::string field(const char* f, size_t n) { return std::string(f, n); }
#define FIELD(h, member) field((h).member, sizeof(h).member)

struct stat status(mode_t mode, off_t size, time_t mtime) {
  struct stat st {};
  st.st_mode = mode;
  st.st_size = size;
  st.st_mtime = mtime;
  return st;
}

TarHeader entry_header(std::string_view name, const struct stat& st,
                       char typeflag) {
  TarHeader h = new_gnu_header();
  set_name_field(h, name);
  fill_from(h, st, typeflag);
  set_cksum(h);
  return h;
}

TEST(TarHeader, RegularFileHeaderByteForByte) {
  TarHeader h = entry_header("jce-data/osInfo.txt",
                             status(0100644, 123, 1700000000), '0');
  std::string expected = "jce-data/osInfo.txt" + std::string(100 - 19, '\0') +
                         "0100644\0"s
                         "0000000\0"s
                         "0000000\0"s
                         "00000000173\0"s
                         "14524770400\0"s
                         "0012657\0"s
                         "0" +
                         std::string(100, '\0') + "ustar  \0"s +
                         std::string(64, '\0') +
                         "0000000\0"s
                         "0000000\0"s;
  expected.resize(512, '\0');
  EXPECT_EQ(std::string(block_bytes(h)), expected);
}

TEST(TarHeader, DirectoryHeaderHasSizeZeroAndItsChecksum) {
  TarHeader h =
      entry_header("jce-data/", status(0040755, 4096, 1700000000), '5');
  EXPECT_EQ(FIELD(h, mode), "0040755\0"s);
  EXPECT_EQ(FIELD(h, size), "00000000000\0"s);
  EXPECT_EQ(h.typeflag, '5');
  EXPECT_EQ(FIELD(h, chksum), "0010663\0"s);
  EXPECT_EQ(FIELD(h, devmajor), "0000000\0"s);
}

TEST(TarHeader, NumberFieldsSwitchToBase256AtTheOctalLimit) {
  TarHeader h = new_gnu_header();
  num_field_wrapper_into(h.uid, 2097151);
  EXPECT_EQ(FIELD(h, uid), "7777777\0"s);
  num_field_wrapper_into(h.uid, 2097152);
  EXPECT_EQ(FIELD(h, uid), "\x80\0\0\0\0\x20\0\0"s);
  num_field_wrapper_into(h.size, 8589934591);
  EXPECT_EQ(FIELD(h, size), "77777777777\0"s);
  num_field_wrapper_into(h.size, 8589934592);
  EXPECT_EQ(FIELD(h, size), "\x80\0\0\0\0\0\0\x02\0\0\0\0"s);
  num_field_wrapper_into(h.mtime, 0xFFFFFFFFFFFFFFFFu);  // a negative time
  EXPECT_EQ(FIELD(h, mtime), "\x80\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s);
  num_field_wrapper_into(h.gid, 0x8000000000000001u);  // top bit already set
  EXPECT_EQ(FIELD(h, gid), "\x80\0\0\0\0\0\0\x01"s);
}

TEST(TarHeader, OctalKeepsLowDigitsAndEndsInNul) {
  char f[8];
  octal_into(f, 0644);
  EXPECT_EQ(field(f, 8), "0000644\0"s);
  octal_into(f, 0);
  EXPECT_EQ(field(f, 8), "0000000\0"s);
  octal_into(f, 012345670123);
  EXPECT_EQ(field(f, 8), "5670123\0"s);
}

TEST(TarHeader, NameFieldLengthsAndUtf8Cut) {
  TarHeader h = new_gnu_header();
  set_name_field(h, std::string(99, 'a'));
  EXPECT_EQ(FIELD(h, name), std::string(99, 'a') + '\0');
  std::string hundred(100, 'b');
  EXPECT_FALSE(needs_long_name(hundred));
  set_name_field(h, hundred);
  EXPECT_EQ(FIELD(h, name), hundred);
  EXPECT_EQ(h.mode[0], '\0');  // no terminator spilled into the next field

  std::string long_name = std::string(100, 'c') + "d";
  EXPECT_TRUE(needs_long_name(long_name));
  set_name_field(h, long_name);
  EXPECT_EQ(FIELD(h, name), std::string(100, 'c'));

  // The first 100 bytes end in the lead byte of "é": the cut goes before it.
  set_name_field(h, std::string(99, 'e') + "\xC3\xA9tail");
  EXPECT_EQ(FIELD(h, name), std::string(99, 'e') + '\0');
  // Invalid bytes early on cut there.
  set_name_field(h, "ab\xFF" + std::string(120, 'f'));
  EXPECT_EQ(FIELD(h, name), "ab" + std::string(98, '\0'));
}

TEST(TarHeader, LongNameEntryHeader) {
  TarHeader h = long_name_header(102);
  EXPECT_EQ(FIELD(h, name), "././@LongLink" + std::string(87, '\0'));
  EXPECT_EQ(FIELD(h, mode), "0000644\0"s);
  EXPECT_EQ(FIELD(h, uid), "0000000\0"s);
  EXPECT_EQ(FIELD(h, gid), "0000000\0"s);
  EXPECT_EQ(FIELD(h, size), "00000000146\0"s);
  EXPECT_EQ(FIELD(h, mtime), "00000000000\0"s);
  EXPECT_EQ(h.typeflag, 'L');
  EXPECT_EQ(FIELD(h, magic), "ustar "s);
  EXPECT_EQ(FIELD(h, version), " \0"s);
  EXPECT_EQ(FIELD(h, devmajor), std::string(8, '\0'));
  EXPECT_EQ(FIELD(h, devminor), std::string(8, '\0'));
  EXPECT_EQ(FIELD(h, chksum), "0007774\0"s);  // the byte sum, spaces for it
}

TEST(TarHeader, DeviceNumbersSplitLikeTheCLibrary) {
  struct stat st = status(0020666, 0, 0);
  st.st_rdev = makedev(1, 3);
  TarHeader h = entry_header("null", st, '3');
  EXPECT_EQ(FIELD(h, devmajor), "0000001\0"s);
  EXPECT_EQ(FIELD(h, devminor), "0000003\0"s);

  st.st_rdev = makedev(0x1234, 0x56789);
  h = entry_header("big", st, '4');
  EXPECT_EQ(FIELD(h, devmajor), "0011064\0"s);  // 0x1234
  EXPECT_EQ(FIELD(h, devminor), "1263611\0"s);  // 0x56789

  // Directories and regular files never show st_rdev.
  st.st_mode = 0100600;
  h = entry_header("file", st, '0');
  EXPECT_EQ(FIELD(h, devmajor), "0000000\0"s);
  EXPECT_EQ(FIELD(h, devminor), "0000000\0"s);
}

}  // namespace
}  // namespace diagpack
