// Allocation failures in the summation engine, through the interposer: the
// optional bin and column buffers change nothing (bit-identical results), the
// required widened copies of the float matrix products fail the call with -1
// and no output written, and nothing leaks.  The interposer itself is checked
// first, so that the rest cannot pass vacuously.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qxsum/acc_util.h"
#include "support/alloc_fail.h"
#include "support/alloc_sweep.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"

using namespace testsupport;

namespace {

// Calls through volatile pointers so that the compiler cannot drop or merge
// the allocations of the interposer checks.
void *(*volatile do_malloc)(size_t) = std::malloc;
void *(*volatile do_calloc)(size_t, size_t) = std::calloc;
void (*volatile do_free)(void *) = std::free;

TEST(Interposer, CountsFailsAndTracksBlocks) {
    void *before = do_malloc(8);
    watch_begin(0);
    void *p = do_malloc(16);
    void *q = do_calloc(4, 8);
    do_free(p);
    do_free(before);  // allocated outside the window: not counted
    alloc_stats s = watch_end();
    EXPECT_EQ(s.calls, 2u);
    EXPECT_EQ(s.failed, 0u);
    EXPECT_EQ(s.outstanding, 1u);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(q)[31], 0);
    do_free(q);

    watch_begin(2);
    void *a = do_malloc(32);
    void *b = do_calloc(1, 32);
    void *c = do_malloc(32);
    s = watch_end();
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr) << "the second allocation of the window must fail";
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(s.calls, 3u);
    EXPECT_EQ(s.failed, 1u);
    EXPECT_EQ(s.outstanding, 2u);
    do_free(a);
    do_free(c);
    EXPECT_FALSE(watching());
}

TEST(Interposer, ThreadSafeCounts) {
    const int threads = 4, per = 2000;
    std::vector<void *> kept(threads, nullptr);
    // Creating the team's threads allocates (in a statically linked program,
    // through the interposer): do it before the window.
#pragma omp parallel num_threads(threads)
    { kept[omp_get_thread_num()] = nullptr; }
    watch_begin(0);
#pragma omp parallel num_threads(threads)
    {
        for (int i = 0; i < per; ++i) do_free(do_malloc(24 + (size_t)i % 40));
        kept[omp_get_thread_num()] = do_malloc(8);  // one block per thread left over
    }
    const alloc_stats s = watch_end();
    for (void *p : kept) do_free(p);

    // Later regions allocate nothing that the interposer counts: the OpenMP
    // runtime's own allocations (team records, also for teams of one thread)
    // are passed through.
    volatile int sink = 0;
    watch_begin(0);
    for (int r = 0; r < 3; ++r) {
#pragma omp parallel num_threads(threads)
        { sink = sink + 1; }
#pragma omp parallel num_threads(1)
        { sink = sink + 1; }
#pragma omp parallel for num_threads(threads) schedule(dynamic, 3)
        for (int i = 0; i < 100; ++i) sink = sink + i;
    }
    const alloc_stats quiet = watch_end();
    EXPECT_EQ(quiet.calls, 0u);
    EXPECT_EQ(quiet.outstanding, 0u);
    EXPECT_EQ(s.calls, (uint64_t)(threads * (per + 1)));
    EXPECT_EQ(s.outstanding, (uint64_t)threads);
    EXPECT_FALSE(s.overflow);
}

TEST(Interposer, SweepFlagsLeaksAndUnreachedFailures) {
    // A well-behaved call with three allocations.
    int status = 0;
    auto clean = [&] {
        void *a = do_malloc(8), *b = do_calloc(2, 8), *c = do_malloc(8);
        status = (a && b && c) ? 0 : -1;
        do_free(a);
        do_free(b);
        do_free(c);
    };
    std::vector<int> seen;
    EXPECT_EQ(for_each_allocation_failure(clean, [&](uint64_t k) {
                  seen.push_back(status);
                  EXPECT_EQ(status, k == 0 ? 0 : -1);
              }),
              3u);
    EXPECT_EQ(seen.size(), 4u);
    // A call that leaks its first block when the second allocation fails.
    static void *lost = nullptr;  // freed after the sweep (the leak checker would object)
    auto leaky = [] {
        void *a = do_malloc(8);
        void *b = do_malloc(8);
        if (b == nullptr) {
            lost = a;
            return;
        }
        do_free(a);
        do_free(b);
    };
    EXPECT_NONFATAL_FAILURE(for_each_allocation_failure(leaky, [](uint64_t) {}), "leaked");
    do_free(lost);
}

