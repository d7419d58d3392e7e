// The shared verdict flag of a parallel region: per-thread outcomes are
// combined with relaxed atomic fetch-OR (set a failure bit) or fetch-AND-NOT
// (clear a success bit).  The end of the region is the synchronisation point
// at which the caller reads the flag.
#ifndef NORVA_COMMON_VERDICT_H
#define NORVA_COMMON_VERDICT_H

#include <atomic>
#include <cstdint>

namespace norva {

inline void verdict_set(uint32_t *flag, uint32_t bits) {
    std::atomic_ref<uint32_t>(*flag).fetch_or(bits, std::memory_order_relaxed);
}

inline void verdict_clear(uint32_t *flag, uint32_t bits) {
    std::atomic_ref<uint32_t>(*flag).fetch_and(~bits, std::memory_order_relaxed);
}

}  // namespace norva

#endif
