// The OS report, and what it costs in memory.
//
// The release files are small on every real host, but nothing stops one
// from being huge (a file of 300 MB on one line, a system-release grown by
// accident), and a root run must neither die of that nor need several
// times the file in memory. So each text is held once, in the one buffer
// it ends up in:
//
// - A lookup reads its file in pieces and decides each line by its first
//   bytes: a line that does not begin with the key is passed over as it
//   streams by, and only the line that does is kept, its value appended
//   straight to the caller's string (the long OS version is built in one
//   string that way). Once such a value passes kReserveAfter bytes, the
//   string is grown once to hold the rest of the file, so that a huge
//   value is never copied to a larger buffer again.
// - system-release is read whole into one buffer sized from the status of
//   the open file.
// - The report is written as its parts (the fixed words, the kernel
//   release, the long OS version, the system-release content) with one
//   writev, instead of being joined into a copy first.
//
// Every read loop looks at the run's InterruptWatch every
// kInterruptPollBytes, so a stop signal is acted on within a few
// milliseconds of reading however large the file.
#include "stages/os_report.hpp"

#include <sys/stat.h>  // S_IS*

#include <vector>

#include "base/path_ops.hpp"  // join_path
#include "base/utf8.hpp"      // Utf8Checker, latin1_to_utf8
#include "sys/files.hpp"  // open_for_reading, read_some, read_text_to_end, write_file
#include "sys/host.hpp"  // kernel_release_field

