// The int8 kernels of the Ozaki-scheme product and their choice: the defining
// loop, the process-wide choice between the portable kernel and the AArch64
// dot-product kernel (processor feature, then QXSUM_I8_PLAIN and
// QXSUM_I8_KERNEL, read once), and i8_internal, which runs the chosen kernel
// on column shares of the threads.
#include <omp.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#endif

#include "common/partition.h"
#include "qxsum/dgemm_kernel.h"
#include "qxsum/qxsum_internal.h"

namespace qx {

void i8_loop(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
             uint64_t ldb, int32_t *C, uint64_t ldc) {
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            // Unsigned: wraps like the 32-bit registers of the other kernels.
            uint32_t s = 0;
            for (uint64_t l = 0; l < k; ++l)
                s += (uint32_t)((int32_t)A[i * lda + l] * (int32_t)Bt[j * ldb + l]);
            C[i * ldc + j] = (int32_t)s;
        }
}

namespace {

constexpr int n_kernels = 5;
constexpr const char *NM[n_kernels] = {"plain", "vnni", "sdot", "avx2", "i8mm"};
constexpr int k_plain = 0, k_sdot = 2;

// HWCAP_ASIMDDP: the Advanced SIMD dot-product instructions.
[[maybe_unused]] constexpr unsigned long hwcap_asimddp = 1UL << 20;

int32_t has_dotprod() {
#if defined(__aarch64__) && defined(__linux__)
    return (getauxval(AT_HWCAP) & hwcap_asimddp) ? 1 : 0;
#else
    return 0;
#endif
}

int32_t which() {
    std::atomic_ref<int32_t> w(i8_which);
    int32_t c = w.load(std::memory_order_relaxed);
    if (c < 0) {
        i8_pick();
        c = w.load(std::memory_order_relaxed);
    }
    return c;
}

struct share {
    int32_t kernel;
    uint64_t m, n, k, lda, ldb, ldc;
    const int8_t *A, *Bt;
    int32_t *C;
};

void run(int32_t kernel, uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
         const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc) {
    if (kernel == k_sdot)
        i8_sdot(m, n, k, A, lda, Bt, ldb, C, ldc);
    else
        i8_plain(m, n, k, A, lda, Bt, ldb, C, ldc);
}

}  // namespace

i8_serial_fn i8_serial() {
    if (which() == k_sdot) return i8_sdot;
    return i8_plain;
}

}  // namespace qx

using namespace qx;

extern "C" {

int32_t i8_which = -1;

void i8_pick(void) {
    const int32_t avail[n_kernels] = {1, 0, has_dotprod(), 0, 0};
    int32_t c = avail[k_sdot] ? k_sdot : k_plain;
    const char *plain = std::getenv("QXSUM_I8_PLAIN");
    if (plain != nullptr && plain[0] == '1') c = k_plain;
    const char *name = std::getenv("QXSUM_I8_KERNEL");
    if (name != nullptr)
        for (int32_t q = 0; q < n_kernels; ++q)
            if (std::strcmp(name, NM[q]) == 0) {
                if (avail[q]) c = q;
                break;
            }
    // One store of the final choice: a thread racing through here as well
    // computes the same value, and no reader ever sees anything else.
    std::atomic_ref<int32_t>(i8_which).store(c, std::memory_order_relaxed);
}

const char *qxsum_i8_kernel(void) { return NM[which()]; }

void i8_internal(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                 const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc, void *) {
    const int32_t kernel = which();
    const int threads = gemm_team(m, n, k);
    if (threads <= 1) {
        run(kernel, m, n, k, A, lda, Bt, ldb, C, ldc);
        return;
    }
    // Integer work only: no floating-point environment to manage.  Each
    // thread takes a contiguous share of the columns (rows of Bt).
    const share sh{kernel, m, n, k, lda, ldb, ldc, A, Bt, C};
#pragma omp parallel num_threads(threads) firstprivate(sh)
    {
        const norva::share js = norva::my_share(sh.n);
        if (js.end > js.begin)
            run(sh.kernel, sh.m, js.end - js.begin, sh.k, sh.A, sh.lda, sh.Bt + js.begin * sh.ldb,
                sh.ldb, sh.C + js.begin, sh.ldc);
    }
}

}  // extern "C"
