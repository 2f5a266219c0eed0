// TarBuilder: the GNU tar writer. Turns entries into 512-byte blocks and
// writes them into a ByteSink (the GzEncoder in a run).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string_view>

#include "archive/byte_sink.hpp"
#include "base/result.hpp"

namespace diagpack {

// The bytes that end an archive: two zero blocks.
inline constexpr uint64_t kEndOfArchiveBytes = 1024;

// About the bytes the entry for a file of status |st| takes in the stream:
// its header block and, for a regular file, its data padded to whole
// blocks, counting only the allocated bytes of a file with holes. Long
// names and sparse maps are left out. For showing progress.
uint64_t estimated_entry_bytes(const struct stat& st);

class TarBuilder {
 public:
  // Writes into |sink|, which must outlive the TarBuilder. Writes nothing yet.
  explicit TarBuilder(ByteSink& sink);
  // Ends the archive if that was not done, ignoring its error.
  ~TarBuilder();
  TarBuilder(const TarBuilder&) = delete;
  TarBuilder& operator=(const TarBuilder&) = delete;

  // A directory entry (typeflag '5') with the status |st|, preceded by a
  // long-name entry when |name| does not fit the header.
  Status append_directory_entry(std::string_view name, const struct stat& st);

  // A regular file read from |fd| (open for reading; its position does not
  // matter and may move) whose status |st| was taken from |fd|, so that the
  // header and the data describe the same file: kind '0', or 'S' when the
  // file has holes. Returns a seek, read or sink error, or one of the
  // hole-map inconsistency texts.
  Status append_file(std::string_view name, int fd, const struct stat& st);

  // A FIFO or device entry from |st|. A socket gives
  // "<name>: socket can not be archived", any other type
  // "<name> has unknown file type"; nothing is written then.
  Status append_special(std::string_view name, const struct stat& st);

  // Writes the end marker (two zero blocks) the first time it is called.
  Status end_archive();

 private:
  ByteSink& sink_;
  bool ended_ = false;
};

}  // namespace diagpack
