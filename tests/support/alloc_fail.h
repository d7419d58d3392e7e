// Allocation-failure interposer of the test programs.
//
// Every test program is linked with -Wl,--wrap=malloc,--wrap=calloc,--wrap=free,
// so the malloc, calloc and free calls of the library (and of everything else
// linked statically into the program) reach __wrap_malloc, __wrap_calloc and
// __wrap_free in alloc_fail.cpp.  Outside a watch window those forward to the
// C library and cost one atomic load.  Inside a window they
//   - count the malloc and calloc calls, from every thread, in total and
//     per allocation site (the return address of the call);
//   - make the k-th call of the window fail (return NULL) when armed with k,
//     or the k-th call from one site when armed with that site and k;
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

#include <cstddef>
#include <cstdint>

namespace testsupport {

struct alloc_stats {
    uint64_t calls = 0;        // malloc + calloc calls seen in the window
    uint64_t failed = 0;       // calls that were made to fail
    uint64_t outstanding = 0;  // blocks allocated in the window, not yet freed
    bool overflow = false;     // the block or site table ran full: counts are lower bounds
};

// Open a window.  fail_at = k > 0 makes the k-th malloc/calloc call of the
// window (counted from 1, over all threads) return NULL; 0 fails nothing.
void watch_begin(uint64_t fail_at = 0);
// The counts so far, without closing the window.
alloc_stats watch_peek();
// Close the window and return its counts.
alloc_stats watch_end();
bool watching();

// Allocation sites: the return address of a malloc/calloc call, i.e. the
// place in the code that allocates (a loop allocating once per row is one
// site).  A window counts the calls of each site, for up to 256 sites.
struct alloc_site {
    uintptr_t where;
    uint64_t calls;
};
// Open a window in which the k-th call (k >= 1, over all threads) made from
// `site` fails.
void watch_begin_site(uintptr_t site, uint64_t k);
// Copies the sites seen in the window so far into out (at most cap of them)
// and returns their number; sites beyond 256 count as overflow.
size_t watch_sites(alloc_site *out, size_t cap);

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
