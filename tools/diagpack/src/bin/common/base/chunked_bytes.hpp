// ChunkedBytes: a byte stream of unknown length (a child's output) kept in
// chunks of a fixed size. A string that grows doubles its buffer and copies
// into it, so it holds up to three times its bytes at that moment and needs
// one block of address space for all of them; chunks are never moved, and
// the stream costs its own length plus less than one chunk.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace diagpack {

class ChunkedBytes {
 public:
  static constexpr size_t kChunkSize = size_t{1} << 20;

  // Where the next bytes go: the free end of the last chunk, or a new chunk
  // when that one is full; never empty. Throws std::bad_alloc when no chunk
  // can be had.
  std::span<char> room();
  // Records that the first |n| bytes of room() were filled.
  void commit(size_t n) { size_ += n; }
  // Copies |bytes| in.
  void append(std::string_view bytes);

  size_t size() const { return size_; }
  // The bytes in order, one view per chunk in use.
  std::vector<std::string_view> pieces() const;

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t size_ = 0;
};

}  // namespace diagpack
