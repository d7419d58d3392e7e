// Iteration counts of the randomized tests are multiplied by the value of the
// environment variable NORVA_TEST_SCALE (a float, default 1; the cross build
// running under emulation sets 0.25).
#ifndef NORVA_TESTS_TEST_SCALE_H
#define NORVA_TESTS_TEST_SCALE_H

#include <cmath>
#include <cstdlib>

namespace testsupport {

inline double test_scale() {
    static const double s = [] {
        const char *v = std::getenv("NORVA_TEST_SCALE");
        if (v == nullptr || *v == '\0') return 1.0;
        char *end = nullptr;
        const double d = std::strtod(v, &end);
        return (end != v && d > 0 && std::isfinite(d)) ? d : 1.0;
    }();
    return s;
}

// n iterations scaled, at least `floor` (default 1).
inline int scaled(int n, int floor = 1) {
    const int s = (int)std::lround(n * test_scale());
    return s < floor ? floor : s;
}

}  // namespace testsupport

#endif
