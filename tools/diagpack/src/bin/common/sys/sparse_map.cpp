#include "sys/sparse_map.hpp"

#include <errno.h>
#include <unistd.h>  // lseek, SEEK_DATA, SEEK_HOLE

#include <string>

namespace diagpack {

namespace {

Error inconsistent(std::string_view text) {
  return Error::fixed(ErrorKind::Other, std::string(text));
}

// lseek(2); the new offset, or the errno of the failure.
struct Seek {
  off_t offset = -1;
  int error = 0;
  bool ok() const { return offset >= 0; }
};
Seek seek(int fd, uint64_t pos, int whence) {
  off_t r = ::lseek(fd, static_cast<off_t>(pos), whence);
  return r < 0 ? Seek{-1, errno} : Seek{r, 0};
}

// The walk over the file's regions once a first SEEK_HOLE worked. Returns
// a map that may say "not sparse" (a file that is one data region).
Result<SparseMap> walk_regions(int fd, uint64_t size) {
  SparseMap map;
  uint64_t pos = 0;
  for (;;) {
    Seek data = seek(fd, pos, SEEK_DATA);
    if (!data.ok()) {
      if (data.error != ENXIO) return Error::os(data.error);
      if (pos > size) return inconsistent(kSeekDataBeyondEndText);
      map.regions.push_back({size, 0});
      map.sparse = true;
      return map;
    }
    const auto d = static_cast<uint64_t>(data.offset);
    if (!(pos == 0 && d == 0)) {
      if (d < pos) return inconsistent(kSeekDataBackwardsText);
      if (d == pos) return inconsistent(kSeekDataNoAdvanceText);
      pos = d;
    }
    Seek hole = seek(fd, pos, SEEK_HOLE);
    if (!hole.ok()) {
      if (hole.error == ENXIO) return inconsistent(kSeekHoleEnxioText);
      return Error::os(hole.error);
    }
    const auto h = static_cast<uint64_t>(hole.offset);
    if (pos == 0 && h == size) return SparseMap{};
    if (h < pos) return inconsistent(kSeekHoleBackwardsText);
    if (h == pos) return inconsistent(kSeekHoleNoAdvanceText);
    map.regions.push_back({pos, h - pos});
    map.stored_bytes += h - pos;
    pos = h;
  }
}

}  // namespace

Result<SparseMap> find_sparse_map(int fd, const struct stat& st) {
  const auto size = static_cast<uint64_t>(st.st_size);
  if (st.st_blocks == 0) {
    if (size == 0) return SparseMap{};
    // Nothing allocated: all hole.
    SparseMap all_hole;
    all_hole.sparse = true;
    all_hole.regions.push_back({size, 0});
    return all_hole;
  }
  // A file system that cannot answer has no holes to offer.
  if (!seek(fd, 0, SEEK_HOLE).ok()) return SparseMap{};

  auto map = walk_regions(fd, size);
  if (!map) return map;
  // The seeks moved the position; the data of a whole file are read from it.
  if (Seek back = seek(fd, 0, SEEK_SET); !back.ok())
    return Error::os(back.error);
  return map;
}

}  // namespace diagpack
