// Times one copy_file call: copy_file_bench SRC DST. Prints the length of
// the copy and the wall-clock seconds it took.

#include <chrono>
#include <cstdio>

#include "sys/copy_file.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: copy_file_bench SRC DST\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  auto copied = diagpack::copy_file(argv[1], argv[2]);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  if (!copied) {
    std::fprintf(stderr, "copy_file: %s\n", copied.error().text().c_str());
    return 1;
  }
  std::printf("copied %llu bytes in %.3f s\n",
              static_cast<unsigned long long>(*copied), took.count());
  return 0;
}
