// An archive written by TarBuilder over GzEncoder, read back by independent
// readers: gzip -t, Python's tarfile, GNU tar and bsdtar.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/gz_encoder.hpp"
#include "archive/tar_builder.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

using test::status_of;
using test::write_at;
using test::write_file;

bool have(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int run(const std::string& command) { return std::system(command.c_str()); }

// A directory name long enough for a long-name entry, with "é" across byte 100.
const std::string kLongDir =
    std::string(95, 'l') + "-d\xC3\xA9j\xC3\xA0-vu-" + std::string(20, 'x');

class TarReadersTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    src_ = path("src");
    test::make_dir(src_);
    test::make_dir(src_ + "/" + kLongDir, 0750);
    write_file(src_ + "/osInfo.txt", std::string(123, 'o'));
    write_file(src_ + "/b513", std::string(513, 'b'));
    write_file(src_ + "/empty", "");
    write_file(src_ + "/" + kLongDir + "/f.log", "log line\n");
    write_file(src_ + "/two", std::string(4096, 'a'));
    write_at(src_ + "/two", 1048576, std::string(4096, 'z'));
    for (int i = 0; i < 30; ++i)
      write_at(src_ + "/thirty", i * 8192, std::string(4096, char('A' + i)));
    write_file(src_ + "/hole", "");
    ASSERT_EQ(::truncate((src_ + "/hole").c_str(), 1048576), 0);
    ASSERT_EQ(::mkfifo((src_ + "/fifo").c_str(), 0640), 0);
    regular_ = {"osInfo.txt", "b513",   "empty", kLongDir + "/f.log",
                "two",        "thirty", "hole"};
    archive_ = path("jce-data.tar.gz");
    write_archive();
  }

  void write_archive() {
    GzEncoder gz(test::create_file(archive_));
    TarBuilder builder(gz);
    ASSERT_TRUE(builder.append_directory_entry("jce-data/", status_of(src_)));
    ASSERT_TRUE(builder.append_directory_entry(
        "jce-data/" + kLongDir, status_of(src_ + "/" + kLongDir)));
    for (const std::string& rel : regular_) {
      const std::string file = src_ + "/" + rel;
      Status s = builder.append_file(
          "jce-data/" + rel, test::open_file(file).get(), status_of(file));
      ASSERT_TRUE(s) << s.error().text();
    }
    ASSERT_TRUE(
        builder.append_special("jce-data/fifo", status_of(src_ + "/fifo")));
    ASSERT_TRUE(builder.end_archive());
    ASSERT_TRUE(gz.finish_stream());
    ASSERT_TRUE(gz.close_file());
  }

  // Extracts with |extract| (given the output directory) and compares files.
  void check_extraction(const std::string& extract, const std::string& out) {
    test::make_dir(out);
    ASSERT_EQ(run(extract + " -C " + out), 0);
    for (const std::string& rel : regular_)
      EXPECT_EQ(run("cmp -s '" + src_ + "/" + rel + "' '" + out + "/jce-data/" +
                    rel + "'"),
                0)
          << rel;
    EXPECT_TRUE(S_ISFIFO(status_of(out + "/jce-data/fifo").st_mode));
  }

  std::string src_;
  std::string archive_;
  std::vector<std::string> regular_;
};

TEST_F(TarReadersTest, GzipAcceptsTheStream) {
  if (!have("gzip")) GTEST_SKIP() << "no gzip";
  EXPECT_EQ(run("gzip -t " + archive_), 0);
}

TEST_F(TarReadersTest, PythonTarfileReadsEveryEntry) {
  if (!have("python3")) GTEST_SKIP() << "no python3";
  const std::string script = path("check.py");
  write_file(script, R"(import sys, tarfile
archive, src = sys.argv[1], sys.argv[2]
with tarfile.open(archive, "r:gz") as tar:
    kinds = {}
    for m in tar:
        rel = m.name[len("jce-data/"):] if m.name != "jce-data" else ""
        kinds[rel] = "dir" if m.isdir() else "fifo" if m.isfifo() else "file"
        if m.isfile():
            with open(src + "/" + rel, "rb") as f:
                assert tar.extractfile(m).read() == f.read(), rel
    assert kinds.pop("") == "dir" and kinds.pop("fifo") == "fifo", kinds
    dirs = [k for k, v in kinds.items() if v == "dir"]
    assert len(dirs) == 1 and len(dirs[0]) > 100, dirs
    assert sum(v == "file" for v in kinds.values()) == 7, kinds
)");
  EXPECT_EQ(run("python3 " + script + " " + archive_ + " " + src_), 0);
}

TEST_F(TarReadersTest, GnuTarExtractsSparseAndLongNames) {
  if (!have("tar")) GTEST_SKIP() << "no tar";
  check_extraction("tar --sparse -xzf " + archive_, path("gnu"));
}

TEST_F(TarReadersTest, BsdtarExtracts) {
  if (!have("bsdtar")) GTEST_SKIP() << "no bsdtar";
  check_extraction("bsdtar -xzf " + archive_, path("bsd"));
}

}  // namespace
}  // namespace diagpack
