// Fuzz harness of the dense exports norva_solve and norva_solve_many.
//
// Bytes: flags, call options (callback, team size, caller's environment),
// sizes and padding of the leading dimensions, the mode, then the entries
// of A (and of an approximate inverse r, which is not checked and may hold
// anything), and either the entries of B or of a solution X from which
// B = A X is formed exactly.  Checked: the status range, -1 exactly for
// invalid arguments with nothing written, proven columns finite with
// lo <= hi and containing a known solution, unproven ones [-inf, +inf],
// padding of the results never written, inputs unchanged, the caller's
// environment kept, and the same bits under a directed caller's rounding
// mode as under rounding to nearest.  A single system with the built-in
// product also goes twice through norva_solve_batch (check_batch).
#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_solve";

int32_t call(bool single, uint64_t n, uint64_t nrhs, const std::vector<double> &a, uint64_t lda,
             const std::vector<double> &b, uint64_t ldb, const double *r, uint64_t ldr,
             std::vector<double> &lo, std::vector<double> &hi, uint64_t ldx, int32_t mode,
             fuzz::call_options &o) {
    if (single)
        return norva_solve(n, a.data(), lda, b.data(), r, ldr, lo.data(), hi.data(), mode, o.gemm,
                           o.context());
    return norva_solve_many(n, nrhs, a.data(), lda, b.data(), ldb, r, ldr, lo.data(), hi.data(),
                            ldx, mode, o.gemm, o.context());
}

// Sizes far beyond the arrays, refused before anything is read: a zero
// dimension or a mode out of range comes first.
void huge(fuzz::input &in, fuzz::call_options &o) {
    const std::vector<double> a(4, 1.0), b(4, 1.0);
    std::vector<double> lo = fuzz::blank(4), hi = fuzz::blank(4);
    const bool single = in.u8() & 1;
    const uint64_t n = in.u64(), nrhs = single ? 1 : in.u64();
    int32_t mode = (int32_t)in.u64();
    if (n != 0 && nrhs != 0 && (uint32_t)mode <= 2) mode = 3 + (int32_t)in.u8();
    fuzz::run_checked(h, o.env, true, {&lo, &hi},
                      [&] { return call(single, n, nrhs, a, 1, b, 1, nullptr, 0, lo, hi, 1, mode, o); });
}

// norva_solve_batch on the system twice, packed, with `pad` NaNs between
// the systems and sentinels between the bounds: -1 exactly when the system
// is refused, else each copy with norva_solve's status and bits (built-in
// product, no approximate inverse), padding untouched.
void check_batch(uint64_t n, const std::vector<double> &a, uint64_t lda,
                 const std::vector<double> &b, int32_t mode, uint64_t pad, bool invalid,
                 int32_t st1, const std::vector<double> &lo1, const std::vector<double> &hi1,
                 fuzz::call_options &o) {
    const uint64_t sa = n * n + pad, sb = n + pad, sx = n + pad;
    std::vector<double> pa(2 * sa, std::numeric_limits<double>::quiet_NaN());
    std::vector<double> pb(2 * sb, std::numeric_limits<double>::quiet_NaN());
    for (uint64_t k = 0; k < 2; ++k)
        for (uint64_t i = 0; i < n; ++i) {
            pb[k * sb + i] = b[i];
            for (uint64_t j = 0; j < n; ++j) pa[k * sa + i * n + j] = a[i * lda + j];
        }
    std::vector<double> lo = fuzz::blank(2 * sx), hi = fuzz::blank(2 * sx);
    int32_t status[2] = {7, 7};
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] {
        return norva_solve_batch(2, n, pa.data(), sa, pb.data(), sb, lo.data(), hi.data(), sx,
                                 mode, status);
    });
    if (st == -1) {
        if (status[0] != 7 || status[1] != 7) fuzz::broken(h, "batch: status written by a refused call");
        return;
    }
    if (st != st1 || status[0] != st1 || status[1] != st1)
        fuzz::broken(h, "batch: a status other than norva_solve's", st);
    for (uint64_t k = 0; k < 2; ++k)
        for (uint64_t q = 0; q < sx; ++q) {
            const bool inside = q < n;
            const double l = lo[k * sx + q], u = hi[k * sx + q];
            if (!inside && !(fuzz::untouched(l) && fuzz::untouched(u)))
                fuzz::broken(h, "batch: padding between bounds written");
            if (inside && !(std::bit_cast<uint64_t>(l) == std::bit_cast<uint64_t>(lo1[q]) &&
                            std::bit_cast<uint64_t>(u) == std::bit_cast<uint64_t>(hi1[q])))
                fuzz::broken(h, "batch: bounds other than norva_solve's", (long long)q);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool single = flags & 1, known = flags & 4, dominant = flags & 8, with_r = flags & 16;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    if ((flags & 0xe0) == 0xe0) {
        huge(in, o);
        return 0;
    }
    const uint64_t n = 1 + in.below(7);
    const uint64_t nrhs = single ? 1 : 1 + in.below(3);
    const uint64_t lda = n + in.below(3), ldr = n + in.below(2);
    const uint64_t ldb = single ? 1 : nrhs + in.below(2), ldx = single ? 1 : nrhs + in.below(2);
    const int32_t mode = in.mode(3);

    std::vector<double> a(n * lda, std::numeric_limits<double>::quiet_NaN());
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) a[i * lda + j] = in.value();
    if (dominant)
        for (uint64_t i = 0; i < n; ++i) a[i * lda + i] = std::ldexp((double)n, 4 + (int)in.below(8));
    std::vector<double> r;
    if (with_r) {
        r.assign(n * ldr, 0.0);
        for (double &v : r) v = in.value();
    }
    std::vector<double> b(n * ldb, std::numeric_limits<double>::quiet_NaN()), x;
    std::vector<char> exact;
    if (known) {
        x = in.finite_values(n * nrhs);
        fuzz::exact_rhs(n, n, nrhs, a.data(), lda, x, b.data(), ldb, exact);
    } else {
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < nrhs; ++k) b[i * ldb + k] = in.value();
    }
    const bool invalid = (uint32_t)mode > 2 || !fuzz::all_finite(a, n, n, lda) ||
                         !fuzz::all_finite(b, n, nrhs, ldb);

    const fuzz::snapshot inputs{&a, &b, &r};
    std::vector<double> lo = fuzz::blank(n * ldx), hi = fuzz::blank(n * ldx);
    const double *rp = with_r ? r.data() : nullptr;
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] {
        return call(single, n, nrhs, a, lda, b, ldb, rp, ldr, lo, hi, ldx, mode, o);
    });
    inputs.check(h);
    if (single && !with_r && o.gemm == nullptr)
        check_batch(n, a, lda, b, mode, in.below(3), invalid, st, lo, hi, o);
    if (st == -1) return 0;
    fuzz::check_bounds(h, st, lo, hi, n, nrhs, ldx, single, known ? &x : nullptr, &exact);

    // The caller's rounding mode must not matter; norva_solve must equal
    // norva_solve_many with one column.
    if (o.env.directed() || single)
        fuzz::check_repeat(h, st, lo, hi, [&](std::vector<double> &l, std::vector<double> &u) {
            return call(false, n, nrhs, a, lda, b, ldb, rp, ldr, l, u, ldx, mode, o);
        });
    return 0;
}
