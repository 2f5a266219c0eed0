// The archive step. The archive lies beside the output directory in the
// temporary directory, which other users can usually write to, while the
// tool usually runs as root and the archive holds copies of files that may
// be readable by their owner alone. So the archive path is never opened as
// found: whatever non-directory stands there (an old archive, or a link
// someone planted) is unlinked first, and the file is then created afresh
// with O_EXCL | O_NOFOLLOW and mode 0600. A file recreated between the two
// calls makes the step fail with EEXIST instead of writing into it.
//
// The archive is reported as written only when every byte of it, end
// marker and gzip trailer included, reached the file and the file closed
// without error; otherwise the output directory stays for another try.
#include "stages/archive.hpp"

#include <errno.h>  // ENOENT
#include <fcntl.h>  // O_* flags

#include <string_view>

#include "archive/dir_walk.hpp"
#include "archive/gz_encoder.hpp"
#include "archive/tar_builder.hpp"
#include "sys/dir_entries.hpp"  // remove_file
#include "sys/remove_tree.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

namespace {

constexpr std::string_view kArchiveSuffix = ".tar.gz";
constexpr int kCompressionLevel = 6;
constexpr unsigned kArchiveMode = 0600;

constexpr std::string_view kArchivedText = "Logs and config can be found at ";
constexpr std::string_view kArchiveFailedText =
    "Failed to archive output directory, ";
constexpr std::string_view kArchiveFailedSkipText = ", skipping. ";
constexpr std::string_view kCleanupFailedText =
    "Failed to clean up directory, ";

// Removes what stands at |path| (never following a link; nothing there is
// fine; a directory fails with EISDIR), then creates a new file there.
Result<UniqueFd> create_archive_file(const std::string& path) {
  if (Status removed = remove_file(path);
      !removed && removed.error().os_code() != ENOENT)
    return removed.take_error();
  return open_fd(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, kArchiveMode);
}

// Writes the archive of |out_dir| into |file|. Whatever the walk returns,
// the archive is then ended, the stream finished and the file closed, so
// that what was written stays readable. Returns the walk's error, else the
// first error of the closing steps.
Status write_archive(UniqueFd file, const std::string& out_dir,
                     const ComponentInfo& info) {
  GzEncoder encoder(std::move(file), kCompressionLevel);
  TarBuilder builder(encoder);
  Status walked = append_dir_all(builder, info.output_dir_name, out_dir);
  Status ended = builder.end_archive();
  Status finished = encoder.finish_stream();
  Status closed = encoder.close_file();
  if (!walked) return walked;
  if (!ended) return ended;
  if (!finished) return finished;
  return closed;
}

void report_archive_failure(const Console& console, const std::string& out_dir,
                            const Error& error) {
  std::string line(kArchiveFailedText);
  line += out_dir;
  line += kArchiveFailedSkipText;
  line += error.text();
  console.err_line(line);
}

}  // namespace

void archive_output_directory(const std::string& out_dir,
                              const ComponentInfo& info,
                              const Console& console) {
  const std::string archive_path = out_dir + std::string(kArchiveSuffix);

  auto file = create_archive_file(archive_path);
  if (!file) return report_archive_failure(console, out_dir, file.error());

  Status written = write_archive(std::move(*file), out_dir, info);
  if (!written)
    return report_archive_failure(console, out_dir, written.error());

  console.out_line(std::string(kArchivedText) + archive_path);

  if (!remove_dir_all(out_dir))
    console.err_line(std::string(kCleanupFailedText) + out_dir);
}

}  // namespace diagpack
