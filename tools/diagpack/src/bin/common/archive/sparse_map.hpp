// The data regions of a regular file, found with lseek's SEEK_DATA and
// SEEK_HOLE, for storing a file with holes as a GNU sparse tar entry.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace diagpack {

// Texts of a hole map that changes while it is read.
inline constexpr std::string_view kSeekDataBeyondEndText =
    "lseek(SEEK_DATA) went beyond the end of the file. Did the file change "
    "while appending?";
inline constexpr std::string_view kSeekDataBackwardsText =
    "lseek(SEEK_DATA) went backwards";
inline constexpr std::string_view kSeekDataNoAdvanceText =
    "lseek(SEEK_DATA) did not advance. Did the file change while appending?";
inline constexpr std::string_view kSeekHoleEnxioText =
    "lseek(SEEK_HOLE) returned ENXIO. Did the file change while appending?";
inline constexpr std::string_view kSeekHoleBackwardsText =
    "lseek(SEEK_HOLE) went backwards";
inline constexpr std::string_view kSeekHoleNoAdvanceText =
    "lseek(SEEK_HOLE) did not advance. Did the file change while appending?";

struct SparseRegion {
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct SparseMap {
  // False: the file has no holes (or the system cannot tell) and is stored
  // whole; |regions| is then empty.
  bool sparse = false;
  // Data regions in increasing offset order, ended by (file size, 0).
  std::vector<SparseRegion> regions;
  // The sum of the region lengths: the data bytes the entry stores.
  uint64_t stored_bytes = 0;
};

// Determines the data regions of the regular file |fd| whose status is |st|.
// The seeks move the file position; the data are read with pread. Returns
// a seek error or one of the texts above.
Result<SparseMap> find_sparse_map(int fd, const struct stat& st);

}  // namespace diagpack
