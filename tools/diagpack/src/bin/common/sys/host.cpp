#include "sys/host.hpp"

#include <errno.h>
#include <sched.h>        // sched_getaffinity, CPU_ALLOC, CPU_COUNT_S
#include <sys/utsname.h>  // uname

#include <cstddef>
#include <memory>

namespace diagpack {

std::optional<std::string> kernel_release_field() {
  struct utsname names = {};
  if (::uname(&names) != 0) return std::nullopt;
  return std::string(names.release, sizeof names.release);
}

namespace {

struct CpuSetFree {
  void operator()(cpu_set_t* set) const { CPU_FREE(set); }
};

constexpr int kFirstSetSize = 1024;
constexpr int kLargestSetSize = 1 << 18;

}  // namespace

// The affinity mask is the honest count: the number of CPUs online says
// nothing about the ones a cpuset or `taskset` lets this process use. The
// mask is read into a dynamically sized set, grown while the kernel answers
// EINVAL (its mask is wider than the set), so hosts with more than the
// 1024 CPUs of a plain cpu_set_t are counted too.
unsigned usable_cpu_count() {
  for (int cpus = kFirstSetSize; cpus <= kLargestSetSize; cpus *= 2) {
    std::unique_ptr<cpu_set_t, CpuSetFree> set(CPU_ALLOC(cpus));
    if (!set) return 1;
    const size_t size = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(size, set.get());
    if (::sched_getaffinity(0, size, set.get()) == 0) {
      const int count = CPU_COUNT_S(size, set.get());
      return count > 0 ? static_cast<unsigned>(count) : 1;
    }
    if (errno != EINVAL) return 1;
  }
  return 1;
}

}  // namespace diagpack
