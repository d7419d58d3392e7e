// What the sparse exports report about a call (the path, the factor, the
// proof), as text and as JSON fields, for `norva solve` and `norva spd`.
// Apart from the readers in sparse.cpp, which the fuzz harness of the
// readers links without the JSON writer.
#include <cmath>
#include <cstdio>
#include <string>

#include "json.h"
#include "sparse.h"

namespace tool {

const char *sparse_method(int mode, const norva::sparse::report &r) {
    if (r.path != norva::sparse::path_cholesky) return band_method(mode);
    return "sparse Cholesky of A or A^T A, one normwise bound for every component "
           "(factorization error with a priori bounds)";
}

uint64_t factored_bandwidth(const norva::sparse::report &r) {
    return r.normal ? r.kl + r.ku : r.kl;
}

double factor_fill(const norva::sparse::report &r, uint64_t lower) {
    return lower == 0 ? 0 : (double)r.nnz_l / (double)lower;
}

std::string factorization_text(const norva::sparse::report &r, uint64_t lower, bool name_matrix) {
    const std::string of = !name_matrix ? "" : r.normal ? " of A^T A" : " of A";
    if (r.path == norva::sparse::path_band)
        return "band Cholesky" + of + " after reverse Cuthill-McKee, bandwidth " +
               std::to_string(factored_bandwidth(r));
    if (r.path != norva::sparse::path_cholesky)
        return "none (scratch memory ran out before a path was chosen)";
    char fill[64];
    std::snprintf(fill, sizeof fill, "%.2f", factor_fill(r, lower));
    return "sparse Cholesky (CHOLMOD supernodal)" + of + ", ordering " + r.ordering + ", " +
           std::to_string(r.nnz_l) + " entries in the factor, fill " + fill;
}

bool report_has_bound(const norva::sparse::report &r) { return r.lambda > -INFINITY; }

void json_report(json_writer &w, const norva::sparse::report &r, uint64_t lower, bool solve) {
    const bool band = r.path == norva::sparse::path_band,
               chol = r.path == norva::sparse::path_cholesky;
    if (band || chol)
        w.string("factorization", band ? "band" : "cholesky");
    else
        w.null("factorization");
    w.string("factored", r.normal ? "A^T A" : "A");
    w.string("ordering", r.ordering);
    if (band)
        w.unsigned_integer("bandwidth", factored_bandwidth(r));
    else
        w.null("bandwidth");
    if (chol) {
        w.unsigned_integer("factor_entries", r.nnz_l);
        w.unsigned_integer("factor_row_count", r.row_count);
        w.number("fill", factor_fill(r, lower));
    } else {
        w.null("factor_entries");
        w.null("factor_row_count");
        w.null("fill");
    }
    const bool bound = report_has_bound(r);
    // lambda_low, shift and error bound of the rescaled D A D when the
    // proof of A needed it.
    if (!solve) w.boolean("rescaled", r.scaled);
    if (bound) {
        w.exact("lambda_low", r.lambda);
        w.exact("shift", r.shift);
        w.exact("error_bound", r.error);
    } else {
        w.null("lambda_low");
        w.null("shift");
        w.null("error_bound");
    }
    // Counts the path did not report (0) are null.
    if (r.factorizations > 0)
        w.integer("factorizations", r.factorizations);
    else
        w.null("factorizations");
    if (solve && bound)
        w.integer("refinements", r.refinements);
    else if (solve)
        w.null("refinements");
}

}  // namespace tool
