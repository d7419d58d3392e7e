// Pieces shared by the fuzz harnesses: a decoder that turns the fuzzer's
// bytes into sizes, modes and matrix entries drawn from the hard values; the
// caller's floating-point environment set from the bytes and checked after
// the call; output arrays that show which bytes a call wrote; a product
// callback from a plain loop; exact right-hand sides b = A x, so that a
// proven enclosure can be checked against a known solution; and the checks
// of the contracts every export shares.  A broken contract prints what broke
// and aborts, which libFuzzer (or the replay program) reports as a crash.
#ifndef NORVA_FUZZ_COMMON_H
#define NORVA_FUZZ_COMMON_H

#include <omp.h>
#include <pthread.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "norva.h"
#include "qxsum/qxsum.h"

namespace fuzz {

constexpr double inf = std::numeric_limits<double>::infinity();

[[noreturn]] inline void broken(const char *harness, const char *what, long long at = -1) {
    std::fprintf(stderr, "%s: contract broken: %s", harness, what);
    if (at >= 0) std::fprintf(stderr, " (at %lld)", at);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Finite on the bits (no comparison with a NaN).
inline bool finite(double v) {
    return (std::bit_cast<uint64_t>(v) & 0x7ff0000000000000ULL) != 0x7ff0000000000000ULL;
}

// The fuzzer's bytes, consumed from the front; an exhausted input reads zeros.
class input {
public:
    input(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}

    uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
    uint64_t u64() {
        uint64_t v = 0;
        for (int k = 0; k < 8; ++k) v |= (uint64_t)u8() << (8 * k);
        return v;
    }
    // 0 .. k-1 (k <= 65536).
    uint64_t below(uint64_t k) { return (((uint64_t)u8() << 8) | u8()) % k; }
    // True once in k byte values (never for the zeros of an exhausted input).
    bool one_in(unsigned k) { return u8() % k == k - 1; }
    // A mode: mostly 0 .. count-1, now and then -4 .. 11 (out of range).
    int32_t mode(int32_t count) {
        const uint8_t b = u8();
        return b < 240 ? b % count : (int32_t)b - 244;
    }

    // Whether value() may give infinities and NaNs (off by default: one
    // among dozens of entries would make almost every call invalid).
    bool specials = false;

    // An entry: small integers (so that systems with exact data and exact
    // solutions come up often), the hard values (zeros of both signs, the
    // extreme subnormals, the smallest normal, the largest finite double,
    // halfway cases next to 1), integers scaled over the whole exponent
    // range, halves and quarters (ties of rounding), arbitrary bit patterns,
    // and, with `specials`, infinities and NaNs.
    double value() {
        static const double hard[16] = {0.0,      -0.0,        0x1p-1074,       -0x1p-1074,
                                        0x0.fffffffffffffp-1022, 0x1p-1022, 1.7976931348623157e308,
                                        -1.7976931348623157e308, 0x1.0000000000001p0, 0x1p-53,
                                        0x1.8p-53, -0x1p-53,     0x1.fffffffffffffp-1, 0x1p1023,
                                        0x1.fffffffffffffp52, 0x1p53};
        static const double special[8] = {inf, -inf, std::numeric_limits<double>::quiet_NaN(),
                                          -std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::signaling_NaN(),
                                          std::bit_cast<double>(0x7ff00000dead0001ULL), inf, -inf};
        const uint8_t c = u8();
        if (c < 96) return (double)(c % 17) - 8.0;
        if (c < 128) return hard[c % 16];
        if (c < 168) {  // (int8) * 2^e, e in [-1082, 1016]: finite, often subnormal
            const double m = (double)(int8_t)u8();
            return std::ldexp(m, (int)below(2099) - 1082);
        }
        if (c < 200) return ((double)(int8_t)u8()) * 0.25;
        if (c < 232 || !specials) {
            uint64_t bits = u64();
            if (!specials) bits &= ~(1ULL << 62);  // exponent below 0x400: finite
            return std::bit_cast<double>(bits);
        }
        return special[c % 8];
    }
    void values(std::vector<double> &v) {
        for (double &x : v) x = value();
    }
    // `count` finite entries (a solution to form a right-hand side from).
    std::vector<double> finite_values(size_t count) {
        const bool keep = specials;
        specials = false;
        std::vector<double> v(count);
        values(v);
        specials = keep;
        return v;
    }

private:
    const uint8_t *p_, *end_;
};

// The caller's floating-point environment: a rounding mode and raised flags
// chosen from the bytes, installed before a call and checked after it.
class caller_env {
public:
    explicit caller_env(input &in) {
        static const int modes[4] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
        static const int flags[5] = {FE_INEXACT, FE_UNDERFLOW, FE_OVERFLOW, FE_DIVBYZERO,
                                     FE_INVALID};
        const uint8_t b = in.u8();
        round_ = modes[b & 3];
        for (int k = 0; k < 5; ++k)
            if (b & (8 << k)) flags_ |= flags[k];
    }
    bool directed() const { return round_ != FE_TONEAREST; }
    // The flags as raised (raising overflow or underflow raises inexact too
    // on some targets).
    void install() {
        std::fesetround(round_);
        std::feclearexcept(FE_ALL_EXCEPT);
        if (flags_) std::feraiseexcept(flags_);
        flags_ = std::fetestexcept(FE_ALL_EXCEPT);
    }
    // Checks that the call kept the mode and flags, then goes back to the default.
    void check_and_reset(const char *harness) const {
        const int round = std::fegetround(), flags = std::fetestexcept(FE_ALL_EXCEPT);
        std::fesetround(FE_TONEAREST);
        std::feclearexcept(FE_ALL_EXCEPT);
        if (round != round_) broken(harness, "the caller's rounding mode changed");
        if (flags != flags_) {
            std::fprintf(stderr, "  flags 0x%x on entry, 0x%x on return\n", flags_, flags);
            broken(harness, "the caller's exception flags changed");
        }
    }

private:
    int round_ = FE_TONEAREST, flags_ = 0;
};

// An output array prefilled with a NaN that no export writes, so that the
// bytes a call wrote can be told from those it left.
constexpr uint64_t sentinel_bits = 0x7ff8dead0000f00dULL;

inline std::vector<double> blank(size_t count) {
    return std::vector<double>(count, std::bit_cast<double>(sentinel_bits));
}
inline bool untouched(double v) { return std::bit_cast<uint64_t>(v) == sentinel_bits; }
inline bool all_untouched(const std::vector<double> &v) {
    for (double x : v)
        if (!untouched(x)) return false;
    return true;
}
inline bool same_bytes(const std::vector<double> &x, const std::vector<double> &y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0);
}

// A product callback from a plain loop (ascending or descending inner
// index, `descending` in the context).  It checks that it is called from
// the thread that called the export, outside any parallel region, with the
// caller's context.
struct product_ctx {
    pthread_t caller;
    bool descending;
    int calls;
};

inline void loop_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                      const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    product_ctx *c = static_cast<product_ctx *>(ctx);
    if (c == nullptr) broken("callback", "context not passed through");
    if (omp_in_parallel() || !pthread_equal(pthread_self(), c->caller))
        broken("callback", "called from a parallel region or another thread");
    ++c->calls;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            double s = 0;
            for (uint64_t t = 0; t < k; ++t) {
                const uint64_t l = c->descending ? k - 1 - t : t;
                s = s + A[i * lda + l] * B[l * ldb + j];
            }
            C[i * ldc + j] = s;
        }
}

