// gz_encoder_bench SRC DST THREADS BLOCK_KIB: compresses SRC into DST with a
// GzEncoder of THREADS threads and BLOCK_KIB KiB blocks, fed in 8 KiB
// pieces as the tar writer feeds it; prints seconds, output bytes and peak
// RSS. Used to choose the block size and thread count.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "archive/gz_encoder.hpp"

int main(int argc, char** argv) {
  using namespace diagpack;
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SRC DST THREADS BLOCK_KIB\n", argv[0]);
    return 2;
  }
  const unsigned threads = static_cast<unsigned>(std::atoi(argv[3]));
  const size_t block = static_cast<size_t>(std::atol(argv[4])) * 1024;
  UniqueFd in(::open(argv[1], O_RDONLY | O_CLOEXEC));
  UniqueFd out(::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!in.valid() || !out.valid()) {
    std::perror("open");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  {
    GzEncoder gz(std::move(out), 6, threads, block);
    char buf[8192];
    ssize_t n;
    while ((n = ::read(in.get(), buf, sizeof buf)) > 0) {
      if (auto st = gz.write(std::string_view(buf, static_cast<size_t>(n)));
          !st) {
        std::fprintf(stderr, "%s\n", st.error().text().c_str());
        return 1;
      }
    }
    if (auto st = gz.finish_stream(); !st) {
      std::fprintf(stderr, "%s\n", st.error().text().c_str());
      return 1;
    }
    if (auto st = gz.close_file(); !st) return 1;
  }
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  struct stat st;
  ::stat(argv[2], &st);
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  std::printf(
      "threads=%u block=%zuKiB seconds=%.3f bytes=%lld maxrss_kib=%ld\n",
      threads, block / 1024, secs, static_cast<long long>(st.st_size),
      ru.ru_maxrss);
  return 0;
}
