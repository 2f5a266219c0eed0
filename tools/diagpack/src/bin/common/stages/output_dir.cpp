#include "stages/output_dir.hpp"

#include "base/error.hpp"
#include "base/path_ops.hpp"
#include "base/utf8.hpp"
#include "sys/directories.hpp"  // make_directory, remove_dir_all
#include "sys/files.hpp"        // status_following_links

namespace diagpack {

namespace {

// The stages create their files in the output directory, as root, by name;
// were the directory group- or world-writable (under umask 000 or 002),
// another user could plant links there. So it never is, whatever the umask:
// 0755 before the umask, the usual 0755 under the usual umask 022.
constexpr unsigned kOutputDirMode = 0755;

}  // namespace

std::string OutputPathError::display() const {
  switch (variant) {
    case Variant::AlreadyExists:
      return "Output directory " + utf8_lossy(path) + " already exists.";
    case Variant::CreateFailed:
      return "Failed to create output directory " + utf8_lossy(path) +
             " due to: " + os_error_text(os_code) + ".";
    case Variant::Conversion:
      break;
  }
  return "Failed to create output directory due to conversion issues.";
}

std::string temp_dir(const Environment& env) {
  auto tmp = env.get("TMPDIR");
  return tmp ? std::string(*tmp) : std::string("/tmp");
}

std::variant<std::string, OutputPathError> prepare_output_dir(
    const ComponentInfo& info, const Environment& env) {
  std::string path = join_path(temp_dir(env), info.output_dir_name);
  if (status_following_links(path))
    return OutputPathError{OutputPathError::Variant::AlreadyExists, path, 0};
  if (Status made = make_directory(path, kOutputDirMode); !made)
    return OutputPathError{OutputPathError::Variant::CreateFailed, path,
                           made.error().os_code()};
  // The checks keep their order (a path that exists, or cannot be made,
  // says so whatever its text), so the text is judged last; a directory
  // this run cannot use must then not stay behind, or every later run
  // would stop at "already exists".
  if (!is_valid_utf8(path)) {
    (void)remove_dir_all(path);  // nothing more to do if this fails
    return OutputPathError{OutputPathError::Variant::Conversion, {}, 0};
  }
  return path;
}

}  // namespace diagpack
