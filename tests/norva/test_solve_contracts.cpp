// The contracts of norva_solve and norva_solve_many: argument checks (in
// their documented order, with nothing written and the environment
// untouched), the largest finite double, singular matrices, a caller's
// approximate inverse, allocation failures at every allocation, the caller's
// rounding mode and flags, thread counts, norva_solve against
// norva_solve_many, columns solved together or alone, the identity over a
// wide range of magnitudes, and a right-hand side whose solution overflows.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <vector>

#include "norva.h"
#include "norva/dense.h"
#include "norva/solve.h"
#include "solve_testing.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using namespace solvetest;
using testsupport::scaled;

constexpr double qnan = std::numeric_limits<double>::quiet_NaN();

dense_system random_dominant(uint64_t n, uint64_t nrhs, uint64_t seed) {
    rng g(seed);
    dense_system s = make_system(n, nrhs, 2, 1);
    fill_real(s, real_kind::dominant, g);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t k = 0; k < nrhs; ++k) s.B(i, k) = g.uniform();
    return s;
}

// Rows of a result beyond nrhs (the padding of ldx) are never written.
::testing::AssertionResult padding_untouched(const result &r) {
    for (uint64_t i = 0; i < r.n; ++i)
        for (uint64_t k = r.nrhs; k < r.ldx; ++k)
            if (!same_bits(r.L(i, k), sentinel) || !same_bits(r.H(i, k), sentinel))
                return ::testing::AssertionFailure() << "padding written in row " << i;
    return ::testing::AssertionSuccess();
}

bool all_unproven(const result &r) {
    for (uint64_t k = 0; k < r.nrhs; ++k)
        if (!r.unproven(k)) return false;
    return true;
}

// ---- argument checks ----------------------------------------------------------

struct rejected_call {
    int32_t rc;
    int flags, round;
    bool untouched;
};

// Calls norva_solve_many under upward rounding with every flag clear.
rejected_call call_upward(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda,
                          const double *b, uint64_t ldb, int32_t mode) {
    std::vector<double> lo(64, sentinel), hi(64, sentinel);
    std::fesetround(FE_UPWARD);
    std::feclearexcept(FE_ALL_EXCEPT);
    rejected_call c;
    c.rc = norva_solve_many(n, nrhs, a, lda, b, ldb, nullptr, 0, lo.data(), hi.data(), nrhs, mode,
                            nullptr, nullptr);
    c.flags = std::fetestexcept(FE_ALL_EXCEPT);
    c.round = std::fegetround();
    std::fesetround(FE_TONEAREST);
    c.untouched = true;
    for (size_t q = 0; q < lo.size(); ++q)
        if (!same_bits(lo[q], sentinel) || !same_bits(hi[q], sentinel)) c.untouched = false;
    return c;
}

#define EXPECT_REJECTED(call)                                                    \
    do {                                                                         \
        const rejected_call c_ = (call);                                         \
        EXPECT_EQ(c_.rc, -1);                                                    \
        EXPECT_EQ(c_.flags, 0) << "exception flags raised by the checks";       \
        EXPECT_EQ(c_.round, FE_UPWARD);                                          \
        EXPECT_TRUE(c_.untouched) << "output written by a rejected call";       \
    } while (0)

