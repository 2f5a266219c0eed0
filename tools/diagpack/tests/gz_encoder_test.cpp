// The gzip frame and round trips, for the one-thread encoder (1) and the
// parallel one (2 and 4 threads): whatever compresses, the frame, the
// content and the errors are the same.
#include "archive/gz_encoder.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "gz_test_support.hpp"

namespace diagpack {
namespace {

using test::create_file;
using test::expect_member_of;
using test::inflate_body;
using test::kGzipHeader;
using test::le32;
using test::read_file;

const std::string kNoSpace = "No space left on device (os error 28)";

class GzEncoderTest : public ::testing::TestWithParam<unsigned> {
 protected:
  test::TempDir dir_;
  std::string path_ = dir_.path("out.gz");
};

INSTANTIATE_TEST_SUITE_P(Threads, GzEncoderTest, ::testing::Values(1u, 2u, 4u));

TEST_P(GzEncoderTest, EmptyStreamHasHeaderFinalBlockAndZeroTrailer) {
  GzEncoder gz(create_file(path_), 6, GetParam());
  ASSERT_TRUE(gz.finish_stream());
  ASSERT_TRUE(gz.finish_stream());  // once only
  ASSERT_TRUE(gz.close_file());
  std::string file = read_file(path_);
  ASSERT_GE(file.size(), 19u);
  EXPECT_EQ(file.substr(0, 10), kGzipHeader);
  EXPECT_EQ(file.substr(file.size() - 8), std::string(8, '\0'));
  EXPECT_EQ(inflate_body(file), "");
}

TEST_P(GzEncoderTest, MultiMegabyteRoundTripWithCrcAndLength) {
  const std::string input = test::sample_text(5 * 1024 * 1024 + 17);
  {
    GzEncoder gz(create_file(path_), 6, GetParam());
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
  std::string file = read_file(path_);
  EXPECT_LT(file.size(), input.size() / 3);
  expect_member_of(file, input);
  EXPECT_EQ(std::system(("gzip -t " + path_).c_str()), 0);
}

TEST_P(GzEncoderTest, DestructorFinishesTheStream) {
  {
    GzEncoder gz(create_file(path_), 6, GetParam());
    ASSERT_TRUE(gz.write("hello"));
  }
  std::string file = read_file(path_);
  EXPECT_EQ(inflate_body(file), "hello");
  EXPECT_EQ(le32(file, file.size() - 4), 5u);
}

TEST_P(GzEncoderTest, WriteErrorIsReturnedAndSticky) {
  GzEncoder gz(UniqueFd(::open("/dev/full", O_WRONLY | O_CLOEXEC)), 6,
               GetParam());
  Status st = gz.write("data");
  ASSERT_FALSE(st);
  EXPECT_EQ(st.error().text(), kNoSpace);
  EXPECT_EQ(gz.write("more").error().text(), kNoSpace);
  EXPECT_EQ(gz.finish_stream().error().text(), kNoSpace);
  EXPECT_EQ(gz.finish_stream().error().text(), kNoSpace);
}

TEST_P(GzEncoderTest, FinishWritesTheHeaderWhenNothingWasWritten) {
  GzEncoder gz(UniqueFd(::open("/dev/full", O_WRONLY | O_CLOEXEC)), 6,
               GetParam());
  EXPECT_EQ(gz.finish_stream().error().text(), kNoSpace);
}

TEST_P(GzEncoderTest, WriteAfterFinishIsAnError) {
  GzEncoder gz(create_file(path_), 6, GetParam());
  ASSERT_TRUE(gz.write("x"));
  ASSERT_TRUE(gz.finish_stream());
  EXPECT_FALSE(gz.write("y"));
  ASSERT_TRUE(gz.close_file());
  expect_member_of(read_file(path_), "x");
}

}  // namespace
}  // namespace diagpack