// The options of one call that most harnesses take from the bytes: the
// product callback (or none), the OpenMP team size (1 or 2) and the
// caller's environment.
struct call_options {
    product_ctx ctx{};
    norva_gemm_fn gemm = nullptr;
    caller_env env;

    explicit call_options(input &in) : env(in) {
        const uint8_t b = in.u8();
        ctx.caller = pthread_self();
        ctx.descending = b & 2;
        if (b & 1) gemm = loop_gemm;
        omp_set_num_threads(b & 4 ? 2 : 1);
    }
    void *context() { return gemm ? &ctx : nullptr; }
};

// sum_j a[j * sa] x[j] when it is a double exactly (the exact sum rounded
// up and down agree), else false.
inline bool exact_dot(const double *a, uint64_t sa, const double *x, uint64_t n, double &out) {
    std::vector<double> row(n);
    for (uint64_t j = 0; j < n; ++j) row[j] = a[j * sa];
    const double up = qxdot(row.data(), x, n, 1), down = qxdot(row.data(), x, n, 2);
    if (!(up == down) || !finite(up)) return false;
    out = up;
    return true;
}

// Exact right-hand sides B = A X (A rows x n with lda, X n x nrhs, B rows x
// nrhs with ldb); known[k] says whether column k came out exact.
inline void exact_rhs(uint64_t rows, uint64_t n, uint64_t nrhs, const double *a, uint64_t lda,
                      const std::vector<double> &x, double *b, uint64_t ldb,
                      std::vector<char> &known) {
    known.assign(nrhs, 1);
    std::vector<double> col(n);
    for (uint64_t k = 0; k < nrhs; ++k) {
        for (uint64_t j = 0; j < n; ++j) col[j] = x[j * nrhs + k];
        for (uint64_t i = 0; i < rows; ++i)
            if (!exact_dot(a + i * lda, 1, col.data(), n, b[i * ldb + k])) {
                known[k] = 0;
                b[i * ldb + k] = 0.0;
            }
    }
}

