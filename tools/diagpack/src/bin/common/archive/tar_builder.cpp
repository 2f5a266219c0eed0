// The tar writer.
//
// An archive is a sequence of 512-byte blocks and the TarBuilder writes them
// strictly in order, straight into its sink: nothing is held back, nothing is
// revisited. Each entry is a header block (tar_header.hpp builds it) that may
// be preceded by a GNU long-name entry ("././@LongLink", typeflag 'L') when
// the name exceeds the 100-byte name field, and followed by the entry's data
// padded with zeros to the next block. The archive ends with two zero blocks.
//
// Regular files are copied through one 8 KiB buffer, so memory does not grow
// with a file's size. Every regular file is first asked for its holes
// (sparse_map.hpp); a file with holes becomes an old-GNU sparse entry
// (typeflag 'S'): the header's size is the number of data bytes stored, its
// realsize the file's length, its four map slots the first data regions, and
// further regions go into extension blocks of 21 each. Only that map grows,
// with the number of data regions. Data are read with pread at each region's
// offset, so reading does not depend on the file position.
//
// The size in a header is the one the status gave, and an entry carries
// exactly that many data bytes whatever the file does meanwhile: a file that
// grew contributes only its first bytes; one that shrank is filled up with
// zeros and the entry fails, so a reader never loses step with the blocks
// and the run never calls such an archive complete. Any error from the sink or
// the file ends the operation at once and is returned; blocks already written
// stay written.
#include "archive/tar_builder.hpp"

#include <sys/stat.h>  // S_IS*

#include <algorithm>
#include <array>
#include <string>

#include "archive/sparse_map.hpp"  // find_sparse_map
#include "archive/tar_header.hpp"
#include "base/utf8.hpp"  // utf8_lossy
#include "sys/files.hpp"  // read_at

namespace diagpack {

namespace {

// Error texts of append_special, after the entry name.
constexpr std::string_view kSocketNotArchivedText =
    ": socket can not be archived";
constexpr std::string_view kUnknownFileTypeText = " has unknown file type";
// A file that ends before the size its header records.
constexpr std::string_view kFileShrankText =
    "file ended before the size recorded in its header. Did the file change "
    "while appending?";

constexpr size_t kCopyBufferSize = 8192;
constexpr std::array<char, kEndOfArchiveBytes> kZeros{};
static_assert(kEndOfArchiveBytes == 2 * kBlockSize);

Status write_padding(ByteSink& sink, uint64_t data_length) {
  const size_t rest = static_cast<size_t>(data_length % kBlockSize);
  if (rest == 0) return {};
  return sink.write(std::string_view(kZeros.data(), kBlockSize - rest));
}

// The long-name entry for |name| when the header cannot hold it.
Status write_long_name(ByteSink& sink, std::string_view name) {
  if (!needs_long_name(name)) return {};
  const TarHeader header = long_name_header(name.size() + 1);
  if (auto st = sink.write(block_bytes(header)); !st) return st;
  if (auto st = sink.write(name); !st) return st;
  if (auto st = sink.write(std::string_view(kZeros.data(), 1)); !st) return st;
  return write_padding(sink, name.size() + 1);
}

TarHeader header_for(std::string_view name, const struct stat& st,
                     char typeflag) {
  TarHeader header = new_gnu_header();
  set_name_field(header, name);
  fill_from(header, st, typeflag);
  return header;
}

// Copies at most |length| bytes of |fd| from |offset|. Returns the bytes
// copied, fewer than |length| only when the file ended first.
Result<uint64_t> copy_region(ByteSink& sink, int fd, uint64_t offset,
                             uint64_t length) {
  std::array<char, kCopyBufferSize> buf;
  uint64_t copied = 0;
  while (copied < length) {
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(length - copied, buf.size()));
    auto n = read_at(fd, buf.data(), want, offset + copied);
    if (!n) return n.take_error();
    if (*n > 0) {
      if (auto st = sink.write(std::string_view(buf.data(), *n)); !st)
        return st.take_error();
    }
    copied += *n;
    if (*n < want) break;  // end of file
  }
  return copied;
}

Status write_zeros(ByteSink& sink, uint64_t count) {
  while (count > 0) {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(count, kZeros.size()));
    if (auto st = sink.write(std::string_view(kZeros.data(), n)); !st)
      return st;
    count -= n;
  }
  return {};
}

