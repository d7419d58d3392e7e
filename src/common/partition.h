// Static partition of the items of a parallel region: with q = count / T and
// r = count % T, threads below r take q + 1 items starting at id (q + 1), the
// others q items starting at r + id q.  Small problems run on the calling
// thread without entering a region: a region of one thread still builds a
// team (an allocation and the runtime's bookkeeping, and futex calls on a
// busy machine), which costs more than a whole small solve.
#ifndef NORVA_COMMON_PARTITION_H
#define NORVA_COMMON_PARTITION_H

#include <cstdint>
#include <omp.h>

#include "common/fenv_guard.h"

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

// Team size for a region over `size` items: one thread below the threshold
// or where a region would be nested beyond the active levels the runtime
// allows (inside a batch's region, say), the runtime's default otherwise.
inline int team_size(uint64_t size, uint64_t threshold) {
    if (size < threshold || omp_get_active_level() >= omp_get_max_active_levels()) return 1;
    return omp_get_max_threads();
}

// Runs body(id, T) on a team of `threads` (T its size, id the thread's
// number): directly on the calling thread as body(0, 1) when the team would
// have one thread, with no region entered and no barrier; otherwise in a
// region.  Either way every thread runs in the library's environment
// (fenv_region: nothing to do on a thread under an export's guard) and, in
// a region, waits for the others before restoring its own.  Bodies take
// their share with static_share(count, id, T), never from the runtime,
// since a direct call may run inside someone else's region.
template <class Body>
void on_team(int threads, Body &&body) {
    if (threads <= 1) {
        fenv_region env;
        body(uint64_t{0}, uint64_t{1});
        return;
    }
#pragma omp parallel num_threads(threads)
    {
        fenv_region env;
        body((uint64_t)omp_get_thread_num(), (uint64_t)omp_get_num_threads());
#pragma omp barrier
    }
}

// body(s) over the static shares s of `count` items, on team_size(size,
// threshold) threads.
template <class Body>
void for_shares(uint64_t count, uint64_t size, uint64_t threshold, Body &&body) {
    on_team(team_size(size, threshold),
            [&](uint64_t id, uint64_t t) { body(static_share(count, id, t)); });
}

}  // namespace norva

#endif
