// Scratch memory of one call: malloc/calloc inside the call, freed on every
// exit by a small guard.
#ifndef NORVA_COMMON_SCRATCH_H
#define NORVA_COMMON_SCRATCH_H

#include <cstdint>
#include <cstdlib>

namespace norva {

// Frees the pointers it holds when it goes out of scope.
template <int N = 1>
class freer {
public:
    freer() = default;
    ~freer() {
        for (int i = 0; i < used_; ++i) std::free(p_[i]);
    }
    freer(const freer &) = delete;
    freer &operator=(const freer &) = delete;
    // Takes ownership of p (which may be null) and returns it.
    template <class T>
    T *own(T *p) {
        p_[used_++] = (void *)p;
        return p;
    }

private:
    void *p_[N] = {};
    int used_ = 0;
};

// True when count * size doubles, with a margin of 16 for the sums of such
// sizes that a caller forms, cannot be addressed: such a request is treated
// as a failed allocation, never wrapped around.
constexpr bool too_big(uint64_t count, uint64_t size) {
    const uint64_t lim = UINT64_MAX / sizeof(double) / 16;
    return size != 0 && count > lim / size;
}

template <class T>
T *alloc(unsigned long long count) {
    return (T *)std::malloc((count ? count : 1) * sizeof(T));
}

template <class T>
T *alloc_zero(unsigned long long count) {
    return (T *)std::calloc(count ? count : 1, sizeof(T));
}

}  // namespace norva

#endif
