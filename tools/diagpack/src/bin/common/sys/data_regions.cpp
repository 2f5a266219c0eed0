#include "sys/data_regions.hpp"

#include <errno.h>
#include <unistd.h>  // lseek, SEEK_DATA, SEEK_HOLE

namespace diagpack {

std::optional<uint64_t> first_hole(int fd) {
  const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
  if (hole < 0) return std::nullopt;
  return static_cast<uint64_t>(hole);
}

Result<DataRegionStep> next_data_region(int fd, uint64_t offset) {
  using Kind = DataRegionStep::Kind;
  const off_t data = ::lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0) {
    if (errno == ENXIO) return DataRegionStep{Kind::NoMoreData, 0, 0};
    return Error::os(errno);
  }
  const off_t hole = ::lseek(fd, data, SEEK_HOLE);
  if (hole < 0) {
    if (errno == ENXIO)
      return DataRegionStep{Kind::HoleVanished, static_cast<uint64_t>(data), 0};
    return Error::os(errno);
  }
  return DataRegionStep{Kind::Region, static_cast<uint64_t>(data),
                        static_cast<uint64_t>(hole)};
}

}  // namespace diagpack