TEST(SolveArguments, InvalidArgumentsWriteNothingAndKeepTheEnvironment) {
    dense_system s = random_dominant(4, 2, 1);
    const double *a = s.a.data(), *b = s.b.data();
    EXPECT_REJECTED(call_upward(0, 2, a, s.lda, b, s.ldb, 0));
    EXPECT_REJECTED(call_upward(4, 0, a, s.lda, b, s.ldb, 0));
    for (int32_t mode : {3, -1, INT32_MIN, INT32_MAX, 1 << 16})
        EXPECT_REJECTED(call_upward(4, 2, a, s.lda, b, s.ldb, mode));
    // Every non-finite value, anywhere in a or b.  The signalling NaN would
    // raise the invalid flag in an ordinary comparison.
    const double bad[] = {qnan, -qnan, inf, -inf, std::numeric_limits<double>::signaling_NaN()};
    for (double v : bad)
        for (uint64_t where : {0ull, 5ull, 15ull}) {
            dense_system t = s;
            t.A(where / 4, where % 4) = v;
            EXPECT_REJECTED(call_upward(4, 2, t.a.data(), t.lda, t.b.data(), t.ldb, 1));
            t = s;
            t.B(where % 4, where % 2) = v;
            EXPECT_REJECTED(call_upward(4, 2, t.a.data(), t.lda, t.b.data(), t.ldb, 2));
        }
    // The padding between rows is not an input.
    const rejected_call ok = call_upward(4, 2, a, s.lda, b, s.ldb, 0);
    EXPECT_EQ(ok.rc, 0);
    EXPECT_EQ(ok.round, FE_UPWARD);
    EXPECT_EQ(ok.flags, 0);

    // norva_solve makes the same checks.
    double lo[4] = {sentinel, sentinel, sentinel, sentinel}, hi[4] = {sentinel, sentinel, sentinel, sentinel};
    const double b1[4] = {1, 2, 3, qnan};
    EXPECT_EQ(norva_solve(0, a, s.lda, b1, nullptr, 0, lo, hi, 0, nullptr, nullptr), -1);
    EXPECT_EQ(norva_solve(4, a, s.lda, b1, nullptr, 0, lo, hi, 0, nullptr, nullptr), -1);
    const double b2[4] = {1, 2, 3, 4};
    EXPECT_EQ(norva_solve(4, a, s.lda, b2, nullptr, 0, lo, hi, 3, nullptr, nullptr), -1);
    EXPECT_EQ(norva_solve(4, a, s.lda, b2, nullptr, 0, lo, hi, -1, nullptr, nullptr), -1);
    for (int q = 0; q < 4; ++q) EXPECT_TRUE(same_bits(lo[q], sentinel) && same_bits(hi[q], sentinel));
}

// The documented order: row by row, the entries of b in row i before those
// of a in row i, returning at the first failure.  Memory behind a guard page
// shows which entries were read.
class guarded {
public:
    guarded() {
        page_ = (size_t)sysconf(_SC_PAGESIZE);
        mem_ = (char *)mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                            -1, 0);
        if (mem_ == MAP_FAILED) std::abort();
        if (mprotect(mem_ + page_, page_, PROT_NONE) != 0) std::abort();
    }
    ~guarded() { munmap(mem_, 2 * page_); }
    // The last `count` doubles before the guard page; reading one past them faults.
    double *tail(size_t count) { return (double *)(mem_ + page_) - count; }
    const double *forbidden() const { return (const double *)(mem_ + page_); }

private:
    size_t page_;
    char *mem_;
};

TEST(SolveArguments, ChecksFollowTheDocumentedOrder) {
    double lo[4], hi[4];
    const double fine[4] = {1, 0, 0, 1};
    // b row 0 is checked before a row 0: a is never read.
    {
        guarded g;
        const double b[2] = {qnan, 1};
        EXPECT_EQ(norva_solve_many(2, 1, g.forbidden(), 2, b, 1, nullptr, 0, lo, hi, 1, 0, nullptr,
                                   nullptr),
                  -1);
    }
    // A failure in a row 0 returns before b row 1 is read.
    {
        guarded g;
        double *b = g.tail(1);
        b[0] = 1;  // b row 1 would be the first double of the guard page
        const double a[4] = {1, qnan, 0, 1};
        EXPECT_EQ(norva_solve_many(2, 1, a, 2, b, 1, nullptr, 0, lo, hi, 1, 0, nullptr, nullptr), -1);
    }
    // b row 1 is checked before a row 1.
    {
        guarded g;
        double *a = g.tail(2);  // a row 0; row 1 lies in the guard page
        a[0] = 1;
        a[1] = 0;
        const double b[2] = {1, inf};
        EXPECT_EQ(norva_solve_many(2, 1, a, 2, b, 1, nullptr, 0, lo, hi, 1, 0, nullptr, nullptr), -1);
    }
    // The mode is checked before any entry.
    {
        guarded g;
        EXPECT_EQ(norva_solve_many(2, 1, g.forbidden(), 2, g.forbidden(), 1, nullptr, 0, lo, hi, 1,
                                   3, nullptr, nullptr),
                  -1);
    }
    EXPECT_EQ(norva_solve_many(2, 1, fine, 2, fine, 2, nullptr, 0, lo, hi, 1, 0, nullptr, nullptr), 0);
}

