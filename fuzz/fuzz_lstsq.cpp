// Fuzz harness of norva_lstsq.
//
// Bytes: flags, call options, m, n, nrhs and padding, the mode, alpha (0, a
// power of two over the whole range, or any entry), A, an optional
// approximate inverse of the augmented matrix, then B or a known solution:
// for m >= n, X with B = A X exactly (X is then the least-squares
// solution); for m < n, Y with X = A^T Y and B = A X exactly (X is then the
// minimum-norm solution).  A proof implies that the augmented matrix is
// regular, so A has full rank and X is the unique answer.  Checked as for the
// dense solver.
#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_lstsq";

bool valid_alpha(double alpha) {
    if (alpha == 0) return true;
    if (!(alpha > 0) || !fuzz::finite(alpha)) return false;
    int e;
    return std::frexp(alpha, &e) == 0.5;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool known = flags & 4, with_r = flags & 8;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    const uint64_t m = 1 + in.below(6), n = 1 + in.below(6), nrhs = 1 + in.below(2);
    const uint64_t lda = n + in.below(2), ldb = nrhs + in.below(2), ldx = nrhs + in.below(2);
    const int32_t mode = in.mode(3);
    const uint8_t ab = in.u8();
    const double alpha = ab < 128 ? 0.0 : ab < 224 ? std::ldexp(1.0, (int)in.below(2098) - 1074)
                                                   : in.value();

    std::vector<double> a(m * lda, std::numeric_limits<double>::quiet_NaN());
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) a[i * lda + j] = in.value();
    const uint64_t N = m + n;
    std::vector<double> r;
    if (with_r) {
        r.assign(N * N, 0.0);
        in.values(r);
    }
    std::vector<double> b(m * ldb, std::numeric_limits<double>::quiet_NaN()), x;
    std::vector<char> exact;
    if (known) {
        x.resize(n * nrhs);
        if (m >= n) {
            x = in.finite_values(n * nrhs);
        } else {  // X = A^T Y, column by column
            std::vector<double> y = in.finite_values(m * nrhs), at(n * m);
            for (uint64_t i = 0; i < m; ++i)
                for (uint64_t j = 0; j < n; ++j) at[j * m + i] = a[i * lda + j];
            std::vector<char> xk;
            std::vector<double> xt(n * nrhs);
            fuzz::exact_rhs(n, m, nrhs, at.data(), m, y, xt.data(), nrhs, xk);
            x = xt;
            exact = xk;
        }
        std::vector<char> bk;
        fuzz::exact_rhs(m, n, nrhs, a.data(), lda, x, b.data(), ldb, bk);
        if (exact.empty()) exact = bk;
        for (uint64_t k = 0; k < nrhs; ++k) exact[k] = exact[k] && bk[k];
    } else {
        for (uint64_t i = 0; i < m; ++i)
            for (uint64_t k = 0; k < nrhs; ++k) b[i * ldb + k] = in.value();
    }
    const bool invalid = (uint32_t)mode > 2 || !valid_alpha(alpha) ||
                         !fuzz::all_finite(a, m, n, lda) || !fuzz::all_finite(b, m, nrhs, ldb);

    const fuzz::snapshot inputs{&a, &b, &r};
    std::vector<double> lo = fuzz::blank(n * ldx), hi = fuzz::blank(n * ldx);
    auto call = [&](std::vector<double> &l, std::vector<double> &u) {
        return norva_lstsq(m, n, nrhs, a.data(), lda, b.data(), ldb, alpha,
                           with_r ? r.data() : nullptr, N, l.data(), u.data(), ldx, mode, o.gemm,
                           o.context());
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] { return call(lo, hi); });
    inputs.check(h);
    if (st == -1) return 0;
    fuzz::check_bounds(h, st, lo, hi, n, nrhs, ldx, false, known ? &x : nullptr, &exact);
    if (o.env.directed()) fuzz::check_repeat(h, st, lo, hi, call);
    return 0;
}
