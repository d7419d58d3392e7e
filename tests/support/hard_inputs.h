// Random inputs that are hard for exact summation and correct rounding, in
// double or float: terms over the whole exponent range including
// subnormals, massive cancellation, exact ties behind cancelling fillers,
// totals at the overflow and underflow thresholds, signed zeros and special
// values (NaNs with payloads, signalling NaNs, infinities).
//
//   testsupport::hard_gen<double> g(seed);
//   std::vector<double> x = g.sum_case(n, kind);      // kind < sum_kinds
//   g.dot_case(n, kind, x, y);                        // kind < dot_kinds
//
// Every case has exactly n terms.  The generator is deterministic for a seed
// and uses only exact operations (scaling by powers of two, negation,
// integer arithmetic), so it does not depend on the rounding mode.
#ifndef NORVA_TESTS_HARD_INPUTS_H
#define NORVA_TESTS_HARD_INPUTS_H

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace testsupport {

template <class T>
struct fp_traits;
template <>
struct fp_traits<double> {
    using bits_t = uint64_t;
    static constexpr int p = 53;       // precision
    static constexpr int emin = -1022;  // exponent of the smallest normal
    static constexpr int emax = 1023;   // exponent of the top binade
    static constexpr int esub = -1074;  // exponent of the smallest subnormal
    static constexpr bits_t nans[] = {0x7ff8000000000000ULL, 0x7ff8dead0000beefULL,
                                      0xfff8000000000000ULL, 0x7ff0000000000001ULL,
                                      0xfff4000000000000ULL};
};
template <>
struct fp_traits<float> {
    using bits_t = uint32_t;
    static constexpr int p = 24;
    static constexpr int emin = -126;
    static constexpr int emax = 127;
    static constexpr int esub = -149;
    static constexpr bits_t nans[] = {0x7fc00000u, 0x7fc0deadu, 0xffc00000u, 0x7f800001u,
                                      0xffa00000u};
};

template <class T>
class hard_gen {
public:
    using tr = fp_traits<T>;
    static constexpr int p = tr::p, emin = tr::emin, emax = tr::emax, esub = tr::esub;
    static constexpr int sum_kinds = 9;
    static constexpr int dot_kinds = 9;

    explicit hard_gen(uint64_t seed) : rng(seed) {}

    std::mt19937_64 rng;
    // Signalling NaNs among the special values (off for tests of the
    // floating-point flags: widening one raises "invalid").
    bool allow_snan = true;

    uint64_t bits64() { return rng(); }
    int irange(int lo, int hi) { return lo + (int)(rng() % (uint64_t)(hi - lo + 1)); }
    bool one_in(int k) { return rng() % (uint64_t)k == 0; }
    T flip(T v) { return (rng() & 1) ? -v : v; }

    static T pow2(int e) { return (T)std::ldexp(1.0, e); }
    static T maxval() { return std::numeric_limits<T>::max(); }

    // A positive value with |v| in [2^e, 2^(e+1)), esub <= e <= emax;
    // subnormal below emin.  Sometimes with a short significand.
    T with_exp(int e) {
        e = std::clamp(e, (int)esub, (int)emax);
        int width = e >= emin ? p : e - esub + 1;  // significant bits available
        uint64_t m = (rng() >> (64 - width)) | (uint64_t(1) << (width - 1));
        if (one_in(3)) {
            const int keep = irange(1, width);
            m &= ~((uint64_t(1) << (width - keep)) - 1);
        }
        const int scale = e >= emin ? e - (p - 1) : esub;
        return (T)std::ldexp((double)m, scale);
    }
    T any() { return flip(with_exp(irange(esub, emax))); }
    T near(int center, int spread) { return flip(with_exp(irange(center - spread, center + spread))); }

    T special() {
        const int n = allow_snan ? 8 : 6;
        switch (irange(0, n - 1)) {
            case 0: return INFINITY;
            case 1: return -INFINITY;
            case 2: return (T)0;
            case 3: return -(T)0;
            case 4: return std::bit_cast<T>(tr::nans[0]);
            case 5: return std::bit_cast<T>(tr::nans[irange(1, 2)]);
            default: return std::bit_cast<T>(tr::nans[irange(3, 4)]);
        }
    }

    // ------------------------------------------------------------------ sums
    std::vector<T> sum_case(size_t n, int kind) {
        std::vector<T> v;
        v.reserve(n);
        switch (kind) {
            case 0:  // whole exponent range
                while (v.size() < n) v.push_back(any());
                break;
            case 1: {  // a band of exponents
                const int c = irange(esub + 40, emax - 40);
                while (v.size() < n) v.push_back(near(c, 30));
                break;
            }
            case 2:  // massive cancellation, total tiny or zero
                cancel_sum(v, n);
                break;
            case 3:
                tie_sum(v, n);
                break;
            case 4:
                overflow_sum(v, n);
                break;
            case 5:
                underflow_sum(v, n);
                break;
            case 6:
                zeros(v, n);
                break;
            case 7:  // special values in a finite sum
                v = sum_case(n, irange(0, 5));
                inject_specials(v);
                break;
            default:
                integers(v, n);
                break;
        }
        std::shuffle(v.begin(), v.end(), rng);
        return v;
    }

    // ----------------------------------------------------------- dot products
    void dot_case(size_t n, int kind, std::vector<T> &x, std::vector<T> &y) {
        x.clear();
        y.clear();
        x.reserve(n);
        y.reserve(n);
        switch (kind) {
            case 0: {  // products over the whole range 2^(2 esub) .. 2^(2 emax), mostly below overflow
                const bool huge = one_in(4);
                while (x.size() < n) {
                    const int e = irange(2 * esub, huge && one_in(8) ? 2 * emax : emax);
                    const int ex = std::clamp(irange(esub, emax), e - emax, e - esub);
                    x.push_back(flip(with_exp(ex)));
                    y.push_back(flip(with_exp(e - ex)));
                }
                break;
            }
            case 1: {
                const int cx = irange(esub / 2, emax / 2), cy = irange(esub / 2, emax / 2);
                while (x.size() < n) {
                    x.push_back(near(cx, 20));
                    y.push_back(near(cy, 20));
                }
                break;
            }
            case 2:
                cancel_dot(x, y, n);
                break;
            case 3:
                tie_dot(x, y, n);
                break;
            case 4:
                overflow_dot(x, y, n);
                break;
            case 5:
                underflow_dot(x, y, n);
                break;
            case 6:
                zero_dot(x, y, n);
                break;
            case 7:
                dot_case(n, irange(0, 5), x, y);
                inject_special_products(x, y);
                break;
            default:
                integers(x, n);
                while (y.size() < n) y.push_back(flip(with_exp(irange(0, p + 3))));
                break;
        }
        shuffle_pairs(x, y);
    }

private:
    void shuffle_pairs(std::vector<T> &x, std::vector<T> &y) {
        for (size_t i = x.size(); i > 1; --i) {
            const size_t j = rng() % i;
            std::swap(x[i - 1], x[j]);
            std::swap(y[i - 1], y[j]);
        }
    }

    // Pairs c, -c until n terms remain at most `leave` short.
    void fill_pairs(std::vector<T> &v, size_t n) {
        const int c = irange(esub, emax);
        while (v.size() + 2 <= n) {
            const T t = one_in(2) ? any() : near(c, 10);
            v.push_back(t);
            v.push_back(-t);
        }
    }
    void fill_product_pairs(std::vector<T> &x, std::vector<T> &y, size_t n) {
        while (x.size() + 2 <= n) {
            const int ea = irange(esub / 2, emax / 2), eb = irange(esub / 2, emax / 2);
            const T a = flip(with_exp(ea)), b = flip(with_exp(eb));
            // a b + (-(a 2^j)) (b 2^-j) = 0 exactly, when both scalings are exact.
            const int j = irange(-20, 20);
            const T a2 = (T)std::ldexp((double)a, j), b2 = (T)std::ldexp((double)b, -j);
            x.push_back(a);
            y.push_back(b);
            if (std::ldexp((double)a2, -j) == (double)a && std::ldexp((double)b2, j) == (double)b &&
                std::fabs((double)a2) >= (double)std::numeric_limits<T>::min() &&
                std::fabs((double)b2) >= (double)std::numeric_limits<T>::min()) {
                x.push_back(-a2);
                y.push_back(b2);
            } else {
                x.push_back(-a);
                y.push_back(b);
            }
        }
    }

    void cancel_sum(std::vector<T> &v, size_t n) {
        const size_t m = n / 2;
        const int c = irange(esub, emax);
        for (size_t i = 0; i < m; ++i) {
            const T t = one_in(2) ? any() : near(c, 40);
            v.push_back(t);
            // Sometimes leave a residue of one unit in the last place.
            v.push_back(one_in(std::max<int>(4, (int)m)) ? -std::nextafter(t, (T)0) : -t);
        }
        if (v.size() < n) v.push_back(flip(with_exp(irange(esub, esub + 60))));
    }

    void tie_sum(std::vector<T> &v, size_t n) {
        if (n < 2) {
            while (v.size() < n) v.push_back(any());
            return;
        }
        const int e = irange(esub + p, emax - 1);  // half an ulp must be representable
        const T a = flip(with_exp(e));
        const int ulp_e = std::max(e, (int)emin) - p + 1;
        const T h = pow2(ulp_e - 1);
        v.push_back(a);
        v.push_back(one_in(2) ? h : -h);
        if (one_in(2)) v.back() = std::copysign(h, a);
        if ((n - v.size()) % 2 == 1) {
            // Either a sticky bit far below the tie, or the half ulp split in two.
            const int low = ulp_e - 1 - irange(2, 80);
            if (low - 1 >= esub && one_in(2)) {
                const T hh = v.back() / 2;
                v.back() = hh;
                v.push_back(hh);
            } else {
                v.push_back(flip(with_exp(std::max(low, (int)esub))));
            }
        }
        fill_pairs(v, n);
    }

    void overflow_sum(std::vector<T> &v, size_t n) {
        const T s = one_in(2) ? (T)1 : (T)-1;
        const T big = maxval();
        const int half_e = emax - p;  // half an ulp of maxval
        const T deltas[] = {pow2(half_e), pow2(half_e - 1), pow2(half_e + 1), -pow2(half_e),
                            big, pow2(half_e - 40)};
        v.push_back(s * big);
        if (n >= 2) {
            T d = deltas[irange(0, 5)];
            v.push_back(s * d);
            if (n >= 3 && one_in(2)) v.push_back(flip(pow2(irange(esub, half_e - 1))));
        }
        if (n >= 4 && one_in(2)) {
            // Split maxval into 2^emax and the rest.
            for (auto &t : v)
                if (t == s * big) {
                    t = s * pow2(emax);
                    v.push_back(s * (big - pow2(emax)));
                    break;
                }
        }
        // Huge cancelling pairs: the running sums leave the double range.
        while (v.size() + 2 <= n) {
            const T t = flip(with_exp(emax - irange(0, 2)));
            v.push_back(t);
            v.push_back(-t);
        }
        if (v.size() < n) v.push_back(flip(with_exp(irange(esub, emax - p - 2))));
        v.resize(n);
    }

    // An exact split v = a + b for values near the normal/subnormal boundary.
    void split_small(std::vector<T> &v, T t) {
        const T a = flip(with_exp(irange(esub, emin)));
        const double sc = std::ldexp(1.0, -esub);
        const int64_t ka = (int64_t)((double)a * sc), kt = (int64_t)((double)t * sc);
        const int64_t kb = kt - ka;
        const T b = (T)std::ldexp((double)kb, esub);
        if ((int64_t)((double)b * sc) == kb && std::isfinite((double)b)) {
            v.push_back(a);
            v.push_back(b);
        } else {
            v.push_back(t);
        }
    }

    void underflow_sum(std::vector<T> &v, size_t n) {
        const T t = flip(with_exp(irange(esub, emin + 1)));
        if (n >= 2) split_small(v, t);
        else if (n == 1) v.push_back(t);
        fill_pairs(v, n);
        if (v.size() < n) v.push_back(flip(pow2(esub)));
        v.resize(n);
    }

    void zeros(std::vector<T> &v, size_t n) {
        const int how = irange(0, 2);  // all -0, all +0, mixed
        while (v.size() < n)
            v.push_back(how == 0 ? -(T)0 : how == 1 ? (T)0 : flip((T)0));
    }

    void integers(std::vector<T> &v, size_t n) {
        const int s = irange(esub, emax - p - 8 - 12);
        while (v.size() < n) {
            const uint64_t m = (rng() >> (64 - p)) | 1;
            v.push_back(flip((T)std::ldexp((double)m, s + irange(0, 5))));
        }
    }

    void inject_specials(std::vector<T> &v) {
        if (v.empty()) return;
        const int k = irange(1, 3);
        for (int i = 0; i < k; ++i) v[rng() % v.size()] = special();
    }

    void cancel_dot(std::vector<T> &x, std::vector<T> &y, size_t n) {
        fill_product_pairs(x, y, n);
        if (x.size() < n) {
            x.push_back(flip(with_exp(irange(esub, 0))));
            y.push_back(flip(with_exp(irange(esub, 0))));
        }
    }

    // A product equal to 2^e exactly, with both factors representable.
    void push_pow2_product(std::vector<T> &x, std::vector<T> &y, int e, T sign) {
        int i = e / 2;
        i = std::clamp(i + irange(-3, 3), (int)esub, (int)emax);
        int j = e - i;
        if (j < esub) { j = esub; i = e - j; }
        if (j > emax) { j = emax; i = e - j; }
        x.push_back(sign * pow2(i));
        y.push_back(pow2(j));
    }

    void tie_dot(std::vector<T> &x, std::vector<T> &y, size_t n) {
        if (n < 2) {
            while (x.size() < n) {
                x.push_back(any());
                y.push_back(any());
            }
            return;
        }
        // Main value a (any exponent, also subnormal), spread over two factors.
        const int e = irange(esub, emax - 1);
        const T a = flip(with_exp(e));
        const int j = irange(-10, 10);
        const double a2 = std::ldexp((double)a, j);
        if ((T)a2 == a2 && std::ldexp(a2, -j) == (double)a && std::isfinite(a2) &&
            std::fabs(a2) >= (double)std::numeric_limits<T>::min() && e - j >= esub && e - j <= emax) {
            x.push_back((T)a2);
            y.push_back(pow2(-j));
        } else {
            x.push_back(a);
            y.push_back((T)1);
        }
        // Half an ulp of a, as a product of two powers of two.
        const int half = std::max(e, (int)emin) - p;
        const T hs = one_in(2) ? std::copysign((T)1, a) : -std::copysign((T)1, a);
        push_pow2_product(x, y, half, hs);
        if ((n - x.size()) % 2 == 1) {
            if (one_in(2)) {  // sticky bit far below
                push_pow2_product(x, y, std::max(half - irange(2, 200), 2 * esub), (T)(one_in(2) ? 1 : -1));
            } else {  // the half ulp as two quarters
                x.pop_back();
                y.pop_back();
                push_pow2_product(x, y, half - 1, hs);
                push_pow2_product(x, y, half - 1, hs);
            }
        }
        fill_product_pairs(x, y, n);
        x.resize(n);
        y.resize(n);
    }

    void overflow_dot(std::vector<T> &x, std::vector<T> &y, size_t n) {
        const T s = one_in(2) ? (T)1 : (T)-1;
        x.push_back(s * maxval());
        y.push_back((T)1);
        if (n >= 2) {
            const int d = (emax - p) - irange(-1, 1);
            push_pow2_product(x, y, d, one_in(4) ? -s : s);
        }
        // Products that overflow on their own and cancel.
        while (x.size() + 2 <= n) {
            const T a = flip(with_exp(emax - irange(0, 3)));
            const T b = with_exp(irange(0, 40));
            x.push_back(a);
            y.push_back(b);
            x.push_back(-a);
            y.push_back(b);
        }
        if (x.size() < n) push_pow2_product(x, y, irange(2 * esub, emax - p - 2), (T)(one_in(2) ? 1 : -1));
        x.resize(n);
        y.resize(n);
    }

    void underflow_dot(std::vector<T> &x, std::vector<T> &y, size_t n) {
        // Products around the subnormal range of the target and below it.
        while (x.size() < n) {
            const int e = irange(esub - p - 4, emin + 2);
            int ex = irange(esub, emax);
            ex = std::clamp(ex, e - emax, e - esub);
            ex = std::clamp(ex, (int)esub, (int)emax);
            x.push_back(flip(with_exp(ex)));
            y.push_back(flip(with_exp(std::clamp(e - ex, (int)esub, (int)emax))));
            if (x.size() + 1 < n && one_in(3)) {  // and its negation
                x.push_back(-x.back());
                y.push_back(y.back());
            }
        }
        x.resize(n);
        y.resize(n);
    }

    void zero_dot(std::vector<T> &x, std::vector<T> &y, size_t n) {
        const int how = irange(0, 2);  // all products -0, all +0, mixed / with finite terms
        while (x.size() < n) {
            T a = (T)0, b = how == 2 ? any() : flip(with_exp(irange(esub, emax)));
            if (how == 0) {
                a = std::signbit((double)b) ? (T)0 : -(T)0;
            } else if (how == 1) {
                a = std::signbit((double)b) ? -(T)0 : (T)0;
            } else {
                a = flip((T)0);
            }
            if (one_in(2)) std::swap(a, b);
            x.push_back(a);
            y.push_back(b);
        }
    }

    void inject_special_products(std::vector<T> &x, std::vector<T> &y) {
        if (x.empty()) return;
        const int k = irange(1, 3);
        for (int i = 0; i < k; ++i) {
            const size_t at = rng() % x.size();
            switch (irange(0, 3)) {
                case 0: x[at] = special(); break;           // special times finite
                case 1: y[at] = special(); break;
                case 2: x[at] = flip((T)INFINITY); y[at] = flip((T)0); break;  // invalid
                default: x[at] = special(); y[at] = special(); break;
            }
        }
    }
};

}  // namespace testsupport

#endif
