#include "archive/dir_walk.hpp"

#include <sys/stat.h>  // S_IS*, IFTODT

#include <vector>

#include "sys/directories.hpp"  // open_dir
#include "sys/files.hpp"        // open_for_reading, status_*

namespace diagpack {

namespace {

// One pending item: where it is on disk and what its listing said it was.
struct Item {
  std::string path;
  bool is_dir = false;
  bool is_link = false;
};

// "<top>/<path below src_dir>"; "<top>/" for src_dir itself.
std::string entry_name(std::string_view top_name, const std::string& src_dir,
                       const std::string& path) {
  std::string_view rel(path);
  rel.remove_prefix(src_dir.size());
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  std::string name(top_name);
  name += '/';
  name += rel;
  return name;
}

// Pushes one item per entry of the directory at |path|, in listing order.
// The type comes from the listing, or from lstat when it reports none.
Status push_children(const std::string& path, std::vector<Item>& stack) {
  auto listing = open_dir(path);
  if (!listing) return listing.take_error();
  for (;;) {
    auto entry = listing->next();
    if (!entry) return entry.take_error();
    if (*entry == nullptr) return {};
    Item item;
    item.path = path + "/" + (*entry)->d_name;
    unsigned char type = (*entry)->d_type;
    if (type == DT_UNKNOWN) {
      auto st = status_of_link(item.path);
      if (!st) return st.take_error();
      type = IFTODT(st->st_mode);
    }
    item.is_dir = type == DT_DIR;
    item.is_link = type == DT_LNK;
    stack.push_back(std::move(item));
  }
}

// A status that cannot be read counts as "not a directory" here; storing
// the item then meets the error.
bool is_link_to_dir(const Item& item) {
  if (!item.is_link) return false;
  auto st = status_following_links(item.path);
  return st && S_ISDIR(st->st_mode);
}

// The walk: takes the items off the stack in the order dir_walk.hpp gives,
// hands a directory to |on_directory| once its children are pushed and
// anything else to |on_other|, each with the item's entry name. Returns
// the first error of a listing or of either.
template <class OnDirectory, class OnOther>
Status walk(std::string_view top_name, const std::string& src_dir,
            OnDirectory on_directory, OnOther on_other) {
  std::vector<Item> stack;
  stack.push_back(Item{src_dir, true, false});
  while (!stack.empty()) {
    Item item = std::move(stack.back());
    stack.pop_back();
    const std::string name = entry_name(top_name, src_dir, item.path);
    Status status;
    if (item.is_dir || is_link_to_dir(item)) {
      status = push_children(item.path, stack);
      if (status) status = on_directory(name, item);
    } else {
      status = on_other(name, item);
    }
    if (!status) return status;
  }
  return {};
}

Status append_directory(TarBuilder& builder, const std::string& name,
                        const Item& item) {
  auto st = status_following_links(item.path);
  if (!st) return st.take_error();
  return builder.append_directory_entry(name, *st);
}

// Stores anything that is not walked as a directory, links followed. What
// its status by path calls a FIFO or a device is stored from that status
// and never opened: an open could block (a FIFO without a writer) or act
// on the device. What it calls a regular file is opened without waiting,
// so that a FIFO swapped in after the status was taken cannot hold up the
// walk either, and described by the status of the open file: the header
// and the data describe the same file, and only a regular file is read.
// The open error of a regular file stands.
Status append_other(TarBuilder& builder, const std::string& name,
                    const Item& item) {
  auto by_path = status_following_links(item.path);
  if (!by_path) return by_path.take_error();
  if (!S_ISREG(by_path->st_mode)) return builder.append_special(name, *by_path);
  auto file = open_for_reading(item.path);
  if (!file) return file.take_error();
  if (!S_ISREG(file->status.st_mode))
    return builder.append_special(name, file->status);
  return builder.append_file(name, file->fd.get(), file->status);
}

}  // namespace

Status append_dir_all(TarBuilder& builder, std::string_view top_name,
                      const std::string& src_dir) {
  return walk(
      top_name, src_dir,
      [&](const std::string& name, const Item& item) {
        return append_directory(builder, name, item);
      },
      [&](const std::string& name, const Item& item) {
        return append_other(builder, name, item);
      });
}

Result<uint64_t> estimate_dir_all(const std::string& src_dir) {
  uint64_t total = kEndOfArchiveBytes;
  const auto add = [&](const std::string&, const Item& item) -> Status {
    auto st = status_following_links(item.path);
    if (!st) return st.take_error();
    total += estimated_entry_bytes(*st);
    return {};
  };
  if (Status walked = walk("", src_dir, add, add); !walked)
    return walked.take_error();
  return total;
}

}  // namespace diagpack
