// Blocks compressed apart join into one DEFLATE stream, and the dictionary
// lets a block refer back into the stream before it.
#include "archive/deflate_block.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

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
  const std::string dict = test::random_bytes(32768);
  const std::string data = dict.substr(10000, 20000);
  const std::string primed = piece(*d, dict, data, true);
  EXPECT_LT(primed.size(), 200u);  // back-references only
  EXPECT_GT(piece(*d, "", data, true).size(), 20000u);
  // Read back with the same dictionary before it.
  const std::string body = piece(*d, "", dict, false) + primed;
  EXPECT_TRUE(test::inflate_body(member(body)) == dict + data);
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
