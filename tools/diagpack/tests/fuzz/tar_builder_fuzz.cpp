// Fuzzes the tar header encoding: entry names of arbitrary bytes and length
// and arbitrary status numbers go through TarBuilder into a StringSink. Besides
// the sanitizers' checks it holds the writer to what readers rely on:
// - the output is whole 512-byte blocks and every header's checksum
//   recomputes;
// - a long name is carried whole (plus a NUL) by a long-name entry whose
//   size matches, and the header's own name field holds the name itself or
//   the valid UTF-8 prefix of its first 100 bytes;
// - uid, gid, size and mtime decode back to the values given, in octal or
//   base-256;
// - a socket or an unknown type writes nothing and names the entry.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "archive/tar_builder.hpp"
#include "archive/tar_header.hpp"
#include "base/utf8.hpp"
#include "string_sink.hpp"

namespace {

using namespace diagpack;

void check(bool ok) {
  if (!ok) std::abort();
}

// Decodes a number field: octal digits and a NUL, or base-256.
uint64_t decode_number(std::string_view f) {
  auto first = static_cast<unsigned char>(f[0]);
  if (first & 0x80) {
    check(first == 0x80 || f.size() == 8);
    for (size_t i = 1; i + 8 < f.size(); ++i) check(f[i] == 0);
    uint64_t v = f.size() == 8 ? (first & 0x7F) : 0;
    for (size_t i = f.size() - 8 + (f.size() == 8 ? 1 : 0); i < f.size(); ++i)
      v = (v << 8) | static_cast<unsigned char>(f[i]);
    return v;
  }
  check(f.back() == '\0');
  uint64_t v = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) {
    check(f[i] >= '0' && f[i] <= '7');
    v = v * 8 + static_cast<uint64_t>(f[i] - '0');
  }
  return v;
}

std::string_view field(const std::string& out, size_t block, size_t offset,
                       size_t size) {
  return std::string_view(out).substr(block * kBlockSize + offset, size);
}

void check_cksum(const std::string& out, size_t block) {
  unsigned sum = 0;
  for (size_t i = 0; i < kBlockSize; ++i)
    sum += (i >= 148 && i < 156)
               ? ' '
               : static_cast<unsigned char>(out[block * kBlockSize + i]);
  check(decode_number(field(out, block, 148, 8)) == sum);
  check(field(out, block, 257, 8) == std::string_view("ustar  \0", 8));
}

// The expected content of a 100-byte name field.
std::string name_field_for(std::string_view name) {
  std::string stored(
      needs_long_name(name) ? utf8_valid_prefix(name.substr(0, 100)) : name);
  stored.resize(100, '\0');
  return stored;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  struct stat st {};
  static constexpr mode_t kTypes[] = {S_IFDIR,  S_IFIFO, S_IFCHR, S_IFBLK,
                                      S_IFSOCK, S_IFREG, 0};
  const mode_t type =
      kTypes[in.ConsumeIntegralInRange<size_t>(0, std::size(kTypes) - 1)];
  st.st_mode = type | (in.ConsumeIntegral<mode_t>() & 07777);
  st.st_uid = in.ConsumeIntegral<uid_t>();
  st.st_gid = in.ConsumeIntegral<gid_t>();
  st.st_size = in.ConsumeIntegral<off_t>();
  st.st_mtime = in.ConsumeIntegral<time_t>();
  st.st_rdev = in.ConsumeIntegral<dev_t>();
  const std::string name = in.ConsumeRemainingBytesAsString();

  StringSink sink;
  TarBuilder builder(sink);
  Status status = type == S_IFDIR ? builder.append_directory_entry(name, st)
                                  : builder.append_special(name, st);
  const std::string& out = sink.data;
  if (type == S_IFSOCK || type == S_IFREG || type == 0) {
    check(!status && out.empty());
    const char* suffix = type == S_IFSOCK ? ": socket can not be archived"
                                          : " has unknown file type";
    check(status.error().text() == utf8_lossy(name) + suffix);
    return 0;
  }
  check(status.ok());
  check(out.size() % kBlockSize == 0);

  size_t block = 0;
  if (needs_long_name(name)) {
    check(field(out, 0, 156, 1) == "L");
    check_cksum(out, 0);
    const uint64_t stored = decode_number(field(out, 0, 124, 12));
    check(stored == name.size() + 1);
    check(field(out, 1, 0, name.size()) == name &&
          out[kBlockSize + name.size()] == '\0');
    block = 1 + (stored + kBlockSize - 1) / kBlockSize;
  }
  check(out.size() == (block + 1) * kBlockSize);
  check_cksum(out, block);
  check(field(out, block, 0, 100) == name_field_for(name));
  check(decode_number(field(out, block, 100, 8)) == (st.st_mode & 0177777));
  check(decode_number(field(out, block, 108, 8)) == st.st_uid);
  check(decode_number(field(out, block, 116, 8)) == st.st_gid);
  const uint64_t expected_size =
      type == S_IFDIR ? 0 : static_cast<uint64_t>(st.st_size);
  check(decode_number(field(out, block, 124, 12)) == expected_size);
  check(decode_number(field(out, block, 136, 12)) ==
        static_cast<uint64_t>(st.st_mtime));
  return 0;
}
