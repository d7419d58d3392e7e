// Fuzz harness of norva_spd.
//
// Bytes: flags, call options, the order and padding, the mode, a symmetric
// A (lower triangle mirrored; one mirror image changed now and then), and
// optionally a caller's factor L with a shift.  Checked: the status range,
// -1 exactly for invalid arguments with *lower untouched; with status 0 a
// finite *lower >= 0 and every diagonal entry positive; with status 1 a
// *lower that is not positive (a bound formed, or -inf); whenever *lower is
// not -inf, *lower <= a(i, i) for every i (lambda_min is at most every
// diagonal entry); inputs and the caller's environment unchanged.
#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_spd";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool dominant = flags & 4, with_l = flags & 8, no_lower = (flags & 0x30) == 0x30,
               asymmetric = (flags & 0xc0) == 0xc0;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    const uint64_t n = 1 + in.below(7);
    const uint64_t lda = n + in.below(2), ldl = n + in.below(2);
    const int32_t mode = in.mode(2);

    std::vector<double> a(n * lda, std::numeric_limits<double>::quiet_NaN());
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j <= i; ++j) a[i * lda + j] = a[j * lda + i] = in.value();
    if (dominant)
        for (uint64_t i = 0; i < n; ++i) a[i * lda + i] = std::ldexp((double)n, 3 + (int)in.below(8));
    if (asymmetric && n > 1) {
        const uint64_t i = 1 + in.below(n - 1), j = in.below(i);
        a[j * lda + i] = in.value();
    }
    std::vector<double> l;
    double shift = 0;
    if (with_l) {
        l.assign(n * ldl, 0.0);
        in.values(l);
        shift = in.value();
    }
    bool invalid = no_lower || (uint32_t)mode > 1 || (with_l && !fuzz::finite(shift));
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double v = a[i * lda + j], t = a[j * lda + i];
            invalid |= !fuzz::finite(v) || !(v == t) || (with_l && !fuzz::finite(l[i * ldl + j]));
        }

    const fuzz::snapshot inputs{&a, &l};
    std::vector<double> lower = fuzz::blank(1);
    auto call = [&](double *out) {
        return norva_spd(n, a.data(), lda, with_l ? l.data() : nullptr, ldl, shift, out, mode,
                         o.gemm, o.context());
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lower},
                                         [&] { return call(no_lower ? nullptr : lower.data()); });
    inputs.check(h);
    if (st == -1) return 0;

    const double lo = lower[0];
    if (st == 0 && !(fuzz::finite(lo) && lo >= 0)) fuzz::broken(h, "status 0 without a finite bound >= 0");
    if (st == 1 && !(lo == -fuzz::inf || (fuzz::finite(lo) && !(lo > 0))))
        fuzz::broken(h, "status 1 with a bound that is positive, +inf or NaN");
    for (uint64_t i = 0; i < n; ++i) {
        const double d = a[i * lda + i];
        if (lo != -fuzz::inf && !(lo <= d)) fuzz::broken(h, "bound above a diagonal entry", (long long)i);
        if (st == 0 && !(d > 0)) fuzz::broken(h, "proven positive definite with a diagonal entry <= 0");
    }
    if (o.env.directed())
        fuzz::check_repeat(h, st, lower, {},
                           [&](std::vector<double> &l, std::vector<double> &) { return call(l.data()); });
    return 0;
}
