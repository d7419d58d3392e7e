// The engine's results do not depend on the caller's floating-point rounding
// mode, and it leaves the caller's mode and exception flags as they were:
// a slice of the MPFR differentials run with the caller in each of the four
// IEEE rounding modes, with no flag raised and with every flag raised.
#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qxsum/qxsum.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

using namespace testsupport;

namespace {

// One engine call (or a few), its expected bit patterns computed by the
// oracle under the default environment.
struct job {
    std::string what;
    std::function<void(std::vector<uint64_t> &)> run;  // appends the result bits
    std::vector<uint64_t> want;
};

uint64_t bits_of(double d) { return std::isnan(d) ? default_nan_bits : std::bit_cast<uint64_t>(d); }
uint64_t bits_of(float f) { return std::isnan(f) ? default_nanf_bits : std::bit_cast<uint32_t>(f); }

std::vector<job> make_jobs() {
    std::vector<job> jobs;
    hard_gen<double> g(91);
    hard_gen<float> gf(92);
    g.allow_snan = gf.allow_snan = false;  // widening a signalling NaN raises "invalid"
    const int reps = scaled(2, 1);
    for (int rep = 0; rep < reps; ++rep)
        for (size_t n : {size_t(5), size_t(63), size_t(64), size_t(1000), size_t(2100)})
            for (int kind = 0; kind < hard_gen<double>::sum_kinds; ++kind) {
                auto x = std::make_shared<std::vector<double>>(g.sum_case(n, kind));
                auto p = std::make_shared<std::vector<double>>(), q = std::make_shared<std::vector<double>>();
                g.dot_case(n, kind, *p, *q);
                auto xf = std::make_shared<std::vector<float>>(gf.sum_case(n, kind));
                auto pf = std::make_shared<std::vector<float>>(), qf = std::make_shared<std::vector<float>>();
                gf.dot_case(n, kind, *pf, *qf);
                job j;
                j.what = "sums and dots, n " + std::to_string(n) + ", kind " + std::to_string(kind);
                for (unsigned r = 0; r < 4; ++r) {
                    j.want.push_back(bits_of(oracle_sum(x->data(), n, r)));
                    j.want.push_back(bits_of(oracle_dot(p->data(), q->data(), n, r)));
                    j.want.push_back(bits_of(oracle_sumf(xf->data(), n, r)));
                    j.want.push_back(bits_of(oracle_dotf(pf->data(), qf->data(), n, r)));
                }
                j.run = [=](std::vector<uint64_t> &out) {
                    for (unsigned r = 0; r < 4; ++r) {
                        out.push_back(std::bit_cast<uint64_t>(qxsum(x->data(), n, r)));
                        out.push_back(std::bit_cast<uint64_t>(qxdot(p->data(), q->data(), n, r)));
                        out.push_back(std::bit_cast<uint32_t>(qxsumf(xf->data(), n, r)));
                        out.push_back(std::bit_cast<uint32_t>(qxdotf(pf->data(), qf->data(), n, r)));
                    }
                };
                jobs.push_back(std::move(j));
            }
    // Matrix products with an inner length on both sides of the threshold.
    for (uint64_t k : {uint64_t(7), uint64_t(70)}) {
        const uint64_t m = 3, n = 2;
        auto A = std::make_shared<std::vector<double>>(m * k), B = std::make_shared<std::vector<double>>(k * n);
        auto C = std::make_shared<std::vector<double>>(m * n);
        for (auto &v : *A) v = g.any();
        for (auto &v : *B) v = g.near(0, 100);
        for (auto &v : *C) v = g.any();
        auto Af = std::make_shared<std::vector<float>>(m * k), Bf = std::make_shared<std::vector<float>>(k * n);
        auto Cf = std::make_shared<std::vector<float>>(m * n);
        for (auto &v : *Af) v = gf.any();
        for (auto &v : *Bf) v = gf.near(0, 20);
        for (auto &v : *Cf) v = gf.any();
        job j;
        j.what = "matrix products, k " + std::to_string(k);
        for (unsigned r = 0; r < 4; ++r) {
            for (uint64_t i = 0; i < m; ++i)
                for (uint64_t c = 0; c < n; ++c) {
                    exact_total e, ef;
                    for (uint64_t l = 0; l < k; ++l) {
                        e.add_product((*A)[i * k + l], (*B)[l * n + c]);
                        ef.add_product((*Af)[i * k + l], (*Bf)[l * n + c]);
                    }
                    e.add_product(0.75, (*C)[i * n + c]);
                    ef.add_product(0.75, (*Cf)[i * n + c]);
                    j.want.push_back(bits_of(e.round(r)));
                    j.want.push_back(bits_of(ef.roundf(r)));
                }
            for (uint64_t c = 0; c < n; ++c) {  // A^T applied to column c of B... as x: y = A^T x, x of length m
                exact_total e;
                for (uint64_t l = 0; l < m; ++l) e.add_product((*A)[l * k + c], (*C)[l * n]);
                j.want.push_back(bits_of(e.round(r)));
            }
        }
        j.run = [=](std::vector<uint64_t> &out) {
            std::vector<double> c(m * n), y(n);
            std::vector<float> cf(m * n);
            std::vector<double> x(m);
            for (unsigned r = 0; r < 4; ++r) {
                c = *C;
                cf = *Cf;
                qxgemm(m, n, k, A->data(), k, B->data(), n, c.data(), 0.75, n, r);
                qxgemmf(m, n, k, Af->data(), k, Bf->data(), n, cf.data(), 0.75f, n, r);
                for (uint64_t q = 0; q < m * n; ++q) {
                    out.push_back(std::bit_cast<uint64_t>(c[q]));
                    out.push_back(std::bit_cast<uint32_t>(cf[q]));
                }
                for (uint64_t l = 0; l < m; ++l) x[l] = (*C)[l * n];
                qxgemv(1, m, n, A->data(), k, x.data(), y.data(), r, 0.0);
                for (uint64_t q = 0; q < n; ++q) out.push_back(std::bit_cast<uint64_t>(y[q]));
            }
        };
        jobs.push_back(std::move(j));
    }
    return jobs;
}

TEST(CallerRounding, ResultsModeAndFlagsUnchanged) {
    const std::vector<job> jobs = make_jobs();
    const int modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    const char *names[] = {"to nearest", "upward", "downward", "toward zero"};
    const int patterns[] = {0, FE_ALL_EXCEPT};
    std::vector<uint64_t> got;
    for (int mi = 0; mi < 4; ++mi)
        for (int pattern : patterns)
            for (const job &j : jobs) {
                got.clear();
                got.reserve(j.want.size() + 16);
                ASSERT_EQ(std::fesetround(modes[mi]), 0);
                std::feclearexcept(FE_ALL_EXCEPT);
                if (pattern) std::feraiseexcept(pattern);
                j.run(got);
                const int flags = std::fetestexcept(FE_ALL_EXCEPT);
                const int mode = std::fegetround();
                std::fesetround(FE_TONEAREST);
                std::feclearexcept(FE_ALL_EXCEPT);
                SCOPED_TRACE(::testing::Message() << j.what << ", caller rounding " << names[mi]
                                                  << (pattern ? ", all flags raised" : ", no flags"));
                EXPECT_EQ(mode, modes[mi]) << "the caller's rounding mode changed";
                EXPECT_EQ(flags, pattern) << "the caller's exception flags changed";
                ASSERT_EQ(got.size(), j.want.size());
                for (size_t q = 0; q < got.size(); ++q)
                    ASSERT_EQ(got[q], j.want[q]) << "result " << q << " depends on the caller's mode";
            }
}

}  // namespace
