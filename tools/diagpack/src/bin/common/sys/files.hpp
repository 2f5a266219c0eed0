// Files, with errors as values: opening, status, moving whole buffers in and
// out, the data regions of a file with holes, and removal. Every call here
// is retried on EINTR. Paths are passed to the system as C strings, so a
// path holding a zero byte is read up to it; callers that take paths from
// outside reject such paths first (reject_nul_byte).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

class InterruptWatch;

// --- Opening ---------------------------------------------------------------

// open(2) with O_CLOEXEC added. Returns the descriptor or the open error.
Result<UniqueFd> open_fd(const std::string& path, int flags, unsigned mode = 0);

// openat(2) likewise.
Result<UniqueFd> open_fd_at(int dir_fd, const std::string& name, int flags,
                            unsigned mode = 0);

// The error of a file that must be a regular file and is a directory, a
// FIFO or a device.
inline constexpr std::string_view kNotRegularFileText =
    "the source path is neither a regular file nor a symlink to a regular file";

// Creates |path| with |mode| (before the umask), or truncates what stands
// there, for writing. A symbolic link at |path| is never followed: the open
// fails with ELOOP. Nor can anything there hold up the run: a FIFO without
// a reader fails with ENXIO (the open is non-blocking; O_NONBLOCK is
// cleared once the file is open). Returns the open or fcntl error.
Result<UniqueFd> create_for_writing(const std::string& path, unsigned mode);

// A file opened for reading and the status of what was opened.
struct OpenFile {
  UniqueFd fd;
  struct stat status;
};

// Opens |path| (links followed) for reading without waiting and without
// taking a terminal as the controlling one (O_NONBLOCK | O_NOCTTY), then
// takes the status from the descriptor: a FIFO without a writer cannot
// hold up the open, and the caller judges the file it is about to read,
// not what the path named a moment before. O_NONBLOCK is cleared once the
// file is open, so reads then behave as usual. Returns the open, fstat or
// fcntl error (ENXIO for a socket).
Result<OpenFile> open_for_reading(const std::string& path);

// What open_entry_for_reading opened, and the status of the symbolic link
// that led there when the path's last component was one.
struct OpenedEntry {
  OpenFile file;
  std::optional<struct stat> link;
};

// Opens |path| as open_for_reading does and tells whether its last
// component is a symbolic link, for callers that judge a link by its owner
// against the file actually opened. There is no window in which a swap at
// the path can win: the link's status is taken without following it before
// the open and again after it, and both must describe the same link (same
// device, inode and change time, so a link renamed away and back is caught
// too); a path that was no link is opened with O_NOFOLLOW, so a link put in
// its place meanwhile fails the open. Returns the lstat, open, fstat or
// fcntl error, or EACCES when the path changed between the looks.
Result<OpenedEntry> open_entry_for_reading(const std::string& path);

// --- Status ----------------------------------------------------------------

// The status of what |path| names, links followed. Returns the OS error
// (ENOENT for a dangling link, ELOOP for a link loop).
Result<struct stat> status_following_links(const std::string& path);

// The status of |path| itself: a link describes the link.
Result<struct stat> status_of_link(const std::string& path);

// The status of the file open on |fd| (EBADF when it is not open).
Result<struct stat> status_of_fd(int fd);

// --- Reading and writing ---------------------------------------------------

// The error of a write that accepted no bytes at all.
inline constexpr std::string_view kWriteZeroText =
    "failed to write whole buffer";

// Writes all of |bytes| to |fd|, continuing short writes. Returns the first
// write error, or kWriteZeroText when a write accepts nothing.
Status write_all(int fd, std::string_view bytes);

// write_all for |pieces| one after another, gathered by writev(2), so that
// a text made of parts is written without first being joined into one
// buffer. Same errors.
Status write_all(int fd, std::span<const std::string_view> pieces);

// One read(2) of at most |size| bytes. Returns the number of bytes read (0
// at end of file) or the read error.
Result<size_t> read_some(int fd, char* buf, size_t size);

// Reads |size| bytes at |offset| with pread(2), which leaves the file
// position alone; short reads are continued. Returns the bytes read, fewer
// than |size| only at end of file, or the first read error.
Result<size_t> read_at(int fd, char* buf, size_t size, uint64_t offset);

// Reads from the current position to end of file into one buffer reserved
// for |size_hint| bytes, so a file of the size its status gives is read
// without the buffer ever growing. Every kInterruptPollBytes it looks at
// |interrupts| (when given) and stops with Error::interrupted() once a stop
// signal is pending. Returns the bytes or the first read error; throws
// std::bad_alloc when the buffer cannot be had.
Result<std::string> read_to_end(int fd, size_t size_hint = 0,
                                const InterruptWatch* interrupts = nullptr);

// read_to_end for a text: kStreamNotUtf8Text, kind InvalidData, when the
// bytes are not valid UTF-8, else as read_to_end.
Result<std::string> read_text_to_end(
    int fd, size_t size_hint = 0, const InterruptWatch* interrupts = nullptr);

// Creates or truncates |path| and writes |pieces| to it, one after another.
// A created file has mode 0644 before the umask: a report that a root run
// writes is never group- or world-writable, even under umask 000, as the
// output directory is not. Opened with create_for_writing (ELOOP for a
// symbolic link, ENXIO for a FIFO without a reader). Returns the error of
// the open, a write or the close.
Status write_file(const std::string& path,
                  std::span<const std::string_view> pieces);
Status write_file(const std::string& path, std::string_view bytes);

// --- Holes -----------------------------------------------------------------
// The walk over a file's data regions with SEEK_DATA and SEEK_HOLE, shared
// by the hole-keeping copy and the tar writer's sparse map. Each step
// reports what the system said; the callers judge it, since the copy takes
// a file that changes as far as it can while the tar writer refuses a map
// that contradicts itself. Both seeks move the file position: read the
// data at explicit offsets (pread) or seek back before reading.

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

// --- Removal ---------------------------------------------------------------

// Removes the file at |path| that is not a directory (a symbolic link
// itself, never its target). Nothing at |path| is success. Returns the
// unlink error otherwise (EISDIR for a directory).
Status remove_file(const std::string& path);

}  // namespace diagpack
