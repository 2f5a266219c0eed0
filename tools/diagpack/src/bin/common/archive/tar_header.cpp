#include "archive/tar_header.hpp"

#include <cstring>  // memcpy, memset

#include "base/utf8.hpp"  // utf8_valid_prefix

namespace diagpack {

namespace {

// The split of a device number into major and minor used by the Linux C
// library, each kept as a 32-bit number.
uint32_t device_major(uint64_t dev) {
  return static_cast<uint32_t>(((dev >> 32) & 0xFFFFF000u) |
                               ((dev >> 8) & 0xFFFu));
}
uint32_t device_minor(uint64_t dev) {
  return static_cast<uint32_t>(((dev >> 12) & 0xFFFFFF00u) | (dev & 0xFFu));
}

void copy_into(std::span<char> field, std::string_view bytes) {
  std::memcpy(field.data(), bytes.data(), bytes.size());
}

}  // namespace

TarHeader new_gnu_header() {
  TarHeader header;
  std::memset(&header, 0, sizeof header);
  copy_into(header.magic, "ustar ");
  copy_into(header.version, " ");  // the second byte stays NUL
  return header;
}

void octal_into(std::span<char> field, uint64_t value) {
  if (field.empty()) return;
  field.back() = '\0';
  for (size_t i = field.size() - 1; i-- > 0;) {
    field[i] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  }
}

void num_field_wrapper_into(std::span<char> field, uint64_t value) {
  const size_t digits = field.size() - 1;
  // 8^digits, computed only where it fits in 64 bits (a field of 22 digits
  // or more holds any value in octal).
  const bool fits = digits * 3 >= 64 || value < (uint64_t{1} << (digits * 3));
  if (fits) {
    octal_into(field, value);
    return;
  }
  std::memset(field.data(), 0, field.size());
  for (size_t i = 0; i < 8; ++i)
    field[field.size() - 1 - i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  field[0] = static_cast<char>(static_cast<unsigned char>(field[0]) | 0x80);
}

void set_cksum(TarHeader& header) {
  std::memset(header.chksum, ' ', sizeof header.chksum);
  uint32_t sum = 0;
  for (char c : block_bytes(header)) sum += static_cast<unsigned char>(c);
  octal_into(header.chksum, sum);
}

TarHeader long_name_header(uint64_t size) {
  TarHeader header = new_gnu_header();
  copy_into(header.name, kLongNameEntryName);
  octal_into(header.mode, 0644);
  num_field_wrapper_into(header.uid, 0);
  num_field_wrapper_into(header.gid, 0);
  num_field_wrapper_into(header.size, size);
  num_field_wrapper_into(header.mtime, 0);
  header.typeflag = 'L';
  set_cksum(header);
  return header;
}

void set_name_field(TarHeader& header, std::string_view name) {
  std::string_view stored =
      needs_long_name(name) ? utf8_valid_prefix(name.substr(0, kNameFieldSize))
                            : name;
  std::memset(header.name, 0, sizeof header.name);
  copy_into(header.name, stored);
}

void fill_from(TarHeader& header, const struct stat& st, char typeflag) {
  octal_into(header.mode, st.st_mode);
  num_field_wrapper_into(header.uid, st.st_uid);
  num_field_wrapper_into(header.gid, st.st_gid);
  const uint64_t size = typeflag == '5' ? 0 : static_cast<uint64_t>(st.st_size);
  num_field_wrapper_into(header.size, size);
  num_field_wrapper_into(header.mtime, static_cast<uint64_t>(st.st_mtime));
  header.typeflag = typeflag;
  const bool has_device = typeflag == '6' || typeflag == '3' || typeflag == '4';
  const uint64_t dev = has_device ? static_cast<uint64_t>(st.st_rdev) : 0;
  octal_into(header.devmajor, device_major(dev));
  octal_into(header.devminor, device_minor(dev));
}

}  // namespace diagpack
