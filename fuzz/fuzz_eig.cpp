// Fuzz harness of norva_eig_sym.
//
// Bytes: flags, call options, the order and padding, the mode, a symmetric
// A (one mirror image changed now and then), and optionally an approximate
// decomposition V, d to verify (or only one of them).  Checked: the status
// range, -1 exactly for invalid arguments with nothing written; status 1
// every bound [-inf, +inf]; status 0 finite bounds lo <= hi with
// lo[0] <= min a(i, i) and hi[n-1] >= max a(i, i) (the extreme eigenvalues
// bound every diagonal entry) and sum lo <= trace A <= sum hi, decided by
// the exact sum; inputs and the caller's environment unchanged.
#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_eig";

// Sign of the exact sum of x minus the exact trace: rounding to nearest
// keeps the sign of an exact value.
double minus_trace(const std::vector<double> &x, const std::vector<double> &a, uint64_t n,
                   uint64_t lda) {
    std::vector<double> t(x.begin(), x.begin() + (long)n);
    for (uint64_t i = 0; i < n; ++i) t.push_back(-a[i * lda + i]);
    return qxsum(t.data(), t.size(), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool with_v = flags & 4, with_d = flags & 8, asymmetric = (flags & 0xf0) == 0xf0;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    const uint64_t n = 1 + in.below(6);
    const uint64_t lda = n + in.below(2), ldv = n + in.below(2);
    const int32_t mode = in.mode(2);

    std::vector<double> a(n * lda, std::numeric_limits<double>::quiet_NaN());
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j <= i; ++j) a[i * lda + j] = a[j * lda + i] = in.value();
    if (asymmetric && n > 1) {
        const uint64_t i = 1 + in.below(n - 1), j = in.below(i);
        a[j * lda + i] = in.value();
    }
    std::vector<double> v, d;
    if (with_v) {
        v.assign(n * ldv, 0.0);
        for (uint64_t i = 0; i < n; ++i)  // near the identity unless the bytes say otherwise
            for (uint64_t j = 0; j < n; ++j) v[i * ldv + j] = (i == j) + in.value() * 0x1p-30;
    }
    if (with_d) {
        d.resize(n);
        in.values(d);
    }
    bool invalid = (uint32_t)mode > 1 || with_v != with_d;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double x = a[i * lda + j];
            invalid |= !fuzz::finite(x) || !(x == a[j * lda + i]) ||
                       (with_v && !fuzz::finite(v[i * ldv + j]));
        }
    for (double x : d) invalid |= !fuzz::finite(x);

    const fuzz::snapshot inputs{&a, &v, &d};
    std::vector<double> lo = fuzz::blank(n), hi = fuzz::blank(n);
    auto call = [&](std::vector<double> &l, std::vector<double> &u) {
        return norva_eig_sym(n, a.data(), lda, with_v ? v.data() : nullptr, ldv,
                             with_d ? d.data() : nullptr, l.data(), u.data(), mode, o.gemm,
                             o.context());
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] { return call(lo, hi); });
    inputs.check(h);
    if (st == -1) return 0;
    fuzz::check_bounds(h, st, lo, hi, n, 1, 1, true);
    if (st == 0) {
        for (uint64_t i = 0; i < n; ++i) {
            const double di = a[i * lda + i];
            if (!(lo[0] <= di && di <= hi[n - 1]))
                fuzz::broken(h, "a diagonal entry outside [lo[0], hi[n-1]]", (long long)i);
        }
        if (minus_trace(lo, a, n, lda) > 0 || minus_trace(hi, a, n, lda) < 0)
            fuzz::broken(h, "the trace is outside [sum lo, sum hi]");
    }
    if (o.env.directed()) fuzz::check_repeat(h, st, lo, hi, call);
    return 0;
}
