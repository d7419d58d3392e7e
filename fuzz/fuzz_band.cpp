// Fuzz harness of norva_solve_band.
//
// Bytes: flags, call options, n, kl, ku, the padding of ldab, the mode, the
// band (stored positions outside the matrix hold NaN: they must not be
// read; mirrored into a symmetric band when asked), then b or a known
// solution x with b = A x formed exactly.  A second kind of input pairs
// sizes near 2^64 (kl + ku + 1 wrapping, ldab too small, n rows of ldab
// doubles beyond the address space) with arrays of four doubles: such calls
// must be refused without reading.  Checked: status, -1 exactly for invalid
// arguments with nothing written, status 1 all [-inf, +inf], a proof
// containing the known solution, inputs and environment unchanged, and the
// same bits for a directed caller's rounding mode and for 1 or 2 threads.
#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_band";

// kl + ku + 1 does not wrap and ldab holds it; n rows of ldab doubles fit
// in 64 bits of bytes.
bool sizes_valid(uint64_t n, uint64_t kl, uint64_t ku, uint64_t ldab) {
    if (kl > UINT64_MAX - 1 || ku > UINT64_MAX - 1 - kl || ldab < kl + ku + 1) return false;
    return n <= UINT64_MAX / 8 / ldab;
}

void huge(fuzz::input &in, fuzz::call_options &o) {
    const std::vector<double> ab(4, 1.0), b(4, 1.0);
    std::vector<double> lo = fuzz::blank(4), hi = fuzz::blank(4);
    const uint64_t near_top = UINT64_MAX - in.below(4);
    uint64_t n = 1 + in.below(4), kl = in.below(3), ku = in.below(3), ldab = 1 + in.below(4);
    switch (in.u8() % 4) {
        case 0: kl = near_top; break;
        case 1: ku = near_top - kl; break;
        case 2: ldab = kl + ku; break;  // one short
        default:
            n = UINT64_MAX / 8 / ldab + 1 + in.below(8);
            break;
    }
    if (sizes_valid(n, kl, ku, ldab)) return;  // nothing to test: the arrays would be too short
    const int32_t mode = (int32_t)(in.u8() % 2);
    fuzz::run_checked(h, o.env, true, {&lo, &hi}, [&] {
        return norva_solve_band(n, kl, ku, ab.data(), ldab, b.data(), lo.data(), hi.data(), mode);
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool known = flags & 4, symmetric = flags & 8, dominant = flags & 16;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    if ((flags & 0xe0) == 0xe0) {
        huge(in, o);
        return 0;
    }
    const uint64_t n = in.one_in(16) ? 64 + in.below(16) : 1 + in.below(10);
    uint64_t kl = in.below(5), ku = symmetric ? kl : in.below(5);
    if (in.one_in(16)) kl += n;  // wider than the matrix: clamped
    const uint64_t ldab = kl + ku + 1 + in.below(2);
    const int32_t mode = in.mode(2);

    // Stored positions of the clamped band get entries; the others NaN.
    std::vector<double> ab(n * ldab, std::numeric_limits<double>::quiet_NaN());
    auto at = [&](uint64_t i, uint64_t j) -> double & { return ab[i * ldab + kl + j - i]; };
    auto inside = [&](uint64_t i, uint64_t j) { return j + kl >= i && j <= i + ku; };
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            if (!inside(i, j)) continue;
            if (symmetric && j > i) {
                at(i, j) = at(j, i);
                continue;
            }
            at(i, j) = dominant && i == j ? std::ldexp(1.0, 4 + (int)in.below(6)) : in.value();
        }
    std::vector<double> b(n), x;
    std::vector<char> exact;
    if (known) {
        x = in.finite_values(n);
        // Row i of A as a dense row, then b = A x exactly.
        std::vector<double> dense(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j)
                if (inside(i, j)) dense[i * n + j] = at(i, j);
        fuzz::exact_rhs(n, n, 1, dense.data(), n, x, b.data(), 1, exact);
    } else {
        in.values(b);
    }
    bool invalid = (uint32_t)mode > 1;
    for (uint64_t i = 0; i < n; ++i) {
        invalid |= !fuzz::finite(b[i]);
        for (uint64_t j = 0; j < n; ++j) invalid |= inside(i, j) && !fuzz::finite(at(i, j));
    }

    const fuzz::snapshot inputs{&ab, &b};
    std::vector<double> lo = fuzz::blank(n), hi = fuzz::blank(n);
    auto call = [&](std::vector<double> &l, std::vector<double> &u) {
        return norva_solve_band(n, kl, ku, ab.data(), ldab, b.data(), l.data(), u.data(), mode);
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] { return call(lo, hi); });
    inputs.check(h);
    if (st == -1) return 0;
    fuzz::check_bounds(h, st, lo, hi, n, 1, 1, true, known ? &x : nullptr, &exact);
    if (o.env.directed() || n >= 64) {
        omp_set_num_threads(omp_get_max_threads() == 1 ? 2 : 1);
        fuzz::check_repeat(h, st, lo, hi, call);
    }
    return 0;
}
