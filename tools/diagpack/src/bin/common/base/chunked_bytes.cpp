#include "base/chunked_bytes.hpp"

#include <algorithm>  // std::min
#include <cstring>    // memcpy

namespace diagpack {

// new char[] leaves a chunk's pages untouched until bytes land there, so a
// chunk only just begun costs address space but hardly any memory.
std::span<char> ChunkedBytes::room() {
  if (size_ == chunks_.size() * kChunkSize) {
    chunks_.push_back(std::unique_ptr<char[]>(new char[kChunkSize]));
  }
  const size_t used = size_ - (chunks_.size() - 1) * kChunkSize;
  return {chunks_.back().get() + used, kChunkSize - used};
}

void ChunkedBytes::append(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::span<char> free = room();
    const size_t n = std::min(free.size(), bytes.size());
    std::memcpy(free.data(), bytes.data(), n);
    commit(n);
    bytes.remove_prefix(n);
  }
}

std::vector<std::string_view> ChunkedBytes::pieces() const {
  std::vector<std::string_view> out;
  out.reserve(chunks_.size());
  for (size_t i = 0; i < chunks_.size(); ++i) {
    const size_t begin = i * kChunkSize;
    out.emplace_back(chunks_[i].get(), std::min(kChunkSize, size_ - begin));
  }
  return out;
}

}  // namespace diagpack
