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

}  // namespace testsupport

#endif
