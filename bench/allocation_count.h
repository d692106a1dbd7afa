// How many times this program has called operator new: the benchmarks read it
// around their timed part to show allocations per command.
#pragma once

#include <cstdint>

namespace tslflash::bench {

std::uint64_t AllocationCount();

}  // namespace tslflash::bench
