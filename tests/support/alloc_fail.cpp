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

// Decides for one malloc/calloc call inside a window: false = fail it.
bool admit() {
    const uint64_t k = calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (k == fail_at.load(std::memory_order_relaxed)) {
        failed.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
    if (!active.load(std::memory_order_acquire) || runtime_caller(__builtin_return_address(0)))
        return __real_malloc(size);
    if (!admit()) return nullptr;
    void *p = __real_malloc(size);
    if (p != nullptr) remember(p);
    return p;
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
    if (!active.load(std::memory_order_acquire) || runtime_caller(__builtin_return_address(0)))
        return __real_calloc(count, size);
    if (!admit()) return nullptr;
    void *p = __real_calloc(count, size);
    if (p != nullptr) remember(p);
    return p;
}

extern "C" void __wrap_free(void *p) {
    if (p != nullptr && active.load(std::memory_order_acquire)) forget(p);
    __real_free(p);
}

namespace testsupport {

void watch_begin(uint64_t k) {
    active.store(false, std::memory_order_release);
    for (size_t i = 0; i < table_size; ++i) table[i].store(0, std::memory_order_relaxed);
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

}  // namespace testsupport
