// A library built without CHOLMOD: the band path serves every sparse
// matrix, and the Cholesky path is never chosen.
#include "sparse/paths.h"

namespace norva::sparse {

bool have_cholmod() { return false; }

analysis *analyze(const csr &, int32_t, report *) { return nullptr; }

void release(analysis *) {}

result cholesky_solve(const csr &, int32_t, analysis *, const double *, double *, double *,
                      int32_t, report *) {
    return result::no_memory;
}

result cholesky_spd(const csr &, analysis *, int32_t, double *, report *) {
    return result::no_memory;
}

}  // namespace norva::sparse
