// Fuzz harness of norva_solve_interval.
//
// Bytes: flags, call options, sizes, padding, the mode, the interval
// matrix (two entries per position, ordered unless the bytes ask for a
// reversed pair), then either interval right-hand sides or a solution X of
// the point system A_lo X = B with B formed exactly and widened into
// intervals around it.  Checked as for the dense solver: status, -1 exactly
// for invalid arguments with nothing written, per-column proofs containing
// the known solution, inputs and the caller's environment unchanged.
#include <algorithm>

#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_interval";

// An interval from two entries: ordered, except now and then.
void pair(fuzz::input &in, double &lo, double &hi) {
    lo = in.value();
    hi = in.u8() < 128 ? lo : in.value();
    if (!(lo <= hi) && !in.one_in(16)) std::swap(lo, hi);
}

bool proper(double lo, double hi) { return fuzz::finite(lo) && fuzz::finite(hi) && lo <= hi; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool known = flags & 4, dominant = flags & 8, with_r = flags & 16;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    const uint64_t n = 1 + in.below(6);
    const uint64_t nrhs = 1 + in.below(2);
    const uint64_t lda = n + in.below(2), ldb = nrhs + in.below(2), ldx = nrhs + in.below(2);
    const int32_t mode = in.mode(2);

    const double qnan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> alo(n * lda, qnan), ahi(n * lda, qnan);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) pair(in, alo[i * lda + j], ahi[i * lda + j]);
    if (dominant)
        for (uint64_t i = 0; i < n; ++i) {
            alo[i * lda + i] = std::ldexp((double)n, 4 + (int)in.below(4));
            ahi[i * lda + i] = alo[i * lda + i] + in.below(4);
        }
    std::vector<double> r;
    if (with_r) {
        r.assign(n * n, 0.0);
        in.values(r);
    }
    std::vector<double> blo(n * ldb, qnan), bhi(n * ldb, qnan), x;
    std::vector<char> exact;
    if (known) {
        // B = A_lo X exactly, then B_lo <= B <= B_hi (rounding is monotone).
        x = in.finite_values(n * nrhs);
        fuzz::exact_rhs(n, n, nrhs, alo.data(), lda, x, blo.data(), ldb, exact);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < nrhs; ++k) {
                const double b = blo[i * ldb + k], w = std::fabs(in.value());
                blo[i * ldb + k] = b - w;
                bhi[i * ldb + k] = b + w;
            }
    } else {
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < nrhs; ++k) pair(in, blo[i * ldb + k], bhi[i * ldb + k]);
    }
    bool invalid = (uint32_t)mode > 1;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) invalid |= !proper(alo[i * lda + j], ahi[i * lda + j]);
        for (uint64_t k = 0; k < nrhs; ++k) invalid |= !proper(blo[i * ldb + k], bhi[i * ldb + k]);
    }

    const fuzz::snapshot inputs{&alo, &ahi, &blo, &bhi, &r};
    std::vector<double> lo = fuzz::blank(n * ldx), hi = fuzz::blank(n * ldx);
    auto call = [&](std::vector<double> &l, std::vector<double> &u) {
        return norva_solve_interval(n, nrhs, alo.data(), ahi.data(), lda, blo.data(), bhi.data(),
                                    ldb, with_r ? r.data() : nullptr, n, l.data(), u.data(), ldx,
                                    mode, o.gemm, o.context());
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] { return call(lo, hi); });
    inputs.check(h);
    if (st == -1) return 0;
    fuzz::check_bounds(h, st, lo, hi, n, nrhs, ldx, false, known ? &x : nullptr, &exact);
    if (o.env.directed()) fuzz::check_repeat(h, st, lo, hi, call);
    return 0;
}
