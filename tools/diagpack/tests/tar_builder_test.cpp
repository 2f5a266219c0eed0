#include "archive/tar_builder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "string_sink.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

using namespace std::string_literals;
using test::write_at;
using test::write_file;

// Header fields at their offsets in a block.
std::string at(const std::string& archive, size_t block, size_t offset,
               size_t size) {
  return archive.substr(block * 512 + offset, size);
}
char typeflag(const std::string& archive, size_t block) {
  return archive[block * 512 + 156];
}

// A sink that takes |budget| bytes and then fails with ENOSPC.
class FullSink : public ByteSink {
 public:
  explicit FullSink(size_t budget) : budget_(budget) {}
  Status write(std::string_view bytes) override {
    if (bytes.size() > budget_) return Error::os(ENOSPC);
    budget_ -= bytes.size();
    data.append(bytes);
    return {};
  }
  std::string data;

 private:
  size_t budget_;
};

class TarBuilderTest : public test::TempDirTest {
 protected:
  // Appends the file at |path| under |name|; returns the error text or "".
  std::string append(TarBuilder& builder, const std::string& path,
                     std::string_view name) {
    Status st = builder.append_file(name, test::open_file(path).get(),
                                    test::status_of(path));
    return st ? "" : st.error().text();
  }
  std::string archive_of(const std::string& path, std::string_view name) {
    StringSink sink;
    TarBuilder builder(sink);
    EXPECT_EQ(append(builder, path, name), "");
    return sink.data;
  }
};

TEST_F(TarBuilderTest, RegularFileDataIsPaddedToWholeBlocks) {
  std::string data(123, 'x');
  write_file(path("osInfo.txt"), data);
  std::string a = archive_of(path("osInfo.txt"), "jce-data/osInfo.txt");
  ASSERT_EQ(a.size(), 1024u);
  EXPECT_EQ(typeflag(a, 0), '0');
  EXPECT_EQ(at(a, 0, 124, 12), "00000000173\0"s);
  EXPECT_EQ(a.substr(512), data + std::string(389, '\0'));

  write_file(path("b512"), std::string(512, 'y'));
  EXPECT_EQ(archive_of(path("b512"), "b512").size(), 1024u);
  write_file(path("b513"), std::string(513, 'z'));
  a = archive_of(path("b513"), "b513");
  ASSERT_EQ(a.size(), 1536u);
  EXPECT_EQ(a.substr(1024), "z" + std::string(511, '\0'));
  write_file(path("empty"), "");
  EXPECT_EQ(archive_of(path("empty"), "e").size(), 512u);
}

TEST_F(TarBuilderTest, LongNamesGetALongNameEntry) {
  StringSink sink;
  TarBuilder b(sink);
  struct stat st {};
  st.st_mode = S_IFDIR | 0755;
  ASSERT_TRUE(b.append_directory_entry(std::string(100, 'n'), st));
  EXPECT_EQ(sink.data.size(), 512u);  // exactly 100 bytes still fit

  sink.data.clear();
  std::string name = std::string(100, 'm') + "Z";
  ASSERT_TRUE(b.append_directory_entry(name, st));
  ASSERT_EQ(sink.data.size(), 1536u);
  EXPECT_EQ(typeflag(sink.data, 0), 'L');
  EXPECT_EQ(at(sink.data, 0, 124, 12), "00000000146\0"s);
  EXPECT_EQ(at(sink.data, 1, 0, 512), name + std::string(411, '\0'));
  EXPECT_EQ(typeflag(sink.data, 2), '5');
  EXPECT_EQ(at(sink.data, 2, 0, 100), std::string(100, 'm'));
}

TEST_F(TarBuilderTest, FileWithoutAllocatedBlocksIsAllHole) {
  const std::string file = path("hole");
  write_file(file, "");
  ASSERT_EQ(::truncate(file.c_str(), 1048576), 0);
  std::string a = archive_of(file, "hole");
  ASSERT_EQ(a.size(), 512u);
  EXPECT_EQ(typeflag(a, 0), 'S');
  EXPECT_EQ(at(a, 0, 124, 12), "00000000000\0"s);
  EXPECT_EQ(at(a, 0, 483, 12), "00004000000\0"s);  // realsize 1048576
  EXPECT_EQ(at(a, 0, 386, 24),
            "00004000000\0"
            "00000000000\0"s);
  EXPECT_EQ(at(a, 0, 410, 24), std::string(24, '\0'));
  EXPECT_EQ(a[482], 0);
}

TEST_F(TarBuilderTest, TwoDataRegionsAroundAHole) {
  const std::string file = path("two");
  write_file(file, std::string(4096, 'a'));
  write_at(file, 1048576, std::string(4096, 'b'));
  std::string a = archive_of(file, "two");
  if (!test::reports_holes(dir_.path())) {
    EXPECT_EQ(typeflag(a, 0), '0');
    EXPECT_EQ(a.size(), 512u + 1052672u);
    GTEST_SKIP() << "file system reports no holes";
  }
  ASSERT_EQ(a.size(), 512u + 8192u);  // 16 data blocks
  EXPECT_EQ(typeflag(a, 0), 'S');
  EXPECT_EQ(at(a, 0, 124, 12), "00000020000\0"s);
  EXPECT_EQ(at(a, 0, 483, 12), "00004010000\0"s);
  EXPECT_EQ(at(a, 0, 386, 72),
            "00000000000\0"
            "00000010000\0"
            "00004000000\0"
            "00000010000\0"
            "00004010000\0"
            "00000000000\0"s);
  EXPECT_EQ(a.substr(512), std::string(4096, 'a') + std::string(4096, 'b'));
}