// Every allocation failure of the scalar operations leaves their results
// unchanged.
TEST(Alloc, SumsAndDotsIdenticalUnderFailures) {
    hard_gen<double> g(81);
    hard_gen<float> gf(82);
    for (size_t n : {size_t(10), size_t(64), size_t(1000), size_t(3000)}) {
        const std::vector<double> x = g.sum_case(n, 2);
        std::vector<double> p, q;
        g.dot_case(n, 3, p, q);
        const std::vector<float> xf = gf.sum_case(n, 3);
        std::vector<float> pf, qf;
        gf.dot_case(n, 2, pf, qf);
        double want[4][2], got[4][2];
        float wantf[4][2], gotf[4][2];
        for (unsigned r = 0; r < 4; ++r) {
            want[r][0] = oracle_sum(x.data(), n, r);
            want[r][1] = oracle_dot(p.data(), q.data(), n, r);
            wantf[r][0] = oracle_sumf(xf.data(), n, r);
            wantf[r][1] = oracle_dotf(pf.data(), qf.data(), n, r);
        }
        const uint64_t calls = for_each_allocation_failure(
            [&] {
                for (unsigned r = 0; r < 4; ++r) {
                    got[r][0] = qxsum(x.data(), n, r);
                    got[r][1] = qxdot(p.data(), q.data(), n, r);
                    gotf[r][0] = qxsumf(xf.data(), n, r);
                    gotf[r][1] = qxdotf(pf.data(), qf.data(), n, r);
                }
            },
            [&](uint64_t) {
                for (unsigned r = 0; r < 4; ++r) {
                    SCOPED_TRACE(::testing::Message() << "n " << n << ", mode " << mode_name(r));
                    EXPECT_TRUE(same_bits(got[r][0], want[r][0])) << "qxsum";
                    EXPECT_TRUE(same_bits(got[r][1], want[r][1])) << "qxdot";
                    EXPECT_TRUE(same_bits(gotf[r][0], wantf[r][0])) << "qxsumf";
                    EXPECT_TRUE(same_bits(gotf[r][1], wantf[r][1])) << "qxdotf";
                }
            });
        if (n >= 64) {
            EXPECT_GE(calls, 4u) << "the binned float dot products allocate their bins";
        }
    }
}

// The binned dot product runs in the thread's own bin buffer: no allocation,
// the same state as the product-by-product path (chunks below 64 terms),
// and the buffer left clean for the next one (a second call agrees).
TEST(Alloc, AccumulatorDotIdenticalWithoutBinBuffer) {
    hard_gen<double> g(83);
    for (int kind = 0; kind < hard_gen<double>::dot_kinds; ++kind) {
        std::vector<double> p, q;
        g.dot_case(500, kind, p, q);
        qxsum_acc ref = qxtest::empty_acc();
        for (size_t i = 0; i < p.size(); i += 50)
            qxsum_add_dot(&ref, p.data() + i, q.data() + i, std::min<size_t>(50, p.size() - i));
        qxsum_acc got;
        for (int again = 0; again < 2; ++again) {
            const uint64_t calls = for_each_allocation_failure(
                [&] {
                    qxsum_init(&got);
                    qxsum_add_dot(&got, p.data(), q.data(), p.size());
                },
                [&](uint64_t) { EXPECT_TRUE(qxtest::same_state(got, ref)) << "kind " << kind; });
            EXPECT_EQ(calls, 0u) << "the thread's bin buffer";
        }
    }
    watch_begin(1);
    uint64_t *bins = qx::dot_bins_alloc();
    const alloc_stats s = watch_end();
    EXPECT_EQ(bins, nullptr);
    EXPECT_EQ(s.failed, 1u);
    qx::dot_bins_free(bins);
}

