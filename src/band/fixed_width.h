// Dispatch of the band kernels to a copy unrolled for one half bandwidth.
// For small w the sequential kernels are latency bound: a copy with w known
// at compile time keeps the current row (or the window of x) in registers
// and has no loop control inside a row.  The operations and their order are
// the same as in the general loops, so the results are bit for bit equal.
#ifndef NORVA_BAND_FIXED_WIDTH_H
#define NORVA_BAND_FIXED_WIDTH_H

#include <cstdint>
#include <type_traits>
#include <utility>

namespace norva::band {

// Half bandwidths 1 .. max_fixed_width have an unrolled copy.
constexpr uint64_t max_fixed_width = 8;

template <uint64_t W>
using width = std::integral_constant<uint64_t, W>;

template <class F, uint64_t... I>
bool dispatch_width(uint64_t w, F &f, std::integer_sequence<uint64_t, I...>) {
    return ((w == I + 1 ? (f(width<I + 1>{}), true) : false) || ...);
}

// Calls f(width<w>{}) and returns true when w has an unrolled copy; false
// (and no call) otherwise.
template <class F>
bool with_fixed_width(uint64_t w, F &&f) {
    return dispatch_width(w, f, std::make_integer_sequence<uint64_t, max_fixed_width>{});
}

}  // namespace norva::band

#endif
