// copy_file: one file copied byte for byte, as the configuration and log
// collectors store them. The copy takes the source's permission bits but
// not its owner, times or extended attributes.
#pragma once

#include <cstdint>
#include <string>

#include "base/piece_observer.hpp"
#include "base/result.hpp"
#include "sys/files.hpp"  // kNotRegularFileText, OpenFile

namespace diagpack {

// The most bytes a copy moves between two reports to its observer: one
// kernel copy call, or this much of the read/write loop.
inline constexpr uint64_t kCopyPieceBytes = uint64_t{16} << 20;

// Copies the regular file at |src| (links followed) to |dst|, which is
// created or truncated and then given exactly the source's twelve low mode
// bits, whatever the umask. Holes in the source stay holes in the copy.
// Returns the length of the copy, or:
//   - the OS error of opening or querying the source (nothing created;
//     ENXIO for a socket);
//   - kNotRegularFileText, kind InvalidInput, for a directory, FIFO or
//     device (nothing created; a FIFO never blocks the open);
//   - kNulByteText when a path holds a zero byte;
//   - the OS error of creating, querying or fchmod-ing |dst| (ELOOP for a
//     symbolic link at |dst|, which is never followed; ENXIO for a FIFO
//     there without a reader, which never blocks the open);
//   - the first read or write error, or kWriteZeroText, during the copy
//     (|dst| then stays as far as it was written);
//   - the error |observer| returned after a piece (|dst| then stays as far
//     as it was written).
// |observer| is told after every piece of at most kCopyPieceBytes.
Result<uint64_t> copy_file(const std::string& src, const std::string& dst,
                           PieceObserver& observer);

// copy_file without an observer.
Result<uint64_t> copy_file(const std::string& src, const std::string& dst);

// copy_file from a source already open: the file that the caller judged on
// its descriptor is the one copied, never a file that a path names again.
// The same errors but those of opening the source.
Result<uint64_t> copy_open_file(const OpenFile& src, const std::string& dst,
                                PieceObserver& observer);

}  // namespace diagpack
