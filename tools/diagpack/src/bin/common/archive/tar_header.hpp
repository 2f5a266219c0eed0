// TarHeader: the 512-byte GNU tar header block, its number encodings and
// the name-field rule. Pure byte manipulation; no I/O.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace diagpack {

inline constexpr size_t kBlockSize = 512;
inline constexpr size_t kNameFieldSize = 100;
// Sparse map pairs held by a header, and by one extension block.
inline constexpr size_t kHeaderSparseSlots = 4;
inline constexpr size_t kExtensionSparseSlots = 21;

// The name of the entry that carries a name too long for the header.
inline constexpr std::string_view kLongNameEntryName = "././@LongLink";

struct SparseSlot {
  char offset[12];
  char numbytes[12];
};

// The GNU layout: ustar fields up to gname, then the old GNU extras
// (atime, ctime, the sparse map and its continuation flag, realsize).
struct TarHeader {
  char name[100];
  char mode[8];
  char uid[8];
  char gid[8];
  char size[12];
  char mtime[12];
  char chksum[8];
  char typeflag;
  char linkname[100];
  char magic[6];
  char version[2];
  char uname[32];
  char gname[32];
  char devmajor[8];
  char devminor[8];
  char atime[12];
  char ctime[12];
  char offset[12];
  char longnames[4];
  char unused;
  SparseSlot sparse[kHeaderSparseSlots];
  char isextended;
  char realsize[12];
  char padding[17];
};
static_assert(sizeof(TarHeader) == kBlockSize);
static_assert(offsetof(TarHeader, mode) == 100);
static_assert(offsetof(TarHeader, size) == 124);
static_assert(offsetof(TarHeader, chksum) == 148);
static_assert(offsetof(TarHeader, typeflag) == 156);
static_assert(offsetof(TarHeader, magic) == 257);
static_assert(offsetof(TarHeader, devmajor) == 329);
static_assert(offsetof(TarHeader, sparse) == 386);
static_assert(offsetof(TarHeader, isextended) == 482);
static_assert(offsetof(TarHeader, realsize) == 483);

// The block after a sparse header whose map has more pairs than it holds.
struct SparseExtension {
  SparseSlot sparse[kExtensionSparseSlots];
  char isextended;  // 1 when another extension block follows
  char padding[7];
};
static_assert(sizeof(SparseExtension) == kBlockSize);
static_assert(offsetof(SparseExtension, isextended) == 504);

// An all-zero header with the GNU magic "ustar " and version " \0".
TarHeader new_gnu_header();

// Writes |value| as octal digits right-aligned in the first size-1 bytes of
// |field|, zero-filled with '0', then a NUL. Digits that do not fit are
// dropped from the left (callers pass values that fit).
void octal_into(std::span<char> field, uint64_t value);

// Octal when |value| < 8^(size-1) (8^7 for 8-byte, 8^11 for 12-byte fields);
// otherwise base-256: leading zero bytes, the value as 8 bytes big-endian in
// the last 8 bytes, and the top bit of the first byte set.
void num_field_wrapper_into(std::span<char> field, uint64_t value);

// Computes the checksum over the whole block (chksum counted as spaces) and
// stores it. Call after every other field is final.
void set_cksum(TarHeader& header);

// The header of a GNU long-name entry ("././@LongLink", type 'L', mode 0644,
// owner 0, time 0) whose data is |size| bytes; checksum set.
TarHeader long_name_header(uint64_t size);

// Whether |name| is too long for the name field and needs a long-name entry.
inline bool needs_long_name(std::string_view name) {
  return name.size() > kNameFieldSize;
}

// Fills the name field: names of up to 100 bytes as they are (NUL after a
// shorter one), longer ones as the longest valid UTF-8 prefix of their first
// 100 bytes.
void set_name_field(TarHeader& header, std::string_view name);

// Mode (with the file-type bits), uid, gid, mtime and the size for the kind
// |typeflag| ('5': 0, otherwise st_size) from |st|; devmajor/devminor from
// st_rdev for FIFOs and devices ('6', '3', '4'), else 0.
void fill_from(TarHeader& header, const struct stat& st, char typeflag);

// The block as bytes.
inline std::string_view block_bytes(const TarHeader& header) {
  return {reinterpret_cast<const char*>(&header), sizeof header};
}
inline std::string_view block_bytes(const SparseExtension& ext) {
  return {reinterpret_cast<const char*>(&ext), sizeof ext};
}

}  // namespace diagpack