// The data of an entry whose header promised |stored| bytes: the regions
// of |fd| in order, then the padding. A file that grew since its status
// was taken contributes only what the header announced. A file that ended
// early is filled up with zeros, so the archive stays readable past the
// entry, and the entry fails with kFileShrankText.
Status write_entry_data(ByteSink& sink, int fd,
                        const std::vector<SparseRegion>& regions,
                        uint64_t stored) {
  uint64_t written = 0;
  bool shrank = false;
  for (const SparseRegion& region : regions) {
    auto copied = copy_region(sink, fd, region.offset, region.length);
    if (!copied) return copied.take_error();
    written += *copied;
    if (*copied < region.length) {
      shrank = true;
      break;
    }
  }
  if (auto s = write_zeros(sink, stored - written); !s) return s;
  if (auto s = write_padding(sink, stored); !s) return s;
  if (shrank)
    return Error::fixed(ErrorKind::UnexpectedEof, std::string(kFileShrankText));
  return {};
}

void set_slot(SparseSlot& slot, const SparseRegion& region) {
  num_field_wrapper_into(slot.offset, region.offset);
  num_field_wrapper_into(slot.numbytes, region.length);
}

Status write_sparse(ByteSink& sink, std::string_view name,
                    const struct stat& st, int fd, const SparseMap& map) {
  const auto& regions = map.regions;
  TarHeader header = header_for(name, st, 'S');
  num_field_wrapper_into(header.size, map.stored_bytes);
  num_field_wrapper_into(header.realsize,
                         regions.back().offset + regions.back().length);
  const size_t in_header = std::min(regions.size(), kHeaderSparseSlots);
  for (size_t i = 0; i < in_header; ++i) set_slot(header.sparse[i], regions[i]);
  header.isextended = regions.size() > kHeaderSparseSlots ? 1 : 0;
  set_cksum(header);
  if (auto s = sink.write(block_bytes(header)); !s) return s;

  for (size_t first = kHeaderSparseSlots; first < regions.size();
       first += kExtensionSparseSlots) {
    SparseExtension ext{};
    const size_t count =
        std::min(regions.size() - first, kExtensionSparseSlots);
    for (size_t i = 0; i < count; ++i)
      set_slot(ext.sparse[i], regions[first + i]);
    ext.isextended = first + count < regions.size() ? 1 : 0;
    if (auto s = sink.write(block_bytes(ext)); !s) return s;
  }

  return write_entry_data(sink, fd, regions, map.stored_bytes);
}

}  // namespace

uint64_t estimated_entry_bytes(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return kBlockSize;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t allocated = static_cast<uint64_t>(st.st_blocks) * 512;
  const uint64_t data = std::min(size, allocated);
  return kBlockSize + (data + kBlockSize - 1) / kBlockSize * kBlockSize;
}

TarBuilder::TarBuilder(ByteSink& sink) : sink_(sink) {}

TarBuilder::~TarBuilder() { (void)end_archive(); }

Status TarBuilder::append_directory_entry(std::string_view name,
                                          const struct stat& st) {
  if (auto s = write_long_name(sink_, name); !s) return s;
  TarHeader header = header_for(name, st, '5');
  set_cksum(header);
  return sink_.write(block_bytes(header));
}

Status TarBuilder::append_file(std::string_view name, int fd,
                               const struct stat& st) {
  if (auto s = write_long_name(sink_, name); !s) return s;
  auto map = find_sparse_map(fd, st);
  if (!map) return map.take_error();
  if (map->sparse) return write_sparse(sink_, name, st, fd, *map);

  TarHeader header = header_for(name, st, '0');
  set_cksum(header);
  if (auto s = sink_.write(block_bytes(header)); !s) return s;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  return write_entry_data(sink_, fd, {SparseRegion{0, size}}, size);
}

Status TarBuilder::append_special(std::string_view name,
                                  const struct stat& st) {
  char typeflag;
  if (S_ISFIFO(st.st_mode)) {
    typeflag = '6';
  } else if (S_ISCHR(st.st_mode)) {
    typeflag = '3';
  } else if (S_ISBLK(st.st_mode)) {
    typeflag = '4';
  } else if (S_ISSOCK(st.st_mode)) {
    return Error::fixed(ErrorKind::Other,
                        utf8_lossy(name) + std::string(kSocketNotArchivedText));
  } else {
    return Error::fixed(ErrorKind::Other,
                        utf8_lossy(name) + std::string(kUnknownFileTypeText));
  }
  if (auto s = write_long_name(sink_, name); !s) return s;
  TarHeader header = header_for(name, st, typeflag);
  set_cksum(header);
  return sink_.write(block_bytes(header));
}

Status TarBuilder::end_archive() {
  if (ended_) return {};
  ended_ = true;
  return sink_.write(std::string_view(kZeros.data(), kZeros.size()));
}

}  // namespace diagpack
