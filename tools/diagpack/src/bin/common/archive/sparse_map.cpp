#include "archive/sparse_map.hpp"

#include <string>

#include "sys/files.hpp"  // next_data_region, first_hole

namespace diagpack {

namespace {

Error inconsistent(std::string_view text) {
  return Error::fixed(ErrorKind::Other, std::string(text));
}

// The walk over the file's regions once a first SEEK_HOLE worked. Every
// step must move forward; anything else means the file changed under the
// walk. Returns a map that may say "not sparse" (a file that is one data
// region).
Result<SparseMap> walk_regions(int fd, uint64_t size) {
  using Kind = DataRegionStep::Kind;
  SparseMap map;
  uint64_t pos = 0;
  for (;;) {
    auto step = next_data_region(fd, pos);
    if (!step) return step.take_error();
    if (step->kind == Kind::NoMoreData) {
      if (pos > size) return inconsistent(kSeekDataBeyondEndText);
      map.regions.push_back({size, 0});
      map.sparse = true;
      return map;
    }
    const uint64_t d = step->data;
    if (!(pos == 0 && d == 0)) {
      if (d < pos) return inconsistent(kSeekDataBackwardsText);
      if (d == pos) return inconsistent(kSeekDataNoAdvanceText);
      pos = d;
    }
    if (step->kind == Kind::HoleVanished)
      return inconsistent(kSeekHoleEnxioText);
    const uint64_t h = step->hole;
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
  if (!first_hole(fd)) return SparseMap{};
  return walk_regions(fd, size);
}

}  // namespace diagpack
