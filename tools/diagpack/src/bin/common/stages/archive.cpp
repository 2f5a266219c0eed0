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
//
// Whatever the walk meets, the archive is then ended (end marker, last
// compressed data, gzip trailer, close), so what was written stays
// readable, and it stays when the walk failed. When the end itself cannot
// be written (a full disk, a file size limit) the file would be unreadable:
// it is removed, and the output directory stays as for every failure, so
// nothing is lost. It is removed as well when the step is left by an
// exception (a failed allocation, which the run reports as the step's
// failure).
//
// A stop signal during the step (Ctrl-C on a large archive) is noticed
// where the tar stream passes to the encoder: every kPieceBytes the sink
// tells the step's LongPhase, which also moves the status line on, and
// once that answers that a signal is pending the sink refuses every write,
// which ends the walk at once. The step then removes the archive it
// created and leaves the rest (the output directory, the signal) to the
// run. The status line's total is an estimate of the stream's length from
// the sizes in the output directory, taken only when the line can show.
#include "stages/archive.hpp"

#include <fcntl.h>  // O_* flags

#include <optional>
#include <string_view>

#include "archive/dir_walk.hpp"
#include "archive/gz_encoder.hpp"
#include "archive/tar_builder.hpp"
#include "stages/long_phase.hpp"
#include "sys/files.hpp"  // open_fd, remove_file

namespace diagpack {

namespace {

constexpr std::string_view kArchiveSuffix = ".tar.gz";
constexpr int kCompressionLevel = 6;
constexpr unsigned kArchiveMode = 0600;

// How many bytes of tar stream pass between two reports to the observer:
// a poll(2) and a look at the clock each, costing next to nothing beside
// compressing this much.
constexpr size_t kPieceBytes = 256 * 1024;

// Passes the tar stream on to |next| and tells |observer| of every
// kPieceBytes; once the observer answers with an error (a stop signal),
// refuses every write with that error.
class ObservedSink : public ByteSink {
 public:
  ObservedSink(ByteSink& next, PieceObserver& observer)
      : next_(next), observer_(observer) {}

  Status write(std::string_view bytes) override {
    if (stopped_) return stopped_->error();
    if ((unreported_ += bytes.size()) >= kPieceBytes) {
      if (Status go_on = observer_.piece_done(unreported_); !go_on) {
        stopped_ = std::move(go_on);
        return stopped_->error();
      }
      unreported_ = 0;
    }
    return next_.write(bytes);
  }

 private:
  ByteSink& next_;
  PieceObserver& observer_;
  size_t unreported_ = 0;
  std::optional<Status> stopped_;
};

// Removes what stands at |path| (never following a link; nothing there is
// fine; a directory fails with EISDIR), then creates a new file there.
Result<UniqueFd> create_archive_file(const std::string& path) {
  if (Status removed = remove_file(path); !removed) return removed.take_error();
  return open_fd(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, kArchiveMode);
}

// The archive file at |path|, removed when this goes unless keep() was
// called: only an archive whose end was written is left behind.
class ArchiveFile {
 public:
  explicit ArchiveFile(const std::string& path) : path_(path) {}
  ~ArchiveFile() {
    if (!kept_) (void)remove_file(path_);  // nothing more to do if this fails
  }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;
  void keep() { kept_ = true; }

 private:
  const std::string& path_;
  bool kept_ = false;
};

struct Written {
  Status walked;  // the walk's error
  Status ended;   // the first error of ending the archive and the file
};

// Writes the archive of |out_dir| into |file|. Whatever the walk returns,
// the archive is then ended, the stream finished and the file closed.
Written write_archive(UniqueFd file, const std::string& out_dir,
                      const ComponentInfo& info, PieceObserver& observer) {
  GzEncoder encoder(std::move(file), kCompressionLevel);
  ObservedSink sink(encoder, observer);
  TarBuilder builder(sink);
  Written written;
  written.walked = append_dir_all(builder, info.output_dir_name, out_dir);
  Status ended = builder.end_archive();
  Status finished = encoder.finish_stream();
  Status closed = encoder.close_file();
  written.ended = !ended ? ended : !finished ? finished : closed;
  return written;
}

}  // namespace

std::string archive_path(const std::string& out_dir) {
  return out_dir + std::string(kArchiveSuffix);
}

Status archive_output_directory(const RunContext& run) {
  const std::string path = archive_path(run.out_dir);
  auto file = create_archive_file(path);
  if (!file) return file.take_error();
  ArchiveFile archive(path);
  uint64_t total = 0;
  if (run.status.active()) {
    auto estimate = estimate_dir_all(run.out_dir);
    if (estimate) total = *estimate;
  }
  Written written;
  {
    LongPhase phase(run, StatusPhase::archiving(total));
    written = write_archive(std::move(*file), run.out_dir, run.info, phase);
  }
  // A signal that came while the archive was written (even one that let
  // it complete) stops the step before it claims an archive.
  if (run.interrupts.pending()) return Error::interrupted();
  if (!written.walked) {
    if (written.ended) archive.keep();
    return written.walked;
  }
  if (!written.ended) return written.ended;
  archive.keep();
  return {};
}

}  // namespace diagpack
