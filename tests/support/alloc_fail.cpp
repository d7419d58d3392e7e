// Allocation-failure interposer: see alloc_fail.h.
//
// Blocks handed out inside a window are kept in a fixed open-addressing table
// of atomic words (0 empty, 1 deleted, otherwise the block address).  An
// insertion takes the first empty or deleted slot of the probe sequence; a
// lookup follows the sequence up to an empty slot.  Slots only become empty
// again when the next window clears the table, so a lookup that starts after
// the insertion of its block always finds it.  Pointers that were not
// allocated in the window (allocated before it, or by code that is not
// interposed) are simply not found and freed as usual.
#include "support/alloc_fail.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void __real_free(void *p);
void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t count, size_t size);
void __wrap_free(void *p);

// The OpenMP runtime's allocators; present only when libgomp is linked
// statically (its shared library does not export them).
void *gomp_malloc(size_t size) __attribute__((weak));
void *gomp_malloc_cleared(size_t size) __attribute__((weak));
void *gomp_realloc(void *p, size_t size) __attribute__((weak));
}

namespace {

constexpr int table_bits = 17;
constexpr size_t table_size = size_t(1) << table_bits;
constexpr uintptr_t deleted = 1;

std::atomic<uintptr_t> table[table_size];
std::atomic<bool> active{false};
std::atomic<uint64_t> calls{0};
std::atomic<uint64_t> fail_at{0};
std::atomic<uint64_t> failed{0};
std::atomic<uint64_t> outstanding{0};
std::atomic<bool> overflow{false};

// Call counts per site, the same open addressing on the return address.
constexpr size_t max_sites = 256;
std::atomic<uintptr_t> site_where[max_sites];
std::atomic<uint64_t> site_calls[max_sites];
std::atomic<uintptr_t> fail_site{0};

size_t home_slot(uintptr_t p) {
    return (size_t)(((uint64_t)(p >> 4) * 0x9e3779b97f4a7c15ULL) >> (64 - table_bits));
}

void remember(void *p) {
    const uintptr_t v = (uintptr_t)p;
    size_t i = home_slot(v);
    for (size_t n = 0; n < table_size; ++n, i = (i + 1) & (table_size - 1)) {
        uintptr_t cur = table[i].load(std::memory_order_relaxed);
        if (cur == 0 || cur == deleted) {
            if (table[i].compare_exchange_strong(cur, v, std::memory_order_acq_rel)) {
                outstanding.fetch_add(1, std::memory_order_relaxed);
                return;
            }
        }
    }
    overflow.store(true, std::memory_order_relaxed);
}

void forget(void *p) {
    const uintptr_t v = (uintptr_t)p;
    size_t i = home_slot(v);
    for (size_t n = 0; n < table_size; ++n, i = (i + 1) & (table_size - 1)) {
        uintptr_t cur = table[i].load(std::memory_order_acquire);
        if (cur == 0) return;
        if (cur == v) {
            if (table[i].compare_exchange_strong(cur, deleted, std::memory_order_acq_rel))
                outstanding.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
    }
}

// True when the allocation was made by the OpenMP runtime's allocator: the
// return address lies just behind one of its (small) entry points.
bool runtime_caller(const void *ra) {
    const char *r = (const char *)ra;
    const void *fns[] = {(const void *)&gomp_malloc, (const void *)&gomp_malloc_cleared,
                         (const void *)&gomp_realloc};
    for (const void *f : fns) {
        const char *c = (const char *)f;
        if (c != nullptr && r > c && r < c + 256) return true;
    }
    return false;
}

// The number of calls from site ra so far, this one included (0 when the
// site table is full).
uint64_t count_site(uintptr_t ra) {
    size_t i = home_slot(ra) & (max_sites - 1);
    for (size_t n = 0; n < max_sites; ++n, i = (i + 1) & (max_sites - 1)) {
        uintptr_t cur = site_where[i].load(std::memory_order_acquire);
        if (cur == 0 &&
            !site_where[i].compare_exchange_strong(cur, ra, std::memory_order_acq_rel) && cur != ra)
            continue;  // taken by another site meanwhile
        if (cur == 0 || cur == ra) return site_calls[i].fetch_add(1, std::memory_order_relaxed) + 1;
    }
    overflow.store(true, std::memory_order_relaxed);
    return 0;
}

// Decides for one malloc/calloc call inside a window: false = fail it.
// With a site armed, fail_at counts the calls of that site only.
bool admit(const void *ra) {
    const uint64_t k = calls.fetch_add(1, std::memory_order_relaxed) + 1;
    const uint64_t j = count_site((uintptr_t)ra);
    const uintptr_t site = fail_site.load(std::memory_order_relaxed);
    const uint64_t armed = fail_at.load(std::memory_order_relaxed);
    if (armed != 0 && (site == 0 ? k == armed : site == (uintptr_t)ra && j == armed)) {
        failed.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
    if (!active.load(std::memory_order_acquire) || runtime_caller(__builtin_return_address(0)))
        return __real_malloc(size);
    if (!admit(__builtin_return_address(0))) return nullptr;
    void *p = __real_malloc(size);
    if (p != nullptr) remember(p);
    return p;
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
    if (!active.load(std::memory_order_acquire) || runtime_caller(__builtin_return_address(0)))
        return __real_calloc(count, size);
    if (!admit(__builtin_return_address(0))) return nullptr;
    void *p = __real_calloc(count, size);
    if (p != nullptr) remember(p);
    return p;
}

extern "C" void __wrap_free(void *p) {
    if (p != nullptr && active.load(std::memory_order_acquire)) forget(p);
    __real_free(p);
}

namespace testsupport {

void watch_begin(uint64_t k) { watch_begin_site(0, k); }

void watch_begin_site(uintptr_t site, uint64_t k) {
    active.store(false, std::memory_order_release);
    for (size_t i = 0; i < table_size; ++i) table[i].store(0, std::memory_order_relaxed);
    for (size_t i = 0; i < max_sites; ++i) {
        site_where[i].store(0, std::memory_order_relaxed);
        site_calls[i].store(0, std::memory_order_relaxed);
    }
    fail_site.store(site, std::memory_order_relaxed);
    calls.store(0, std::memory_order_relaxed);
    failed.store(0, std::memory_order_relaxed);
    outstanding.store(0, std::memory_order_relaxed);
    overflow.store(false, std::memory_order_relaxed);
    fail_at.store(k, std::memory_order_relaxed);
    active.store(true, std::memory_order_release);
}

alloc_stats watch_peek() {
    alloc_stats s;
    s.calls = calls.load(std::memory_order_acquire);
    s.failed = failed.load(std::memory_order_acquire);
    s.outstanding = outstanding.load(std::memory_order_acquire);
    s.overflow = overflow.load(std::memory_order_acquire);
    return s;
}

alloc_stats watch_end() {
    active.store(false, std::memory_order_seq_cst);
    alloc_stats s = watch_peek();
    fail_at.store(0, std::memory_order_relaxed);
    return s;
}

bool watching() { return active.load(std::memory_order_acquire); }

size_t watch_sites(alloc_site *out, size_t cap) {
    size_t count = 0;
    for (size_t i = 0; i < max_sites; ++i) {
        const uintptr_t w = site_where[i].load(std::memory_order_acquire);
        if (w == 0) continue;
        if (count < cap) out[count] = {w, site_calls[i].load(std::memory_order_acquire)};
        ++count;
    }
    return count;
}

}  // namespace testsupport
