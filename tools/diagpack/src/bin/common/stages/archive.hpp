// The archive step: packs the output directory into <out dir>.tar.gz beside
// it. The driver prints where the archive is and then removes the output
// directory; when the step fails, the directory stays for another try.
#pragma once

#include <string>

#include "base/result.hpp"
#include "stages/run_context.hpp"

namespace diagpack {

// "<out_dir>.tar.gz": the output directory's path text with the suffix
// appended as text, not joined as a path component.
std::string archive_path(const std::string& out_dir);

// Writes the archive of the output directory (top entry "<output dir
// name>/") to archive_path. Whatever stood at that path and is not a
// directory is removed first; the archive is created afresh with mode 0600.
// Returns the error of creating the file (EISDIR for a directory there),
// the walk's first error (the archive, ended, stays), or the first error of
// ending the archive, finishing the stream or closing the file (the archive,
// unreadable, is removed). It looks at run.interrupts
// while it writes: when a stop signal is pending it stops, removes the
// archive it created and returns an error of kind Interrupted. Its progress
// goes to run.status.
Status archive_output_directory(const RunContext& run);

}  // namespace diagpack