TEST(SolveArguments, LargestFiniteDoubleIsAccepted) {
    // [DBL_MAX] x = [DBL_MAX]: x = 1.
    dense_system s = make_system(1, 1);
    s.A(0, 0) = dmax;
    s.B(0, 0) = dmax;
    exact_solution one{1, 1, {1.0}};
    // diag(DBL_MAX, -2) x = (-DBL_MAX, DBL_MAX): x = (-1, -DBL_MAX / 2).
    dense_system t = make_system(2, 1);
    t.A(0, 0) = dmax;
    t.A(0, 1) = 0;
    t.A(1, 0) = 0;
    t.A(1, 1) = -2;
    t.B(0, 0) = -dmax;
    t.B(1, 0) = dmax;
    exact_solution two{2, 1, {-1.0, -dmax / 2}};
    // With -1 instead of -2, x = (-1, -DBL_MAX): the lower end of any
    // enclosure wider than a point lies beyond the doubles, so the column
    // is not proven (no half-infinite bound comes with status 0).
    dense_system edge = t;
    edge.A(1, 1) = -1;
    for (int32_t mode = 0; mode < 3; ++mode) {
        const result r = run(s, mode);
        ASSERT_TRUE(sound(r, one)) << "mode " << mode;
        EXPECT_EQ(r.status, 0) << "mode " << mode;
        const result q = run(t, mode);
        ASSERT_TRUE(sound(q, two)) << "mode " << mode;
        EXPECT_EQ(q.status, 0) << "mode " << mode;
        const result e = run(edge, mode);
        EXPECT_EQ(e.status, 1) << "mode " << mode;
        EXPECT_TRUE(e.unproven(0)) << "mode " << mode;
    }
}

// ---- singular matrices and the caller's inverse -------------------------------

TEST(SolveSingular, ZeroPivotFailsEveryEnclosure) {
    std::vector<dense_system> cases;
    dense_system s = make_system(2, 2, 1, 0);
    s.A(0, 0) = 1, s.A(0, 1) = 2, s.A(1, 0) = 2, s.A(1, 1) = 4;  // rank one, exact zero pivot
    s.B(0, 0) = 1, s.B(1, 0) = 2, s.B(0, 1) = 0, s.B(1, 1) = 1;
    cases.push_back(s);
    dense_system z = make_system(3, 1);
    for (auto &v : z.a) v = 0.0;
    for (auto &v : z.b) v = 1.0;
    cases.push_back(z);
    dense_system c = random_dominant(6, 3, 7);  // a zero column
    for (uint64_t i = 0; i < 6; ++i) c.A(i, 4) = (i % 2) ? -0.0 : 0.0;
    cases.push_back(c);
    for (const auto &sys : cases)
        for (int32_t mode = 0; mode < 3; ++mode) {
            const result r = run(sys, mode);
            EXPECT_EQ(r.status, 1) << "n " << sys.n << " mode " << mode;
            EXPECT_TRUE(all_unproven(r)) << "n " << sys.n << " mode " << mode;
            EXPECT_TRUE(padding_untouched(r));
        }
}

