// Cyclic Jacobi method on a packed copy W of the symmetric A (see eig.h).
#include <cmath>
#include <cstring>

#include "norva/eig.h"
#include "norva/scratch.h"

namespace norva {

int jacobi(uint64_t n, const double *A, uint64_t lda, double *V, double *d) {
    if (too_big(n, n)) return -1;
    freer<1> mem;
    double *W = mem.own(alloc<double>(n * n));
    if (W == nullptr) return -1;
    for (uint64_t i = 0; i < n; ++i) std::memcpy(W + i * n, A + i * lda, n * sizeof(double));
    for (uint64_t i = 0; i < n * n; ++i) V[i] = 0.0;
    for (uint64_t i = 0; i < n; ++i) V[i * n + i] = 1.0;
    for (int sweep = 0; sweep < 60; ++sweep) {
        double total = 0.0, off = 0.0;
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                const double sq = W[i * n + j] * W[i * n + j];
                total = total + sq;
                if (i != j) off = off + sq;
            }
        if (total * 0x1p-106 >= off) {
            for (uint64_t i = 0; i < n; ++i) d[i] = W[i * n + i];
            return 0;
        }
        for (uint64_t p = 0; p + 1 < n; ++p)
            for (uint64_t q = p + 1; q < n; ++q) {
                if (W[p * n + q] == 0.0) continue;
                const double theta = (W[q * n + q] - W[p * n + p]) / (2.0 * W[p * n + q]);
                double t;
                if (std::fabs(theta) > 0x1p500) {
                    t = 0.5 / theta;
                } else {
                    t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                }
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (uint64_t r = 0; r < n; ++r) {
                    const double a = W[r * n + p], b = W[r * n + q];
                    W[r * n + p] = c * a - s * b;
                    W[r * n + q] = s * a + c * b;
                }
                for (uint64_t k = 0; k < n; ++k) {
                    const double a = W[p * n + k], b = W[q * n + k];
                    W[p * n + k] = c * a - s * b;
                    W[q * n + k] = s * a + c * b;
                }
                W[p * n + q] = W[q * n + p] = 0.0;
                for (uint64_t r = 0; r < n; ++r) {
                    const double a = V[r * n + p], b = V[r * n + q];
                    V[r * n + p] = c * a - s * b;
                    V[r * n + q] = s * a + c * b;
                }
            }
    }
    return -1;
}

}  // namespace norva