// The double matrix products: every buffer is optional.
TEST(Alloc, GemvGemmIdenticalUnderFailures) {
    hard_gen<double> g(84);
    for (uint64_t k : {uint64_t(5), uint64_t(64), uint64_t(150)}) {
        const uint64_t m = 3, n = 4, lda = k + 1, ldb = n + 2, ldc = n + 1;
        std::vector<double> A(m * lda), B(k * ldb), C(m * ldc);
        for (auto &v : A) v = g.any();
        for (auto &v : B) v = g.near(0, 40);
        for (auto &v : C) v = g.near(0, 40);
        std::vector<double> want = C, got;
        ASSERT_EQ(qxgemm(m, n, k, A.data(), lda, B.data(), ldb, want.data(), 1.0, ldc, 0), 0);
        int status = 0;
        for_each_allocation_failure(
            [&] {
                got = C;
                status = qxgemm(m, n, k, A.data(), lda, B.data(), ldb, got.data(), 1.0, ldc, 0);
            },
            [&](uint64_t) {
                EXPECT_EQ(status, 0);
                for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(same_bits(got[i], want[i])) << "k " << k << ", " << i;
            });
        // qxgemv, both orientations, on the first k columns... of A as an m x k matrix.
        for (int trans : {0, 1}) {
            const uint64_t outer = trans ? k : m, inner = trans ? m : k;
            std::vector<double> x(inner), y(outer);
            for (auto &v : x) v = g.near(0, 20);
            for (auto &v : y) v = g.any();
            std::vector<double> wy = y, gy;
            ASSERT_EQ(qxgemv(trans, m, k, A.data(), lda, x.data(), wy.data(), 2, -1.0), 0);
            for_each_allocation_failure(
                [&] {
                    gy = y;
                    status = qxgemv(trans, m, k, A.data(), lda, x.data(), gy.data(), 2, -1.0);
                },
                [&](uint64_t) {
                    EXPECT_EQ(status, 0);
                    for (size_t i = 0; i < gy.size(); ++i)
                        EXPECT_TRUE(same_bits(gy[i], wy[i])) << "trans " << trans << ", k " << k << ", " << i;
                });
        }
    }
}

// The float matrix products: a missing widened copy fails the call (-1, no
// output written), a missing bin buffer changes nothing.
TEST(Alloc, FloatProductsFailCleanly) {
    hard_gen<float> g(85);
    for (uint64_t k : {uint64_t(0), uint64_t(5), uint64_t(64), uint64_t(150)}) {
        const uint64_t m = 3, n = 4, lda = k + 1, ldb = n + 2, ldc = n + 1;
        std::vector<float> A(m * lda + 1), B(k * ldb + 1), C(m * ldc);
        for (auto &v : A) v = g.any();
        for (auto &v : B) v = g.near(0, 20);
        for (auto &v : C) v = g.near(0, 20);
        std::vector<float> want = C, got;
        ASSERT_EQ(qxgemmf(m, n, k, A.data(), lda, B.data(), ldb, want.data(), 0.5f, ldc, 1), 0);
        int status = 0, failed_calls = 0, tolerated = 0;
        for_each_allocation_failure(
            [&] {
                got = C;
                status = qxgemmf(m, n, k, A.data(), lda, B.data(), ldb, got.data(), 0.5f, ldc, 1);
            },
            [&](uint64_t f) {
                if (f == 0 || status == 0) {
                    EXPECT_EQ(status, 0);
                    if (f) ++tolerated;
                    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(same_bits(got[i], want[i])) << i;
                } else {
                    EXPECT_EQ(status, -1);
                    ++failed_calls;
                    EXPECT_EQ(std::memcmp(got.data(), C.data(), C.size() * sizeof(float)), 0)
                        << "output written by a failed call";
                }
            });
        EXPECT_GE(failed_calls, 1) << "qxgemmf, k " << k << ": the widened copies are required";
        if (k >= 64) {
            EXPECT_GE(tolerated, 1) << "qxgemmf, k " << k << ": the bin buffer is optional";
        }

        for (int trans : {0, 1}) {
            const uint64_t outer = trans ? k : m, inner = trans ? m : k;
            std::vector<float> x(inner + 1), y(outer + 1);
            for (auto &v : x) v = g.near(0, 20);
            for (auto &v : y) v = g.any();
            std::vector<float> wy = y, gy;
            ASSERT_EQ(qxgemvf(trans, m, k, A.data(), lda, x.data(), wy.data(), 3, 2.0f), 0);
            failed_calls = tolerated = 0;
            for_each_allocation_failure(
                [&] {
                    gy = y;
                    status = qxgemvf(trans, m, k, A.data(), lda, x.data(), gy.data(), 3, 2.0f);
                },
                [&](uint64_t f) {
                    if (f == 0 || status == 0) {
                        EXPECT_EQ(status, 0);
                        if (f) ++tolerated;
                        for (size_t i = 0; i < gy.size(); ++i) EXPECT_TRUE(same_bits(gy[i], wy[i])) << i;
                    } else {
                        EXPECT_EQ(status, -1);
                        ++failed_calls;
                        EXPECT_EQ(std::memcmp(gy.data(), y.data(), y.size() * sizeof(float)), 0)
                            << "output written by a failed call";
                    }
                });
            EXPECT_GE(failed_calls, 1) << "qxgemvf, trans " << trans << ", k " << k;
            if (inner >= 64) {
                EXPECT_GE(tolerated, 1) << "qxgemvf, trans " << trans << ", k " << k;
            }
        }
    }
}

}  // namespace