TEST(SolveCallerInverse, GoodPoorZeroAndNonFinite) {
    for (uint64_t n : {1ull, 5ull, 40ull}) {
        const dense_system s = random_dominant(n, 2, 100 + n);
        mp_solution ref(s);
        // The library's own inverse, given back with a padded leading dimension.
        std::vector<double> R(n * n);
        ASSERT_EQ(norva::inverse(n, s.a.data(), s.lda, R.data()), 0);
        const uint64_t ldr = n + 3;
        std::vector<double> r(n * ldr, qnan);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) r[i * ldr + j] = R[i * n + j];
        // A poor inverse: the identity (W = |I - A| has row sums near n).
        std::vector<double> eye(n * n, 0.0), zero(n * n, 0.0), nanr = R;
        for (uint64_t i = 0; i < n; ++i) eye[i * n + i] = 1.0;
        nanr[n * n / 2] = qnan;
        std::vector<double> infr = R;
        infr[0] = -inf;
        for (int32_t mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " mode " << mode);
            const result own = run(s, mode);
            ASSERT_EQ(own.status, 0);
            const result given = run(s, mode, nullptr, nullptr, r.data(), ldr);
            EXPECT_TRUE(identical(given, own)) << "r = the library's inverse";
            // One improvement attempt (modes 0, 1) or the refinement of the
            // double-length inverse (mode 2) repairs R = I.
            const result poor = run(s, mode, nullptr, nullptr, eye.data(), n);
            EXPECT_TRUE(sound(poor, ref));
            EXPECT_EQ(poor.status, 0) << "r = I";
            // R = 0: R A = 0 has a zero pivot, the attempt is abandoned, and
            // W has diagonal entries just above 1: nothing can be proven.
            const result none = run(s, mode, nullptr, nullptr, zero.data(), n);
            EXPECT_EQ(none.status, 1) << "r = 0";
            EXPECT_TRUE(all_unproven(none)) << "r = 0";
            // The caller's r is not checked; a NaN or an infinity in it must
            // not lead to a false proof.
            for (const auto *bad : {&nanr, &infr}) {
                if (n == 1 && bad == &nanr) continue;
                const result q = run(s, mode, nullptr, nullptr, bad->data(), n);
                EXPECT_TRUE(sound(q, ref)) << "non-finite r";
                EXPECT_TRUE(padding_untouched(q));
            }
        }
    }
}

// ---- allocation failures ----------------------------------------------------------

// Each allocation of a call fails in turn: the call still returns 0 or 1,
// never crashes or leaks, and every column is either proven (and sound) or
// [-inf, +inf].
void sweep(const dense_system &s, int32_t mode, const double *r, uint64_t ldr, bool radii) {
    mp_solution ref(s);
    result out = blank_result(s.n, s.nrhs, s.nrhs);
    std::vector<double> ra(s.n * s.n, 0.0), rb(s.n * s.nrhs, 0.0);
    auto call = [&] {
        if (radii)
            out.status = norva::solve(s.n, s.nrhs, s.a.data(), s.lda, s.b.data(), s.ldb, ra.data(),
                                      rb.data(), r, ldr, out.lo.data(), out.hi.data(), out.ldx,
                                      mode, nullptr, nullptr);
        else
            out.status = norva_solve_many(s.n, s.nrhs, s.a.data(), s.lda, s.b.data(), s.ldb, r, ldr,
                                          out.lo.data(), out.hi.data(), out.ldx, mode, nullptr,
                                          nullptr);
    };
    uint64_t failed_runs = 0;
    const uint64_t calls = testsupport::for_each_allocation_failure(call, [&](uint64_t k) {
        EXPECT_TRUE(sound(out, ref));
        if (k == 0) {
            EXPECT_EQ(out.status, 0);
        }
        if (out.status == 1) ++failed_runs;
    });
    // R, W, the vectors and the inverse's scratch at least (short exact
    // products need no scratch of their own).
    EXPECT_GE(calls, 4u);
    // Most allocations are needed for the proof; failing them must show.
    EXPECT_GT(failed_runs, 0u);
}

TEST(SolveAllocation, EveryAllocationFailing) {
    const dense_system s = random_dominant(5, 2, 11);
    for (int32_t mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        sweep(s, mode, nullptr, 0, false);
    }
    // With R = I the improvement attempt (or the refinement) runs and its
    // allocations fail too.
    std::vector<double> eye(25, 0.0);
    for (int i = 0; i < 5; ++i) eye[i * 6] = 1.0;
    for (int32_t mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(::testing::Message() << "R = I, mode " << mode);
        sweep(s, mode, eye.data(), 5, false);
    }
    // Nine right-hand sides: the blocked path forms its residuals with the
    // Ozaki product.
    const dense_system m = random_dominant(4, 9, 12);
    {
        SCOPED_TRACE("nine right-hand sides, mode 1");
        sweep(m, 1, nullptr, 0, false);
    }
    // The radius branch (interval systems with zero radii).
    for (int32_t mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(::testing::Message() << "radii, mode " << mode);
        sweep(s, mode, nullptr, 0, true);
    }
}