TEST_F(TarBuilderTest, ThirtyRegionsNeedTwoExtensionBlocks) {
  if (!test::reports_holes(dir_.path()))
    GTEST_SKIP() << "file system reports no holes";
  const std::string file = path("thirty");
  for (int i = 0; i < 30; ++i)
    write_at(file, i * 8192, std::string(4096, char('A' + i)));
  std::string a = archive_of(file, "thirty");
  ASSERT_EQ(a.size(), 3 * 512u + 30 * 4096u);
  EXPECT_EQ(typeflag(a, 0), 'S');
  EXPECT_EQ(a[482], 1);
  EXPECT_EQ(at(a, 0, 386 + 72, 12), "00000060000\0"s);  // 4th pair at 3 * 8192
  EXPECT_EQ(at(a, 1, 0, 12), "00000100000\0"s);         // 5th pair at 4 * 8192
  EXPECT_EQ(a[512 + 504], 1);
  EXPECT_EQ(at(a, 2, 0, 12), "00000620000\0"s);  // 26th pair at 25 * 8192
  // Pair 31 is the terminal one, (file size, 0), in the second block's 6th
  // slot.
  EXPECT_EQ(at(a, 2, 5 * 24, 24),
            "00000730000\0"
            "00000000000\0"s);
  EXPECT_EQ(at(a, 2, 6 * 24, 24), std::string(24, '\0'));
  EXPECT_EQ(a[1024 + 504], 0);
  EXPECT_EQ(a.substr(1536, 4096), std::string(4096, 'A'));
  EXPECT_EQ(a.substr(a.size() - 4096), std::string(4096, 'A' + 29));
}

TEST_F(TarBuilderTest, SpecialFiles) {
  StringSink sink;
  TarBuilder b(sink);
  std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct stat st = test::status_of(fifo);
  ASSERT_TRUE(b.append_special("jce-data/fifo", st));
  ASSERT_EQ(sink.data.size(), 512u);
  EXPECT_EQ(typeflag(sink.data, 0), '6');
  EXPECT_EQ(at(sink.data, 0, 100, 8), "0010600\0"s);
  EXPECT_EQ(at(sink.data, 0, 329, 16),
            "0000000\0"
            "0000000\0"s);

  sink.data.clear();
  st = test::status_of("/dev/null");
  ASSERT_TRUE(b.append_special("null", st));
  EXPECT_EQ(typeflag(sink.data, 0), '3');
  EXPECT_EQ(at(sink.data, 0, 329, 16),
            "0000001\0"
            "0000003\0"s);

  sink.data.clear();
  st = {};
  st.st_mode = S_IFSOCK | 0755;
  std::string long_name = "jce-data/" + std::string(120, 's') + ".sock";
  Status s = b.append_special(long_name, st);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().text(), long_name + ": socket can not be archived");
  st.st_mode = S_IFREG | 0644;
  s = b.append_special("jce-data/bad\xFF", st);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().text(), "jce-data/bad\xEF\xBF\xBD has unknown file type");
  EXPECT_EQ(sink.data, "");
}

TEST_F(TarBuilderTest, EndMarkerIsWrittenOnce) {
  StringSink sink;
  {
    TarBuilder b(sink);
    ASSERT_TRUE(b.end_archive());
    ASSERT_TRUE(b.end_archive());
  }
  EXPECT_EQ(sink.data, std::string(1024, '\0'));
  StringSink by_destructor;
  { TarBuilder b(by_destructor); }
  EXPECT_EQ(by_destructor.data, std::string(1024, '\0'));
}

TEST_F(TarBuilderTest, SinkErrorsComeBackAtOnce) {
  write_file(path("data"), std::string(20000, 'd'));
  FullSink sink(512 + 8192);  // header and one buffer, then full
  TarBuilder b(sink);
  EXPECT_EQ(append(b, path("data"), "data"),
            "No space left on device (os error 28)");
  EXPECT_EQ(sink.data.size(), 512u + 8192u);
  EXPECT_FALSE(b.end_archive());
  EXPECT_TRUE(b.end_archive());  // the marker is tried once only
}

TEST_F(TarBuilderTest, UnreadableDescriptorIsAnOsError) {
  StringSink sink;
  TarBuilder b(sink);
  struct stat st = {};
  st.st_mode = S_IFREG | 0644;
  st.st_size = 10;
  st.st_blocks = 1;
  EXPECT_EQ(b.append_file("x", -1, st).error().text(),
            "Bad file descriptor (os error 9)");
}

}  // namespace
}  // namespace diagpack
