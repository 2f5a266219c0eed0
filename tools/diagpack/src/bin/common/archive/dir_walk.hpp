// The walk that puts the output directory into the archive.
//
// Pending items sit on a last-in, first-out stack, starting with the source
// directory itself. Taking an item off the stack either lists it (a
// directory, or a link to one: its children are pushed in listing order,
// then its own entry is written) or stores it (anything else, with links
// followed). A FIFO or a device is stored from its status and never opened;
// a regular file is opened without waiting and described by the status of
// the open file, so nothing in the directory can block the walk. So the top
// directory's entry comes first, each directory's entry comes before its
// contents, the contents of one directory appear in the reverse of the
// listing order, and subdirectories are walked depth first. Nothing is
// sorted, and no entry is ever stored as a link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/tar_builder.hpp"
#include "base/result.hpp"

namespace diagpack {

// Appends |src_dir| and everything below it to |builder|. Entry names are
// |top_name| joined with the path below |src_dir|: "jce-data/" for the
// directory itself, "jce-data/logs/a.log" below it. Returns the first
// error: a listing, type, status or open error (a dangling link fails with
// ENOENT, a link loop with ELOOP) or the TarBuilder's error, which names the
// entry for sockets and unknown types.
Status append_dir_all(TarBuilder& builder, std::string_view top_name,
                      const std::string& src_dir);

// About the bytes of the tar stream that append_dir_all and end_archive
// would write for |src_dir| as it stands: the sum of estimated_entry_bytes
// over the same walk, without reading any file. For showing progress.
// Returns the first listing or status error.
Result<uint64_t> estimate_dir_all(const std::string& src_dir);

}  // namespace diagpack
