// The walk over a file's data regions with lseek's SEEK_DATA and SEEK_HOLE,
// shared by the hole-keeping copy and the tar writer's sparse map. Each step
// reports what the system said; the callers judge it, since the copy takes
// a file that changes as far as it can while the tar writer refuses a map
// that contradicts itself. Both seeks move the file position: read the data
// at explicit offsets (pread) or seek back before reading.
#pragma once

#include <cstdint>
#include <optional>

#include "base/result.hpp"

namespace diagpack {

// Where the first hole of the file open on |fd| begins (its length when it
// has none), or nothing when the file system cannot answer SEEK_HOLE.
std::optional<uint64_t> first_hole(int fd);

struct DataRegionStep {
  enum class Kind {
    Region,       // data from |data| up to the hole at |hole|
    NoMoreData,   // SEEK_DATA found no data at or after the offset (ENXIO)
    HoleVanished  // SEEK_DATA found data at |data|, SEEK_HOLE then ENXIO
  };
  Kind kind = Kind::NoMoreData;
  uint64_t data = 0;
  uint64_t hole = 0;
};

// One step of the walk: SEEK_DATA from |offset|, then SEEK_HOLE from the
// data it found. Returns the step, or the OS error of a seek other than
// ENXIO.
Result<DataRegionStep> next_data_region(int fd, uint64_t offset);

}  // namespace diagpack