// ---- environment and threads ---------------------------------------------------------

TEST(SolveEnvironment, CallerRoundingModeAndFlagsAreIrrelevantAndKept) {
    const dense_system s = random_dominant(70, 3, 21);
    const int modes[] = {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    for (int32_t mode = 0; mode < 3; ++mode) {
        const result want = run(s, mode);
        ASSERT_EQ(want.status, 0);
        for (int rm : modes) {
            result got = blank_result(s.n, s.nrhs, s.nrhs + 1);
            std::fesetround(rm);
            std::feclearexcept(FE_ALL_EXCEPT);
            got.status = norva_solve_many(s.n, s.nrhs, s.a.data(), s.lda, s.b.data(), s.ldb, nullptr,
                                          0, got.lo.data(), got.hi.data(), got.ldx, mode, nullptr,
                                          nullptr);
            const int flags = std::fetestexcept(FE_ALL_EXCEPT), after = std::fegetround();
            std::fesetround(FE_TONEAREST);
            EXPECT_EQ(after, rm) << "mode " << mode;
            EXPECT_EQ(flags, 0) << "mode " << mode << ": flags raised inside leaked out";
            EXPECT_TRUE(identical(got, want)) << "mode " << mode << ", rounding " << rm;
        }
    }
}

TEST(SolveThreads, IdenticalForOneTwoAndThreeThreads) {
    // Order 260: every region of the per-column path runs in parallel (the
    // update from 256 on, the exact kernels from 64 on).  The nearly
    // singular matrix also runs the improvement attempt and the refinement.
    const uint64_t n = 260;
    rng g(31);
    dense_system well = random_dominant(n, 2, 32);
    dense_system hard = make_system(n, 2, 1, 0);
    fill_real(hard, real_kind::near_singular, g);
    for (uint64_t i = 0; i < n; ++i) hard.B(i, 0) = g.uniform(), hard.B(i, 1) = 1.0;
    const int saved = omp_get_max_threads();
    for (const dense_system *s : {&well, &hard})
        for (int32_t mode = 0; mode < 3; ++mode) {
            if (s == &hard && mode == 2 && testsupport::test_scale() < 1) continue;
            omp_set_num_threads(1);
            const result one = run(*s, mode);
            omp_set_num_threads(2);
            const result two = run(*s, mode);
            omp_set_num_threads(3);
            const result three = run(*s, mode);
            omp_set_num_threads(saved);
            EXPECT_TRUE(identical(two, one)) << "mode " << mode;
            EXPECT_TRUE(identical(three, one)) << "mode " << mode;
            if (s == &well) {
                EXPECT_EQ(one.status, 0) << "mode " << mode;
            }
        }
}

// ---- one and many right-hand sides ---------------------------------------------------------

TEST(SolveMany, SolveIsSolveManyWithOneColumnAndColumnsAreIndependent) {
    for (uint64_t n : {1ull, 6ull, 33ull, 70ull}) {
        rng g(40 + n);
        // Mixed difficulty: a nearly singular matrix for n = 33.
        dense_system s = make_system(n, 8, 1, 2);
        fill_real(s, n == 33 ? real_kind::near_singular : real_kind::uniform, g);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < 8; ++k) s.B(i, k) = std::ldexp(g.uniform(), 40 * (int)k - 150);
        for (int32_t mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " mode " << mode);
            const result all = run(s, mode);
            dense_system seven = s;  // the first seven columns only (row residuals)
            seven.nrhs = 7;
            const result first7 = run(seven, mode);
            for (uint64_t k = 0; k < 8; ++k) {
                std::vector<double> bk(n), lo(n, sentinel), hi(n, sentinel), lo2(n, sentinel),
                    hi2(n, sentinel);
                for (uint64_t i = 0; i < n; ++i) bk[i] = s.B(i, k);
                const int32_t st = norva_solve(n, s.a.data(), s.lda, bk.data(), nullptr, 0, lo.data(),
                                               hi.data(), mode, nullptr, nullptr);
                const int32_t st2 = norva_solve_many(n, 1, s.a.data(), s.lda, bk.data(), 1, nullptr, 0,
                                                     lo2.data(), hi2.data(), 1, mode, nullptr, nullptr);
                EXPECT_EQ(st, st2);
                bool col_unproven = true;
                for (uint64_t i = 0; i < n; ++i) {
                    EXPECT_TRUE(same_bits(lo[i], lo2[i]) && same_bits(hi[i], hi2[i]));
                    // The column in the 8-column call (Ozaki residuals in mode
                    // 1) and in the 7-column call (row residuals) is the same.
                    EXPECT_TRUE(same_bits(all.L(i, k), lo[i]) && same_bits(all.H(i, k), hi[i]))
                        << "column " << k << " row " << i;
                    if (k < 7) {
                        EXPECT_TRUE(same_bits(first7.L(i, k), lo[i]) &&
                                    same_bits(first7.H(i, k), hi[i]));
                    }
                    col_unproven = col_unproven && lo[i] == -inf && hi[i] == inf;
                }
                EXPECT_EQ(st, col_unproven ? 1 : 0);
            }
        }
    }
}

