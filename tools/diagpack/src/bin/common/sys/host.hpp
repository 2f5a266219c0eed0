// What the run needs to know of the host it runs on: the kernel's release
// and how many CPUs this process may use.
#pragma once

#include <optional>
#include <string>

namespace diagpack {

// The whole release field of uname(2), trailing zero bytes included, or
// nothing when the call fails.
std::optional<std::string> kernel_release_field();

// The number of CPUs in the calling thread's affinity mask (what taskset,
// cgroups' cpusets and container limits leave it). 1 when the mask cannot
// be read, so a caller falls back to working on one thread.
unsigned usable_cpu_count();

}  // namespace diagpack
