// Allocation-failure interposer of the test programs.
//
// Every test program is linked with -Wl,--wrap=malloc,--wrap=calloc,--wrap=free,
// so the malloc, calloc and free calls of the library (and of everything else
// linked statically into the program) reach __wrap_malloc, __wrap_calloc and
// __wrap_free in alloc_fail.cpp.  Outside a watch window those forward to the
// C library and cost one atomic load.  Inside a window they
//   - count the malloc and calloc calls, from every thread;
//   - make the k-th call of the window fail (return NULL) when armed with k;
//   - remember every block handed out, so that the window reports how many of
//     them were not freed when it closed (a leak).
// realloc is not interposed; the library does not use it.
//
// The OpenMP runtime's own allocator (gomp_malloc, which aborts the program
// on failure and caches thread teams between regions) is passed through
// untouched, so that a statically linked program sees only the allocations
// of the code under test.  One thing remains visible there: starting threads
// (the first region with more threads than any before) allocates their
// thread-local storage through the wrapped calloc/malloc.  Run the code once
// before opening a window (for_each_allocation_failure does).
//
// Windows do not nest and are opened and closed by one thread while no other
// thread of the program allocates on its behalf (the library's parallel
// regions are all closed when a call returns).
#ifndef NORVA_TESTS_ALLOC_FAIL_H
#define NORVA_TESTS_ALLOC_FAIL_H

#include <cstdint>

namespace testsupport {

struct alloc_stats {
    uint64_t calls = 0;        // malloc + calloc calls seen in the window
    uint64_t failed = 0;       // calls that were made to fail
    uint64_t outstanding = 0;  // blocks allocated in the window, not yet freed
    bool overflow = false;     // the block table ran full: outstanding is a lower bound
};

// Open a window.  fail_at = k > 0 makes the k-th malloc/calloc call of the
// window (counted from 1, over all threads) return NULL; 0 fails nothing.
void watch_begin(uint64_t fail_at = 0);
// The counts so far, without closing the window.
alloc_stats watch_peek();
// Close the window and return its counts.
alloc_stats watch_end();
bool watching();

// Closes the window when it goes out of scope (for early returns in tests).
class alloc_watch {
public:
    explicit alloc_watch(uint64_t fail_at = 0) { watch_begin(fail_at); }
    ~alloc_watch() {
        if (open_) watch_end();
    }
    alloc_stats end() {
        open_ = false;
        return watch_end();
    }
    alloc_watch(const alloc_watch &) = delete;
    alloc_watch &operator=(const alloc_watch &) = delete;

private:
    bool open_ = true;
};

}  // namespace testsupport

#endif
