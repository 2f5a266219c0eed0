// Loops that move every byte: reads and writes retried on EINTR, short
// writes and positioned reads continued until the whole buffer is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace diagpack {

// The error of a write that accepted no bytes at all.
inline constexpr std::string_view kWriteZeroText =
    "failed to write whole buffer";

// Writes all of |bytes| to |fd|. Returns the first write error, or
// kWriteZeroText when a write accepts nothing.
Status write_all(int fd, std::string_view bytes);

// One read(2) of at most |size| bytes, retried on EINTR. Returns the number
// of bytes read (0 at end of file) or the read error.
Result<size_t> read_some(int fd, char* buf, size_t size);

// Reads |size| bytes at |offset| with pread(2), which leaves the file
// position alone; short reads are continued. Returns the bytes read, fewer
// than |size| only at end of file, or the first read error.
Result<size_t> read_at(int fd, char* buf, size_t size, uint64_t offset);

// Reads from the current position to end of file. |size_hint| pre-sizes the
// buffer. Returns the bytes or the first read error.
Result<std::string> read_to_end(int fd, size_t size_hint = 0);

// read_to_end for a text: returns kStreamNotUtf8Text, kind InvalidData,
// when the bytes are not valid UTF-8, else as read_to_end.
Result<std::string> read_text_to_end(int fd, size_t size_hint = 0);

// Creates or truncates |path| with mode 0666 (before the umask) and writes
// |bytes| to it. A symbolic link at |path| is never written through: the
// open fails with ELOOP. Returns the error of the open or of a write.
Status write_file(const std::string& path, std::string_view bytes);

}  // namespace diagpack
