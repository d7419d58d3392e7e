// Threaded use: many OpenMP threads, each with its own accumulators, running
// binned sums (the per-thread bin table) and binned dot products at the same
// time give bit for bit the results of a serial run, which are themselves
// checked against MPFR.
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cstring>
#include <vector>

#include "qxsum/qxsum.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

using namespace testsupport;

namespace {

struct work {
    std::vector<double> x, p, q;
    std::vector<float> xf, pf, qf;
};

constexpr int per_job = 4 * 6;

// Every result of one job: four modes of qxsum, qxdot, qxsumf, qxdotf, and
// of an accumulator filled by two binned adds, a binned dot product and a
// merge, rounded to double and to float.
void run_job(const work &w, uint64_t *out) {
    const size_t n = w.x.size();
    qxsum_acc a, b;
    qxsum_init(&a);
    qxsum_init(&b);
    qxsum_add(&a, w.x.data(), n / 2);
    qxsum_add_dot(&b, w.p.data(), w.q.data(), w.p.size());
    qxsum_add(&a, w.x.data() + n / 2, n - n / 2);
    qxsum_merge(&a, &b);
    for (unsigned r = 0; r < 4; ++r) {
        uint64_t *o = out + 6 * r;
        o[0] = std::bit_cast<uint64_t>(qxsum(w.x.data(), n, r));
        o[1] = std::bit_cast<uint64_t>(qxdot(w.p.data(), w.q.data(), w.p.size(), r));
        o[2] = std::bit_cast<uint32_t>(qxsumf(w.xf.data(), w.xf.size(), r));
        o[3] = std::bit_cast<uint32_t>(qxdotf(w.pf.data(), w.qf.data(), w.pf.size(), r));
        o[4] = std::bit_cast<uint64_t>(qxsum_round(&a, r));
        o[5] = std::bit_cast<uint32_t>(qxsum_roundf(&a, r));
    }
}

TEST(Threads, ParallelAccumulatorsMatchSerial) {
    hard_gen<double> g(61);
    hard_gen<float> gf(62);
    const int jobs = scaled(96, 16);
    std::vector<work> ws(jobs);
    for (int i = 0; i < jobs; ++i) {
        const size_t n = (size_t)g.irange(128, 2500);  // binned: both halves >= 64
        ws[i].x = g.sum_case(n, i % hard_gen<double>::sum_kinds);
        g.dot_case((size_t)g.irange(64, 1500), (i + 3) % hard_gen<double>::dot_kinds, ws[i].p, ws[i].q);
        ws[i].xf = gf.sum_case((size_t)g.irange(64, 2500), (i + 5) % hard_gen<float>::sum_kinds);
        gf.dot_case((size_t)g.irange(64, 2500), (i + 7) % hard_gen<float>::dot_kinds, ws[i].pf, ws[i].qf);
    }
    std::vector<uint64_t> serial((size_t)jobs * per_job);
    for (int i = 0; i < jobs; ++i) run_job(ws[i], &serial[(size_t)i * per_job]);

    // The serial results are right.
    for (int i = 0; i < jobs; i += 3) {
        const work &w = ws[i];
        exact_total acc;
        for (size_t l = 0; l < w.x.size(); ++l) acc.add(w.x[l]);
        for (size_t l = 0; l < w.p.size(); ++l) acc.add_product(w.p[l], w.q[l]);
        for (unsigned r = 0; r < 4; ++r) {
            const uint64_t *o = &serial[(size_t)i * per_job + 6 * r];
            SCOPED_TRACE(::testing::Message() << "job " << i << ", mode " << mode_name(r));
            EXPECT_TRUE(same_bits(std::bit_cast<double>(o[0]), oracle_sum(w.x.data(), w.x.size(), r)));
            EXPECT_TRUE(same_bits(std::bit_cast<double>(o[1]), oracle_dot(w.p.data(), w.q.data(), w.p.size(), r)));
            EXPECT_TRUE(same_bits(std::bit_cast<float>((uint32_t)o[2]), oracle_sumf(w.xf.data(), w.xf.size(), r)));
            EXPECT_TRUE(same_bits(std::bit_cast<float>((uint32_t)o[3]),
                                  oracle_dotf(w.pf.data(), w.qf.data(), w.pf.size(), r)));
            EXPECT_TRUE(same_bits(std::bit_cast<double>(o[4]), acc.round(r)));
            EXPECT_TRUE(same_bits(std::bit_cast<float>((uint32_t)o[5]), acc.roundf(r)));
        }
    }

    for (int threads : {2, 4, 7}) {
        for (int round = 0; round < 2; ++round) {
            std::vector<uint64_t> par((size_t)jobs * per_job, 0);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
            for (int i = 0; i < jobs; ++i) run_job(ws[i], &par[(size_t)i * per_job]);
            for (int i = 0; i < jobs; ++i)
                for (int q = 0; q < per_job; ++q)
                    ASSERT_EQ(par[(size_t)i * per_job + q], serial[(size_t)i * per_job + q])
                        << threads << " threads, job " << i << ", result " << q;
        }
    }
    // And again serially on this thread after the parallel regions.
    std::vector<uint64_t> again((size_t)jobs * per_job);
    for (int i = 0; i < jobs; ++i) run_job(ws[i], &again[(size_t)i * per_job]);
    EXPECT_EQ(std::memcmp(again.data(), serial.data(), again.size() * sizeof(uint64_t)), 0);
}

}  // namespace
