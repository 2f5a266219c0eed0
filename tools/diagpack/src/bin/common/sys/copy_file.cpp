// How a file is copied.
//
// The source is opened non-blocking, so that a FIFO at the source path
// cannot hold up the run waiting for a writer, and its type is tested on the
// open descriptor: only a regular file is copied, and nothing is created for
// anything else. The destination is created with the source's mode and then
// fchmod-ed to exactly those bits, since the umask narrows the mode given to
// open(2). A symbolic link at the destination is never followed: a link
// planted there fails the copy with ELOOP instead of receiving it. A caller
// that has to judge the source before it is copied (the log collection
// weighs a link against the file it reaches) opens it itself and hands the
// descriptor to copy_open_file, so the file judged is the file copied.
//
// The bytes move in regions. A source without holes is one region, from
// offset 0 to the end of file as the copy finds it, so a log that grows
// while it is copied is taken as far as it has been written. A sparse source
// (SEEK_HOLE finds a hole before its end) is walked with SEEK_DATA and
// SEEK_HOLE; each data region is copied to the same offset of the
// destination, the holes are never written, and ftruncate() gives the copy
// the source's length at the end, so a 40 GiB file with a few megabytes of
// data costs a few megabytes of I/O and of disk.
//
// Each region is copied by the kernel where it can: copy_file_range(2),
// else sendfile(2), else a read/write loop through an 8 KiB buffer. Once a
// facility reports that it does not support these files, the copy stays
// with the next one for the rest of the file. A kernel copy that moves no
// bytes is not trusted to mean end of file (some pseudo-file systems copy
// nothing without saying why), so the rest of that region is left to
// read(2). A source that reports a size of zero, as /proc files do, is
// copied by the read/write loop until read(2) returns end of file.
//
// Whatever the method, the bytes move in pieces of at most kCopyPieceBytes
// (16 MiB: one kernel call, or that much of the read/write loop), and the
// caller's observer hears of each piece before the next begins. A single
// kernel call cannot be cut short: a stop signal stays blocked for the run
// and interrupts nothing, so a call asked for a gigabyte would finish its
// gigabyte, seconds after Ctrl-C on a slow disk. A piece of 16 MiB takes a
// fraction of a second even there, while each call still moves enough for
// its cost to vanish. The observer stops the copy by returning an error; the
// destination then stays as far as it was written, for the caller to remove.

#include "sys/copy_file.hpp"

#include <errno.h>
#include <fcntl.h>         // open flags
#include <sys/sendfile.h>  // sendfile
#include <sys/stat.h>      // fchmod
#include <unistd.h>        // copy_file_range, lseek, ftruncate

#include <algorithm>
#include <optional>

#include "base/path_ops.hpp"  // reject_nul_byte
#include "sys/files.hpp"

