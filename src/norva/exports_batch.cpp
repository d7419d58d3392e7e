// The batched dense export: many small systems, each solved exactly as
// norva_solve solves it, shared out over OpenMP threads.
//
// Each system runs whole on one thread (static contiguous shares of the
// systems); a system's own regions then run on a team of one, and its
// results do not depend on the team anyway, so every system's bounds and
// status are those of norva_solve.  Small batches run on the calling
// thread alone: a team costs more to wake than a few small systems take.
#include <cstdint>

#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "norva.h"
#include "norva/solve.h"

namespace {

// Elements one double array may hold.
constexpr uint64_t max_elements = UINT64_MAX / sizeof(double);

// True when count blocks of `block` elements, `stride` apart, lie within
// the address space, and (count > 1) the stride steps over the block.
bool span_ok(uint64_t count, uint64_t stride, uint64_t block) {
    if (block > max_elements) return false;
    if (count == 1) return true;
    return stride >= block && stride <= (max_elements - block) / (count - 1);
}

// Work of the systems at which a team pays for itself: count n^3 at least
// 2^16 multiply-adds (about 25 systems of order 14, or 1000 of order 4).
constexpr double parallel_work = 0x1p16;

}  // namespace

extern "C" NORVA_API int32_t norva_solve_batch(uint64_t count, uint64_t n, const double *a,
                                               uint64_t stride_a, const double *b,
                                               uint64_t stride_b, double *x_lo, double *x_hi,
                                               uint64_t stride_x, int32_t mode, int32_t *status) {
    using namespace norva;
    if (count == 0 || n == 0 || (uint32_t)mode > 2 || status == nullptr) return -1;
    if (n >= (uint64_t(1) << 32) || !span_ok(count, stride_a, n * n) ||
        !span_ok(count, stride_b, n) || !span_ok(count, stride_x, n))
        return -1;
    for (uint64_t s = 0; s < count; ++s) {
        const double *as = a + s * stride_a, *bs = b + s * stride_b;
        for (uint64_t i = 0; i < n; ++i) {
            if (!finite_bits(bs[i])) return -1;
            for (uint64_t j = 0; j < n; ++j)
                if (!finite_bits(as[i * n + j])) return -1;
        }
    }

    fenv_guard env;
    const double work = (double)count * (double)n * (double)n * (double)n;
    const int team = work < parallel_work ? 1 : omp_get_max_threads();
    uint32_t unproven = 0;
#pragma omp parallel num_threads(team) reduction(| : unproven)
    {
        fenv_region region;
        const share systems = my_share(count);
        for (uint64_t s = systems.begin; s < systems.end; ++s) {
            status[s] = solve_in_env(n, 1, a + s * stride_a, n, b + s * stride_b, 1, nullptr,
                                     nullptr, nullptr, 0, x_lo + s * stride_x, x_hi + s * stride_x,
                                     1, mode, nullptr, nullptr);
            unproven |= status[s] != 0;
        }
#pragma omp barrier
    }
    return unproven ? 1 : 0;
}
