// Failing every allocation of a call in turn (GoogleTest helper on top of the
// interposer of alloc_fail.h).
//
//   uint64_t n = testsupport::for_each_allocation_failure(run, check);
//
// run() performs the call under test and stores what it produced (it should
// not allocate anything itself, and should not use GoogleTest assertions:
// those may allocate).  check(k) inspects the stored results after each run:
// k = 0 for the run in which nothing failed, k = 1, 2, ... for the run in
// which the k-th allocation failed.
//
// Sequence: run() once unobserved (lets runtimes set up their caches), once
// observed to count its allocations N, then N more times with allocation
// 1, 2, ..., N failing.  Every observed run must free all that it allocated,
// and every armed run must actually reach its failing allocation.  Returns N.
#ifndef NORVA_TESTS_ALLOC_SWEEP_H
#define NORVA_TESTS_ALLOC_SWEEP_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/alloc_fail.h"

namespace testsupport {

template <class Run, class Check>
uint64_t for_each_allocation_failure(Run &&run, Check &&check) {
    run();
    watch_begin(0);
    run();
    const alloc_stats base = watch_end();
    EXPECT_EQ(base.outstanding, 0u) << "blocks leaked by a run without failures";
    EXPECT_FALSE(base.overflow);
    {
        SCOPED_TRACE("run without allocation failure");
        check(uint64_t(0));
    }
    for (uint64_t k = 1; k <= base.calls; ++k) {
        watch_begin(k);
        run();
        const alloc_stats s = watch_end();
        SCOPED_TRACE(::testing::Message() << "allocation " << k << " of " << base.calls
                                          << " failing");
        EXPECT_EQ(s.failed, 1u) << "the failing allocation was not reached";
        EXPECT_EQ(s.outstanding, 0u) << "blocks leaked after a failed allocation";
        EXPECT_FALSE(s.overflow);
        check(k);
    }
    return base.calls;
}

// The same by allocation site, for calls that allocate thousands of times
// from a few sites (a buffer per row of an exact product):
//
//   site_sweep s = testsupport::for_each_allocation_site_failure(run, check);
//
// run() once unobserved, once observed to find its sites and their call
// counts; then, for every site, a run in which its j-th call fails, for every
// j when the site is called at most per_site times (or per_site is 0), else
// for per_site values of j spread evenly from the first call to the last
// (the first two always: with two threads, one call of each).  check(k) as
// above, k counting the armed runs from 1.
struct site_sweep {
    uint64_t calls = 0;  // allocations of a run without failures
    uint64_t sites = 0;  // distinct sites among them
    uint64_t runs = 0;   // runs with one allocation failing
    std::vector<uintptr_t> where;  // the sites
};

template <class Run, class Check>
site_sweep for_each_allocation_site_failure(Run &&run, Check &&check, uint64_t per_site = 8) {
    run();
    watch_begin(0);
    run();
    alloc_site found[256];
    const size_t sites = watch_sites(found, 256);
    const alloc_stats base = watch_end();
    EXPECT_EQ(base.outstanding, 0u) << "blocks leaked by a run without failures";
    EXPECT_FALSE(base.overflow);
    {
        SCOPED_TRACE("run without allocation failure");
        check(uint64_t(0));
    }
    site_sweep out{base.calls, sites, 0, {}};
    for (size_t s = 0; s < sites && s < 256; ++s) {
        const uint64_t c = found[s].calls;
        out.where.push_back(found[s].where);
        const bool all = per_site == 0 || c <= per_site;
        const uint64_t tries = all ? c : per_site;
        for (uint64_t q = 0; q < tries; ++q) {
            // q = 0 .. tries-1 spread over 1 .. c, the second call right after the first.
            const uint64_t j = all || q < 2 ? q + 1 : 1 + q * (c - 1) / (tries - 1);
            watch_begin_site(found[s].where, j);
            run();
            const alloc_stats st = watch_end();
            ++out.runs;
            SCOPED_TRACE(::testing::Message() << "site " << s << " of " << sites << ", call " << j
                                              << " of " << c << " failing");
            EXPECT_EQ(st.failed, 1u) << "the failing allocation was not reached";
            EXPECT_EQ(st.outstanding, 0u) << "blocks leaked after a failed allocation";
            EXPECT_FALSE(st.overflow);
            check(out.runs);
        }
    }
    return out;
}

}  // namespace testsupport

#endif