// ---- special right-hand sides --------------------------------------------------------------

TEST(SolveIdentity, EnclosuresArePredecessorAndSuccessor) {
    const uint64_t n = 41;
    dense_system s = make_system(n, 1, 3, 0);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) s.A(i, j) = i == j ? 1.0 : 0.0;
    for (uint64_t i = 0; i < n; ++i) {
        const double mag = std::pow(10.0, -100.0 + 5.0 * (double)i);  // 1e-100 .. 1e100
        s.B(i, 0) = (i % 3 == 1) ? -mag : mag;
    }
    for (int32_t mode = 0; mode < 3; ++mode) {
        const result r = run(s, mode);
        ASSERT_EQ(r.status, 0) << "mode " << mode;
        for (uint64_t i = 0; i < n; ++i) {
            EXPECT_TRUE(same_bits(r.L(i, 0), std::nextafter(s.B(i, 0), -inf))) << "mode " << mode << " row " << i;
            EXPECT_TRUE(same_bits(r.H(i, 0), std::nextafter(s.B(i, 0), inf))) << "mode " << mode << " row " << i;
        }
        EXPECT_TRUE(padding_untouched(r));
    }
}

TEST(SolveOverflow, OverflowingColumnFailsAloneAndIsolated) {
    // A = diag(1/2, 1/4, 1/8): the second column, b = DBL_MAX, has x = 2^k DBL_MAX.
    dense_system s = make_system(3, 2, 0, 1);
    exact_solution ref{3, 2, std::vector<double>(6)};
    for (uint64_t i = 0; i < 3; ++i) {
        for (uint64_t j = 0; j < 3; ++j) s.A(i, j) = i == j ? std::ldexp(1.0, -(int)i - 1) : 0.0;
        s.B(i, 0) = 3.0 * (double)(i + 1);
        s.B(i, 1) = i == 1 ? -dmax : dmax;
        ref.x[i * 2] = std::ldexp(s.B(i, 0), (int)i + 1);
        ref.x[i * 2 + 1] = 0;  // not used: the column must be unproven
    }
    for (int32_t mode = 0; mode < 3; ++mode) {
        const result r = run(s, mode);
        EXPECT_EQ(r.status, 1) << "mode " << mode;
        EXPECT_TRUE(r.unproven(1)) << "mode " << mode;
        ASSERT_FALSE(r.unproven(0)) << "mode " << mode;
        for (uint64_t i = 0; i < 3; ++i) {
            EXPECT_LE(r.L(i, 0), ref.x[i * 2]);
            EXPECT_GE(r.H(i, 0), ref.x[i * 2]);
        }
        EXPECT_TRUE(padding_untouched(r));
    }
}

}  // namespace