namespace diagpack {

namespace {

constexpr size_t kBufferSize = 8192;

// Errors by which copy_file_range says it cannot copy between these files.
bool file_range_unsupported(int err) {
  return err == ENOSYS || err == EXDEV || err == EINVAL || err == EOPNOTSUPP ||
         err == EPERM || err == ETXTBSY;
}

// Errors by which sendfile says it cannot copy between these files.
bool send_file_unsupported(int err) {
  return err == ENOSYS || err == EINVAL || err == EOPNOTSUPP;
}

Status seek_to(int fd, uint64_t pos) {
  if (::lseek(fd, static_cast<off_t>(pos), SEEK_SET) < 0)
    return Error::os(errno);
  return {};
}

// Copies from the current positions of |in| and |out| until |limit| bytes
// have moved or read(2) reports end of file, telling |observer| of every
// kCopyPieceBytes and of the rest. Returns the bytes copied, or the error
// of a read, a write or the observer.
Result<uint64_t> read_write_copy(int in, int out, std::optional<uint64_t> limit,
                                 PieceObserver& observer) {
  char buf[kBufferSize];
  uint64_t done = 0;
  uint64_t unreported = 0;
  while (!limit || done < *limit) {
    if (unreported >= kCopyPieceBytes) {
      if (auto st = observer.piece_done(unreported); !st)
        return st.take_error();
      unreported = 0;
    }
    size_t want =
        limit
            ? static_cast<size_t>(std::min<uint64_t>(*limit - done, sizeof buf))
            : sizeof buf;
    auto got = read_some(in, buf, want);
    if (!got) return got.take_error();
    if (*got == 0) break;
    if (auto st = write_all(out, std::string_view(buf, *got)); !st)
      return st.take_error();
    done += *got;
    unreported += *got;
  }
  if (unreported > 0) {
    if (auto st = observer.piece_done(unreported); !st) return st.take_error();
  }
  return done;
}

// Copies byte ranges between two descriptors at equal offsets, falling from
// copy_file_range to sendfile to read/write as the kernel refuses, and
// telling |observer| of every piece.
class RegionCopier {
 public:
  RegionCopier(int in, int out, PieceObserver& observer)
      : in_(in), out_(out), observer_(observer) {}

  // Copies [offset, offset + length) or, without a length, from |offset| to
  // end of file. Returns the bytes copied, fewer than |length| only when the
  // file ended early.
  Result<uint64_t> copy(uint64_t offset, std::optional<uint64_t> length) {
    uint64_t done = 0;
    while (!length || done < *length) {
      const uint64_t pos = offset + done;
      const std::optional<uint64_t> rest =
          length ? std::optional<uint64_t>(*length - done) : std::nullopt;
      if (method_ == Method::kReadWrite)
        return finish_by_reading(pos, rest, done);
      const size_t want = static_cast<size_t>(
          std::min<uint64_t>(rest.value_or(kCopyPieceBytes), kCopyPieceBytes));
      auto moved = method_ == Method::kFileRange ? file_range(pos, want)
                                                 : send_file(pos, want);
      if (!moved) return moved.take_error();
      if (*moved == 0) {
        if (fell_back_) {
          fell_back_ = false;
          continue;
        }
        return finish_by_reading(pos, rest, done);
      }
      done += *moved;
      if (auto st = observer_.piece_done(*moved); !st) return st.take_error();
    }
    return done;
  }

 private:
  enum class Method { kFileRange, kSendFile, kReadWrite };

  // One copy_file_range call; 0 also when the method was just given up
  // (fell_back_ set).
  Result<uint64_t> file_range(uint64_t pos, size_t want) {
    for (;;) {
      loff_t in_off = static_cast<loff_t>(pos);
      loff_t out_off = in_off;
      ssize_t n = ::copy_file_range(in_, &in_off, out_, &out_off, want, 0);
      if (n >= 0) return static_cast<uint64_t>(n);
      if (errno == EINTR) continue;
      if (!file_range_unsupported(errno)) return Error::os(errno);
      return fall_back(Method::kSendFile);
    }
  }

  // One sendfile call, which writes at the destination's file position.
  Result<uint64_t> send_file(uint64_t pos, size_t want) {
    if (auto st = seek_to(out_, pos); !st) return st.take_error();
    for (;;) {
      off_t in_off = static_cast<off_t>(pos);
      ssize_t n = ::sendfile(out_, in_, &in_off, want);
      if (n >= 0) return static_cast<uint64_t>(n);
      if (errno == EINTR) continue;
      if (!send_file_unsupported(errno)) return Error::os(errno);
      return fall_back(Method::kReadWrite);
    }
  }

  Result<uint64_t> fall_back(Method next) {
    method_ = next;
    fell_back_ = true;
    return uint64_t{0};
  }

  Result<uint64_t> finish_by_reading(uint64_t pos, std::optional<uint64_t> rest,
                                     uint64_t done) {
    if (auto st = seek_to(in_, pos); !st) return st.take_error();
    if (auto st = seek_to(out_, pos); !st) return st.take_error();
    auto n = read_write_copy(in_, out_, rest, observer_);
    if (!n) return n.take_error();
    return done + *n;
  }