// The bounds of an n x nrhs result (leading dimension ldx) after status 0
// or 1: a column is proven (every bound finite, lo <= hi) or unproven
// (every bound [-inf, +inf]); status 0 means every column proven, status 1
// at least one unproven (every one when `all_or_nothing`); entries beyond
// nrhs in a row are never written.  Where `x` (n x nrhs) is known for a
// column, a proven column must contain it.
inline void check_bounds(const char *h, int32_t status, const std::vector<double> &lo,
                         const std::vector<double> &hi, uint64_t n, uint64_t nrhs, uint64_t ldx,
                         bool all_or_nothing, const std::vector<double> *x = nullptr,
                         const std::vector<char> *known = nullptr) {
    if (status != 0 && status != 1) broken(h, "status out of range", status);
    uint64_t unproven = 0;
    for (uint64_t k = 0; k < nrhs; ++k) {
        bool trivial = true, proven = true;
        for (uint64_t i = 0; i < n; ++i) {
            const double l = lo[i * ldx + k], u = hi[i * ldx + k];
            trivial = trivial && l == -inf && u == inf;
            proven = proven && finite(l) && finite(u) && l <= u;
        }
        if (!trivial && !proven) {
            for (uint64_t i = 0; i < n; ++i)
                std::fprintf(stderr, "  [%a, %a]\n", lo[i * ldx + k], hi[i * ldx + k]);
            broken(h, "a column neither proven nor [-inf, +inf]", (long long)k);
        }
        if (trivial) {
            ++unproven;
            continue;
        }
        if (x && known && (*known)[k])
            for (uint64_t i = 0; i < n; ++i) {
                const double v = (*x)[i * nrhs + k];
                if (!(lo[i * ldx + k] <= v && v <= hi[i * ldx + k]))
                    broken(h, "the known solution is outside its enclosure", (long long)(i * nrhs + k));
            }
    }
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t k = nrhs; k < ldx; ++k)
            if (!untouched(lo[i * ldx + k]) || !untouched(hi[i * ldx + k]))
                broken(h, "padding between result rows written", (long long)i);
    if (status == 0 && unproven) broken(h, "status 0 with an unproven column");
    if (status == 1 && unproven == 0) broken(h, "status 1 with every column proven");
    if (status == 1 && all_or_nothing && unproven != nrhs)
        broken(h, "status 1 with some bounds proven");
}

// The checks after every call: the status is one the export may return,
// -1 exactly when the arguments are invalid, and then not one output byte
// written.
inline void check_status(const char *h, int32_t status, bool invalid,
                         std::initializer_list<const std::vector<double> *> outputs) {
    if (status < -1 || status > 1) broken(h, "status out of range", status);
    if (invalid != (status == -1))
        broken(h, invalid ? "invalid arguments accepted" : "valid arguments refused", status);
    if (status == -1)
        for (const std::vector<double> *o : outputs)
            if (!all_untouched(*o)) broken(h, "output written by a refused call");
}

// Runs call() in the caller's environment, then checks that the
// environment was kept and the status.
template <class Call>
int32_t run_checked(const char *h, caller_env &env, bool invalid,
                    std::initializer_list<const std::vector<double> *> outputs, Call call) {
    env.install();
    const int32_t status = call();
    env.check_and_reset(h);
    check_status(h, status, invalid, outputs);
    return status;
}

// Runs call(lo, hi) once more, under another rounding mode, team size or
// entry point, and requires the same status and the same bits.
template <class Call>
void check_repeat(const char *h, int32_t status, const std::vector<double> &lo,
                  const std::vector<double> &hi, Call call) {
    std::vector<double> lo2 = blank(lo.size()), hi2 = blank(hi.size());
    if (call(lo2, hi2) != status || !same_bytes(lo, lo2) || !same_bytes(hi, hi2))
        broken(h, "results depend on the caller's rounding mode, the team size or the entry point");
}

// Copies of the inputs of a call, to check that it left them unchanged.
class snapshot {
public:
    snapshot(std::initializer_list<const std::vector<double> *> inputs) : inputs_(inputs) {
        for (const std::vector<double> *v : inputs_) copies_.push_back(*v);
    }
    void check(const char *h) const {
        for (size_t k = 0; k < inputs_.size(); ++k)
            if (!same_bytes(*inputs_[k], copies_[k])) broken(h, "an input was modified", (long long)k);
    }

private:
    std::vector<const std::vector<double> *> inputs_;
    std::vector<std::vector<double>> copies_;
};

// Every entry of the rows x cols matrix (ld) finite.
inline bool all_finite(const std::vector<double> &a, uint64_t rows, uint64_t cols, uint64_t ld) {
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j)
            if (!finite(a[i * ld + j])) return false;
    return true;
}

}  // namespace fuzz

#endif
