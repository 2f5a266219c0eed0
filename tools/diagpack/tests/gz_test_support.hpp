// Checks for gzip files in the encoder tests: the frame's fields, the DEFLATE
// body inflated by zlib, and the whole file read by other programs.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "test_support.hpp"

namespace diagpack::test {

inline const std::string kGzipHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff",
                                     10);

inline uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

// Inflates the raw DEFLATE stream between header and trailer; a failure
// when it is not exactly one complete DEFLATE stream.
inline std::string inflate_body(const std::string& gz) {
  if (gz.size() < 18) {
    ADD_FAILURE() << "too short for a gzip member: " << gz.size();
    return "";
  }
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

// Expects |gz| to be one gzip member of exactly |input|: our header, a
// DEFLATE stream that inflates to |input|, its CRC-32 and length.
inline void expect_member_of(const std::string& gz, const std::string& input) {
  ASSERT_GE(gz.size(), 18u);
  EXPECT_EQ(gz.substr(0, 10), kGzipHeader);
  const uLong crc =
      crc32_z(crc32(0L, Z_NULL, 0),
              reinterpret_cast<const Bytef*>(input.data()), input.size());
  EXPECT_EQ(le32(gz, gz.size() - 8), static_cast<uint32_t>(crc));
  EXPECT_EQ(le32(gz, gz.size() - 4), static_cast<uint32_t>(input.size()));
  EXPECT_TRUE(inflate_body(gz) == input) << "inflated content differs";
}

// What `gzip -dc` and Python's gzip module make of the file at |path|.
inline std::string gunzip_with_gzip(const std::string& path) {
  const std::string out = path + ".gzip-out";
  EXPECT_EQ(std::system(("gzip -dc '" + path + "' > '" + out + "'").c_str()),
            0);
  return read_file(out);
}
inline std::string gunzip_with_python(const std::string& path) {
  const std::string out = path + ".py-out";
  const std::string cmd =
      "python3 -c 'import gzip,sys; open(sys.argv[2], "
      "\"wb\").write(gzip.open(sys.argv[1]).read())' '" +
      path + "' '" + out + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return read_file(out);
}

// Log-like text with some variety, |size| bytes.
inline std::string sample_text(size_t size) {
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

}  // namespace diagpack::test