namespace diagpack {

namespace {

constexpr std::string_view kReportName = "osInfo.txt";
constexpr size_t kReadPiece = 65536;
constexpr size_t kReserveAfter = size_t{1} << 20;

// Opens a release file for reading. A device there (a link to /dev/zero,
// say) would never reach its end, so it counts as a file that cannot be
// opened; a FIFO opens without waiting and reads as empty, a directory
// fails at its first read.
std::optional<OpenFile> open_release_file(const std::string& path) {
  auto file = open_for_reading(path);
  if (!file) return std::nullopt;
  const mode_t mode = file->status.st_mode;
  if (S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode)) return std::nullopt;
  return std::move(*file);
}

// The size that the status of an open file gives, 0 for one that has none.
uint64_t file_size(const struct stat& status) {
  return status.st_size > 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// Finds the first line that begins with |key| in a file fed to it in
// pieces, appending that line's value to |out| as it arrives. A line that
// turns out not to be UTF-8 is taken out of |out| again.
class LineMatcher {
 public:
  LineMatcher(std::string_view key, std::string& out, uint64_t file_size)
      : key_(key), out_(out), start_(out.size()), file_size_(file_size) {}

  // Takes the next piece of the file. Returns true once a line has matched
  // whole: the rest of the file need not be read.
  bool feed(std::string_view piece) {
    size_t i = 0;
    while (i < piece.size()) {
      if (state_ == State::Key) {
        if (piece[i] != key_[matched_]) {
          state_ = State::Skip;
          continue;
        }
        ++i;
        if (++matched_ == key_.size()) {
          state_ = State::Value;
          checker_ = Utf8Checker();
          ends_in_cr_ = false;
        }
        continue;
      }
      const size_t lf = piece.find('\n', i);
      const size_t end = lf == std::string_view::npos ? piece.size() : lf;
      if (state_ == State::Value) keep(piece.substr(i, end - i), read_ + i);
      i = end;
      if (lf == std::string_view::npos) break;
      ++i;
      if (state_ == State::Value) {
        if (ends_in_cr_) out_.pop_back();
        if (!checker_.finish()) return true;
        out_.resize(start_);
      }
      state_ = State::Key;
      matched_ = 0;
    }
    read_ += piece.size();
    return false;
  }

  // At end of file: whether the last line, which has no line feed and so
  // keeps a carriage return it ends in, matched.
  bool finish() {
    if (state_ == State::Value && !checker_.finish()) return true;
    abandon();
    return false;
  }

  // Gives up the search: |out| as it was.
  void abandon() { out_.resize(start_); }

 private:
  enum class State { Key, Value, Skip };

  // Appends the bytes of a matching line found at |offset| of the file,
  // without their double quotes.
  void keep(std::string_view bytes, uint64_t offset) {
    if (bytes.empty()) return;
    checker_.feed(bytes);
    ends_in_cr_ = bytes.back() == '\r';
    const size_t need = out_.size() + bytes.size();
    if (need > out_.capacity() && out_.size() - start_ >= kReserveAfter &&
        file_size_ > offset)
      out_.reserve(out_.size() + static_cast<size_t>(file_size_ - offset));
    for (size_t quote; (quote = bytes.find('"')) != std::string_view::npos;) {
      out_.append(bytes.substr(0, quote));
      bytes.remove_prefix(quote + 1);
    }
    out_.append(bytes);
  }

  std::string_view key_;
  std::string& out_;
  const size_t start_;
  const uint64_t file_size_;
  uint64_t read_ = 0;  // bytes of the file fed before the current piece
  State state_ = State::Key;
  size_t matched_ = 0;  // bytes of the key seen at the start of the line
  Utf8Checker checker_;
  bool ends_in_cr_ = false;
};

}  // namespace

std::string kernel_release_text(std::string_view field) {
  std::string taken;
  for (char c : field)
    if (c != '\0') taken += c;
  return latin1_to_utf8(taken);
}

std::optional<std::string> SystemSnapshot::kernel_version() const {
  auto field = kernel_release_field();
  if (!field) return std::nullopt;
  return kernel_release_text(*field);
}

void SystemSnapshot::append_system_info(std::string& out,
                                        std::string_view main_key,
                                        std::string_view fallback_key) const {
  if (!append_release_value(out, files_.os_release, main_key, interrupts_))
    append_release_value(out, files_.lsb_release, fallback_key, interrupts_);
}

std::string SystemSnapshot::long_os_version() const {
  std::string text = "Linux ";
  append_system_info(text, "VERSION_ID=", "DISTRIB_RELEASE=");
  text += ' ';
  append_system_info(text, "NAME=", "DISTRIB_ID=");
  return text;
}

// A read error ends the search where it stands (a directory opens but
// never reads: one EISDIR, then no match).
bool append_release_value(std::string& out, const std::string& file,
                          std::string_view key,
                          const InterruptWatch* interrupts) {
  auto opened = open_release_file(file);
  if (!opened) return false;
  LineMatcher matcher(key, out, file_size(opened->status));
  char buf[kReadPiece];
  size_t unchecked = 0;
  for (;;) {
    auto n = read_some(opened->fd.get(), buf, sizeof buf);
    if (!n) break;
    if (*n == 0) return matcher.finish();
    if (matcher.feed(std::string_view(buf, *n))) return true;
    if ((unchecked += *n) >= kInterruptPollBytes) {
      unchecked = 0;
      if (interrupts && interrupts->pending()) break;
    }
  }
  matcher.abandon();
  return false;
}

std::optional<std::string> get_system_info_linux(std::string_view main_key,
                                                 std::string_view fallback_key,
                                                 const ReleaseFiles& files) {
  std::string value;
  if (append_release_value(value, files.os_release, main_key) ||
      append_release_value(value, files.lsb_release, fallback_key))
    return value;
  return std::nullopt;
}

Status write_os_report(const std::string& out_dir, const ReleaseFiles& files,
                       const InterruptWatch* interrupts) {
  SystemSnapshot snapshot(files, interrupts);
  auto kernel = snapshot.kernel_version();
  if (!kernel)
    return Error::fixed(ErrorKind::NotFound, std::string(kKernelVersionText));
  const std::string os_version = snapshot.long_os_version();
  if (interrupts && interrupts->pending()) return Error::interrupted();
  std::vector<std::string_view> pieces = {"Platform: linux-", *kernel,
                                          "\nVersion: ", os_version, "\n"};

  std::string content;
  if (auto file = open_release_file(files.system_release)) {
    auto read = read_text_to_end(file->fd.get(),
                                 static_cast<size_t>(file_size(file->status)),
                                 interrupts);
    if (!read) return read.take_error();
    content = std::move(*read);
    pieces.insert(pieces.end(), {"System Release: ", content, "\n"});
  }  // else missing, unreadable, dangling or a device: no third line
  return write_file(join_path(out_dir, kReportName), pieces);
}

Status collect_os_info(const RunContext& run) {
  return write_os_report(run.out_dir, ReleaseFiles{}, &run.interrupts);
}

}  // namespace diagpack
