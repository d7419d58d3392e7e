// Static partition of the items of a parallel region: with q = count / T and
// r = count % T, threads below r take q + 1 items starting at id (q + 1), the
// others q items starting at r + id q.  Small problems run on a team of one.
#ifndef NORVA_COMMON_PARTITION_H
#define NORVA_COMMON_PARTITION_H

#include <cstdint>
#include <omp.h>

namespace norva {

struct share {
    uint64_t begin, end;
};

constexpr share static_share(uint64_t count, uint64_t id, uint64_t threads) {
    const uint64_t q = count / threads, r = count % threads;
    if (id < r) return {id * (q + 1), id * (q + 1) + q + 1};
    return {r + id * q, r + id * q + q};
}

// The share of the calling thread inside an OpenMP region.
inline share my_share(uint64_t count) {
    return static_share(count, (uint64_t)omp_get_thread_num(), (uint64_t)omp_get_num_threads());
}

// Team size for a region over `size` items: one thread below the threshold,
// the runtime's default otherwise.
inline int team_size(uint64_t size, uint64_t threshold) {
    return size < threshold ? 1 : omp_get_max_threads();
}

}  // namespace norva

#endif
