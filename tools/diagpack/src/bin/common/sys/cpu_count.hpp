// How many CPUs this process may run on.
#pragma once

namespace diagpack {

// The number of CPUs in the calling thread's affinity mask (what taskset,
// cgroups' cpusets and container limits leave it). 1 when the mask cannot
// be read, so a caller falls back to working on one thread.
unsigned usable_cpu_count();

}  // namespace diagpack
