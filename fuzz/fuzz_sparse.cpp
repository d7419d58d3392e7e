// Fuzz harness of norva_solve_sparse.
//
// Bytes: flags, call options, n, the mode, then per row a count of entries
// and their columns (any column below n + 2, so out-of-range and repeated
// columns come up) and values; optionally a symmetric pattern and values
// (each entry mirrored), a dominant diagonal, a corrupted row_ptr (first
// entry not 0, or one row start decreasing), and b or a known solution x
// with b = A x formed exactly.  Checked: status, -1 exactly for invalid
// arguments with nothing written (memory does not run out at these sizes
// and the band stays narrow), status 1 all [-inf, +inf], a proof containing
// the known solution, inputs and environment unchanged, and the same bits
// for a directed caller's rounding mode and for 1 or 2 threads.  The same
// matrix goes to norva_spd_sparse (check_spd).
#include <map>

#include "fuzz_common.h"

namespace {

constexpr const char *h = "fuzz_sparse";

// norva_spd_sparse on the same matrix: -1 exactly for the structural checks
// (b plays no part) or a matrix not symmetric in pattern and values (+0 and
// -0 equal), with *lower untouched; a proof gives 0 <= lower <= every
// diagonal entry (e_i^T A e_i >= lambda_min; 0 when the bound of a badly
// scaled matrix underflows); status 1 never a positive
// bound; the same bits on a repeated call under another rounding mode.
void check_spd(uint64_t n, const std::vector<uint64_t> &row_ptr, const std::vector<uint64_t> &col,
               const std::vector<double> &val, int32_t mode, fuzz::call_options &o) {
    bool invalid = row_ptr[0] != 0 || (uint32_t)mode > 1;
    std::map<std::pair<uint64_t, uint64_t>, double> entries;
    for (uint64_t i = 0; i < n && !invalid; ++i) {
        invalid |= row_ptr[i + 1] < row_ptr[i];
        for (uint64_t e = row_ptr[i]; e < row_ptr[i + 1] && !invalid; ++e) {
            invalid |= col[e] >= n || !fuzz::finite(val[e]);
            for (uint64_t f = row_ptr[i]; f < e; ++f) invalid |= col[f] == col[e];
            entries[{i, col[e]}] = val[e];
        }
    }
    double diag_min = std::numeric_limits<double>::infinity();
    for (uint64_t i = 0; i < n && !invalid; ++i) {
        const auto d = entries.find({i, i});
        diag_min = std::min(diag_min, d == entries.end() ? 0.0 : d->second);
    }
    for (const auto &[ij, v] : entries) {
        const auto m = entries.find({ij.second, ij.first});
        invalid |= m == entries.end() || !(m->second == v);
    }
    std::vector<double> lower = fuzz::blank(1);
    auto call = [&](std::vector<double> &l, std::vector<double> &) {
        return norva_spd_sparse(n, row_ptr.data(), col.data(), val.data(), l.data(), mode);
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lower}, [&] { return call(lower, lower); });
    if (st == -1) return;
    if (st == 0 && !(lower[0] >= 0 && lower[0] <= diag_min))
        fuzz::broken(h, "norva_spd_sparse: a proven bound above a diagonal entry or negative");
    if (st == 1 && lower[0] > 0) fuzz::broken(h, "norva_spd_sparse: status 1 with a positive bound");
    if (o.env.directed()) {
        std::vector<double> again = fuzz::blank(1);
        if (call(again, again) != st || !fuzz::same_bytes(lower, again))
            fuzz::broken(h, "norva_spd_sparse: results depend on the caller's rounding mode");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::input in(data, size);
    const uint8_t flags = in.u8();
    const bool known = flags & 4, symmetric = flags & 8, dominant = flags & 16;
    const uint8_t corrupt = (flags >> 5) == 7 ? 1 + in.u8() % 2 : 0;
    in.specials = flags & 2;
    fuzz::call_options o(in);
    const uint64_t n = in.one_in(16) ? 64 + in.below(16) : 1 + in.below(10);
    const int32_t mode = in.mode(2);

    // Rows as lists of (column, value) in the order given.
    std::vector<std::vector<std::pair<uint64_t, double>>> rows(n);
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t count = in.below(4);
        for (uint64_t e = 0; e < count; ++e) {
            const uint64_t j = in.one_in(32) ? n + in.below(2) : in.below(n);
            const double v = in.value();
            rows[i].push_back({j, v});
            if (symmetric && j < n && j != i) rows[j].push_back({i, v});
        }
        if (dominant) rows[i].push_back({i, std::ldexp(1.0, 3 + (int)in.below(6))});
    }
    std::vector<uint64_t> row_ptr(n + 1, 0), col;
    std::vector<double> val;
    for (uint64_t i = 0; i < n; ++i) {
        for (const auto &[j, v] : rows[i]) {
            col.push_back(j);
            val.push_back(v);
        }
        row_ptr[i + 1] = col.size();
    }
    uint64_t bad_row = n;  // the first row whose start decreases
    if (corrupt == 1) row_ptr[0] = 1 + in.below(3);
    if (corrupt == 2) {
        bad_row = in.below(n);
        if (row_ptr[bad_row] > 0) row_ptr[bad_row + 1] = row_ptr[bad_row] - 1;
        else bad_row = n;
    }

    std::vector<double> b(n), x;
    std::vector<char> exact;
    if (known) {
        x = in.finite_values(n);
        std::vector<double> dense(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (const auto &[j, v] : rows[i])
                if (j < n) dense[i * n + j] = v;
        fuzz::exact_rhs(n, n, 1, dense.data(), n, x, b.data(), 1, exact);
    } else {
        in.values(b);
    }
    // The checks row by row, as documented, up to the first failure.
    bool invalid = row_ptr[0] != 0 || (uint32_t)mode > 1;
    for (uint64_t i = 0; i < n && !invalid; ++i) {
        if (i == bad_row || !fuzz::finite(b[i])) {
            invalid = true;
            break;
        }
        for (uint64_t e = row_ptr[i]; e < row_ptr[i + 1]; ++e) {
            invalid |= col[e] >= n || !fuzz::finite(val[e]);
            for (uint64_t f = row_ptr[i]; f < e; ++f) invalid |= col[f] == col[e];
        }
    }

    const std::vector<uint64_t> rp0 = row_ptr, col0 = col;
    const fuzz::snapshot inputs{&val, &b};
    std::vector<double> lo = fuzz::blank(n), hi = fuzz::blank(n);
    auto call = [&](std::vector<double> &l, std::vector<double> &u) {
        return norva_solve_sparse(n, row_ptr.data(), col.data(), val.data(), b.data(), l.data(),
                                  u.data(), mode);
    };
    const int32_t st = fuzz::run_checked(h, o.env, invalid, {&lo, &hi}, [&] { return call(lo, hi); });
    inputs.check(h);
    if (rp0 != row_ptr || col0 != col) fuzz::broken(h, "the structure was modified");
    check_spd(n, row_ptr, col, val, mode, o);
    if (st == -1) return 0;
    fuzz::check_bounds(h, st, lo, hi, n, 1, 1, true, known ? &x : nullptr, &exact);
    if (o.env.directed() || n >= 64) {
        omp_set_num_threads(omp_get_max_threads() == 1 ? 2 : 1);
        fuzz::check_repeat(h, st, lo, hi, call);
    }
    return 0;
}