  int in_;
  int out_;
  PieceObserver& observer_;
  Method method_ = Method::kFileRange;
  bool fell_back_ = false;
};

// Whether the source has a hole before its end. File systems without
// SEEK_HOLE report none.
bool has_holes(int fd, uint64_t size) {
  const std::optional<uint64_t> hole = first_hole(fd);
  return hole && *hole < size;
}

// Copies only the data regions of |in| and sets the copy's length to the
// source's, so the holes stay holes. A source that changes meanwhile is
// taken as far as the walk finds data. Returns that length.
Result<uint64_t> copy_sparse(int in, int out, PieceObserver& observer) {
  using Kind = DataRegionStep::Kind;
  RegionCopier copier(in, out, observer);
  uint64_t end = 0;
  uint64_t pos = 0;
  for (;;) {
    auto step = next_data_region(in, pos);
    if (!step) return step.take_error();
    // No data after |pos|, or the file shrank under us.
    if (step->kind != Kind::Region) break;
    const uint64_t length = step->hole - step->data;
    auto n = copier.copy(step->data, length);
    if (!n) return n.take_error();
    end = std::max(end, step->data + *n);
    if (*n < length) break;  // end of file came early
    pos = step->hole;
  }
  auto st = status_of_fd(in);
  if (!st) return st.take_error();
  end = std::max(end, static_cast<uint64_t>(st->st_size));
  while (::ftruncate(out, static_cast<off_t>(end)) != 0) {
    if (errno != EINTR) return Error::os(errno);
  }
  return end;
}

}  // namespace

Result<uint64_t> copy_file(const std::string& src, const std::string& dst,
                           PieceObserver& observer) {
  if (auto st = reject_nul_byte(src); !st) return st.take_error();
  if (auto st = reject_nul_byte(dst); !st) return st.take_error();
  auto in = open_for_reading(src);
  if (!in) return in.take_error();
  return copy_open_file(*in, dst, observer);
}

Result<uint64_t> copy_open_file(const OpenFile& in, const std::string& dst,
                                PieceObserver& observer) {
  if (auto st = reject_nul_byte(dst); !st) return st.take_error();
  const struct stat& src_st = in.status;
  if (!S_ISREG(src_st.st_mode)) {
    return Error::fixed(ErrorKind::InvalidInput,
                        std::string(kNotRegularFileText));
  }

  const mode_t mode = src_st.st_mode & 07777;
  auto out = create_for_writing(dst, mode);
  if (!out) return out.take_error();
  auto dst_st = status_of_fd(out->get());
  if (!dst_st) return dst_st.take_error();
  const bool dst_regular = S_ISREG(dst_st->st_mode);
  if (dst_regular) {
    while (::fchmod(out->get(), mode) != 0) {
      if (errno != EINTR) return Error::os(errno);
    }
  }

  Result<uint64_t> copied = uint64_t{0};
  if (src_st.st_size == 0) {
    copied = read_write_copy(in.fd.get(), out->get(), std::nullopt, observer);
  } else if (dst_regular &&
             has_holes(in.fd.get(), static_cast<uint64_t>(src_st.st_size))) {
    copied = copy_sparse(in.fd.get(), out->get(), observer);
  } else {
    copied =
        RegionCopier(in.fd.get(), out->get(), observer).copy(0, std::nullopt);
  }
  if (!copied) return copied;
  if (auto st = out->close_checked(); !st) return st.take_error();
  return copied;
}

Result<uint64_t> copy_file(const std::string& src, const std::string& dst) {
  struct GoOn : PieceObserver {
    Status piece_done(uint64_t) override { return {}; }
  } go_on;
  return copy_file(src, dst, go_on);
}

}  // namespace diagpack
