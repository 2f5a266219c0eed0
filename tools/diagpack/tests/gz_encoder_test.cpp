#include "gz_encoder.hpp"

#include <fcntl.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <string>

#include "archive_test_files.hpp"

namespace diagpack {
namespace {

using namespace std::string_literals;
using test::read_whole;
using test::ScratchDir;

const std::string kHeader = "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff"s;

UniqueFd create(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

// Inflates the raw DEFLATE stream between header and trailer; "" and a
// failure when the stream is not one complete DEFLATE stream.
std::string inflate_body(const std::string& gz) {
  std::string body = gz.substr(10, gz.size() - 18);
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
  zs.next_in = reinterpret_cast<Bytef*>(body.data());
  zs.avail_in = static_cast<uInt>(body.size());
  std::string out;
  char buf[65536];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
  } while (rc == Z_OK);
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(zs.avail_in, 0u) << "bytes after the end of the DEFLATE stream";
  inflateEnd(&zs);
  return out;
}

// Log-like text with some variety, |size| bytes.
std::string sample(size_t size) {
  std::string s;
  uint32_t x = 12345;
  while (s.size() < size) {
    x = x * 1103515245 + 12345;
    s += "2024-05-01 12:00:" + std::to_string(x % 60) + " INFO worker " +
         std::to_string(x >> 16) + " handled request\n";
  }
  s.resize(size);
  return s;
}

class GzEncoderTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  std::string path_ = dir_.file("out.gz");
};

TEST_F(GzEncoderTest, EmptyStreamHasHeaderFinalBlockAndZeroTrailer) {
  GzEncoder gz(create(path_));
  ASSERT_TRUE(gz.finish_stream());
  ASSERT_TRUE(gz.finish_stream());  // once only
  ASSERT_TRUE(gz.close_file());
  std::string file = read_whole(path_);
  ASSERT_GE(file.size(), 19u);
  EXPECT_EQ(file.substr(0, 10), kHeader);
  EXPECT_EQ(file.substr(file.size() - 8), std::string(8, '\0'));
  EXPECT_EQ(inflate_body(file), "");
}

TEST_F(GzEncoderTest, MultiMegabyteRoundTripWithCrcAndLength) {
  const std::string input = sample(5 * 1024 * 1024 + 17);
  {
    GzEncoder gz(create(path_));
    // Writes of uneven sizes, as the tar writer makes them.
    size_t pos = 0, step = 1;
    while (pos < input.size()) {
      size_t n = std::min(step, input.size() - pos);
      ASSERT_TRUE(gz.write(std::string_view(input).substr(pos, n)));
      pos += n;
      step = step * 3 % 70001 + 1;
    }
    ASSERT_TRUE(gz.finish_stream());
    ASSERT_TRUE(gz.close_file());
  }
  std::string file = read_whole(path_);
  EXPECT_EQ(file.substr(0, 10), kHeader);
  EXPECT_LT(file.size(), input.size() / 3);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(input.data()), input.size());
  EXPECT_EQ(le32(file, file.size() - 8), static_cast<uint32_t>(crc));
  EXPECT_EQ(le32(file, file.size() - 4), static_cast<uint32_t>(input.size()));
  EXPECT_TRUE(inflate_body(file) == input);
  EXPECT_EQ(std::system(("gzip -t " + path_).c_str()), 0);
}

TEST_F(GzEncoderTest, DestructorFinishesTheStream) {
  { GzEncoder gz(create(path_)); ASSERT_TRUE(gz.write("hello")); }
  std::string file = read_whole(path_);
  EXPECT_EQ(inflate_body(file), "hello");
  EXPECT_EQ(le32(file, file.size() - 4), 5u);
}

TEST_F(GzEncoderTest, WriteErrorIsReturnedAndSticky) {
  GzEncoder gz(UniqueFd(::open("/dev/full", O_WRONLY | O_CLOEXEC)));
  const std::string enospc = "No space left on device (os error 28)";
  Status st = gz.write("data");
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().text(), enospc);
  EXPECT_EQ(gz.write("more").error().text(), enospc);
  EXPECT_EQ(gz.finish_stream().error().text(), enospc);
  EXPECT_EQ(gz.finish_stream().error().text(), enospc);
}

TEST_F(GzEncoderTest, FinishWritesTheHeaderWhenNothingWasWritten) {
  GzEncoder gz(UniqueFd(::open("/dev/full", O_WRONLY | O_CLOEXEC)));
  EXPECT_EQ(gz.finish_stream().error().text(), "No space left on device (os error 28)");
}

}  // namespace
}  // namespace diagpack
