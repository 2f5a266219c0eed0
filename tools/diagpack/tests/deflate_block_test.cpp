// Blocks compressed apart join into one DEFLATE stream, the dictionary lets
// a block refer back into the stream before it, and what would not shrink
// is stored.
#include "archive/deflate_block.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "archive/compressibility.hpp"
#include "gz_test_support.hpp"

namespace diagpack {
namespace {

std::span<const unsigned char> bytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

std::string piece(BlockDeflater& d, const std::string& dict,
                  const std::string& data, bool last) {
  std::vector<unsigned char> out;
  auto n = d.compress(bytes(dict), bytes(data), last, out);
  EXPECT_TRUE(n);
  return n ? std::string(reinterpret_cast<const char*>(out.data()), *n) : "";
}

// The pieces wrapped as a gzip member, so the shared checks can read them.
std::string member(const std::string& body) {
  return test::kGzipHeader + body + std::string(8, '\0');
}

TEST(BlockDeflaterTest, PiecesJoinIntoOneStream) {
  auto d = BlockDeflater::create(6);
  ASSERT_TRUE(d);
  const std::string a = test::sample_text(50000), b = test::random_bytes(3000),
                    c = test::sample_text(7000);
  const std::string body =
      piece(*d, "", a, false) +
      piece(*d, a.substr(a.size() - 32768), b, false) +
      piece(*d, (a + b).substr(a.size() + b.size() - 32768), c, true);
  EXPECT_TRUE(test::inflate_body(member(body)) == a + b + c);
}

TEST(BlockDeflaterTest, DictionaryIsUsed) {
  auto d = BlockDeflater::create(6);
  ASSERT_TRUE(d);
  const std::string dict = test::sample_text(32768);
  const std::string data = dict.substr(10000, 20000);
  const std::string primed = piece(*d, dict, data, true);
  EXPECT_LT(primed.size(), 500u);  // back-references only
  EXPECT_GT(piece(*d, "", data, true).size(), 2000u);
  // Read back with the same dictionary before it.
  const std::string body = piece(*d, "", dict, false) + primed;
  EXPECT_TRUE(test::inflate_body(member(body)) == dict + data);
}

// Random bytes repeated within the window are stored, not matched: the
// loss is the repeated bytes, never more than the stored-block headers.
TEST(BlockDeflaterTest, RepeatedRandomDataIsStoredNotMatched) {
  auto d = BlockDeflater::create(6);
  ASSERT_TRUE(d);
  const std::string dict = test::random_bytes(32768);
  const std::string data = dict.substr(10000, 20000);
  const std::string stored = piece(*d, dict, data, true);
  EXPECT_EQ(stored, std::string("\x01\x20\x4e\xdf\xb1", 5) + data);
}

// Random, text, random within one last block, the random tail piece
// shorter than a piece: three runs, the last stored with BFINAL set. The
// text repeats the dictionary from 32 KiB back: its run's window is the end of
// the dictionary and the block's start, and it shrinks to references.
TEST(BlockDeflaterTest, MixedRunsJoinAndTheFinalBlockIsStored) {
  auto d = BlockDeflater::create(6);
  ASSERT_TRUE(d);
  const std::string dict = test::sample_text(32768),
                    noise = test::random_bytes(16384 + 35000);
  // zlib reaches back 32 KiB less 262 bytes: repeat from a little later.
  const std::string text = dict.substr(16896) + dict.substr(0, 512);
  const std::string data = noise.substr(0, 16384) + text + noise.substr(16384);
  const std::string body = piece(*d, dict, data, true);
  EXPECT_LT(body.size(), 5 + 16384 + 500 + 5 + 35000);
  const size_t tail = body.size() - 35000 - 5;
  EXPECT_EQ(body.substr(tail, 5), std::string("\x01\xb8\x88\x47\x77", 5));
  EXPECT_TRUE(test::inflate_body(member(piece(*d, "", dict, false) + body)) ==
              dict + data);
}

TEST(CompressibilityTest, SamplesAndTheAlignedZeroRunGuard) {
  auto judge = [](const std::string& s) {
    return looks_compressible(bytes(s));
  };
  std::string noise = test::random_bytes(kCompressibilityPieceSize);
  EXPECT_FALSE(judge(noise));
  EXPECT_FALSE(judge(noise.substr(0, 5000)));  // a tail piece
  EXPECT_TRUE(judge(noise.substr(0, 1000)));   // too short to judge
  EXPECT_TRUE(judge(test::sample_text(kCompressibilityPieceSize)));
  EXPECT_TRUE(judge(std::string(kCompressibilityPieceSize, '\0')));
  std::string unaligned = noise;
  unaligned.replace(12004, 16, 16, '\0');  // one aligned zero word only
  EXPECT_FALSE(judge(unaligned));
  noise.replace(12000, 16, 16, '\0');  // as in a tar header
  EXPECT_TRUE(judge(noise));
}

TEST(BlockDeflaterTest, EmptyLastBlockClosesTheStream) {
  auto d = BlockDeflater::create(6);
  ASSERT_TRUE(d);
  const std::string a = test::sample_text(1000);
  const std::string end = piece(*d, a, "", true);
  EXPECT_EQ(end.size(), 2u);  // an empty final block with fixed codes
  EXPECT_TRUE(test::inflate_body(member(piece(*d, "", a, false) + end)) == a);
}

TEST(BlockDeflaterTest, OutputBufferGrowsWhenTooSmall) {
  auto d = BlockDeflater::create(6);
  ASSERT_TRUE(d);
  const std::string data = test::random_bytes(100000);
  std::vector<unsigned char> out;
  auto n = d->compress({}, bytes(data), true, out);
  ASSERT_TRUE(n);
  EXPECT_GE(out.size(), *n);
  EXPECT_TRUE(test::inflate_body(
                  member(std::string(out.begin(), out.begin() + *n))) == data);
}

}  // namespace
}  // namespace diagpack
