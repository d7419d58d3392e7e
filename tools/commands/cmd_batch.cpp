// norva batch A.mtx [B.mtx] [--mode 0|1|2] [--json]: many small dense
// systems of one order, stacked in one Matrix Market file, solved in one
// call of norva_solve_batch.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "json.h"
#include "linear.h"
#include "matrix_market.h"
#include "norva.h"

namespace tool {

namespace {

const char batch_details[] =
    "Encloses the solutions of count dense systems A_k x_k = b_k of one order n,\n"
    "solved in parallel in one call (norva_solve_batch), each exactly as\n"
    "norva solve solves it on its own: the same bounds, bit for bit.\n"
    "\n"
    "A is a Matrix Market file (array or coordinate; real or integer) of\n"
    "count * n rows and n columns: the matrices stacked vertically, rows\n"
    "(k-1) n + 1 .. k n holding A_k.  n is the number of columns and count the\n"
    "rows divided by n.  B has the same rows and one column, b_k in the same\n"
    "rows as A_k (default: vectors of ones).\n"
    "\n"
    "One line per component: the system k, the component i, the lower and\n"
    "upper bound (17 significant digits) and the width in units in the last\n"
    "place; a system not proven (for instance a singular A_k) shows\n"
    "\"unproven\" for every component, its bounds [-inf, inf].  Then the systems\n"
    "not proven, the count proven, the status (0 every system proven, 1 some\n"
    "not), the time (also per system) and the method.  --json writes the same\n"
    "as a JSON document (norva help explains its conventions), with a status\n"
    "and the enclosures per system.\n"
    "\n"
    "--blas is not taken: the batch solves with the library's built-in product.\n";

linear_options opts;

// At most this many unproven systems are named in the text output.
constexpr uint64_t listed_unproven = 20;

int run_batch() {
    int mode;
    if (!check_linear("batch", opts, 2, mode)) return exit_error;
    const bool json = opts.json;
    const std::string &a_path = opts.a_path, &b_path = opts.b_path;

    dense_matrix A, B;
    if (!load_matrix("batch", a_path, A)) return exit_error;
    const uint64_t n = A.cols;
    if (A.rows % n != 0)
        return fail("batch", "%s: %llu rows are not a multiple of the %llu columns: the file "
                             "must stack count matrices of order n as count * n rows of n "
                             "columns",
                    a_path.c_str(), (unsigned long long)A.rows, (unsigned long long)n);
    const uint64_t count = A.rows / n;
    if (!load_rhs("batch", b_path, A.rows, B)) return exit_error;
    if (B.cols != 1)
        return fail("batch", "%s: %llu columns; each system takes one right-hand side (one "
                             "column, system k's in the rows of A_k)",
                    b_path.c_str(), (unsigned long long)B.cols);

    std::vector<double> lo(A.rows), hi(A.rows);
    std::vector<int32_t> status(count, -1);
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t all = norva_solve_batch(count, n, A.v.data(), n * n, B.v.data(), n, lo.data(),
                                          hi.data(), n, mode, status.data());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (all < 0) return fail("batch", "the library rejected the batch (status %d)", all);

    std::vector<uint64_t> unproven;
    for (uint64_t k = 0; k < count; ++k)
        if (status[k] != 0) unproven.push_back(k);
    const uint64_t proven = count - unproven.size();
    const char *method = solve_method(mode, false);

    if (json) {
        json_writer w;
        json_begin(w, "batch");
        json_outcome(w, all, "batch", mode, false, method, seconds);
        w.unsigned_integer("count", count);
        w.unsigned_integer("n", n);
        w.string("a", a_path);
        w.string_or_null("b", b_path);
        w.unsigned_integer("proven_count", proven);
        w.number("time_per_system_s", seconds / (double)count);
        w.begin_array("systems");
        for (uint64_t k = 0; k < count; ++k) {
            w.begin_object(nullptr);
            w.unsigned_integer("system", k + 1);
            w.integer("status", status[k]);
            w.boolean("proven", status[k] == 0);
            w.begin_array("solution");
            for (uint64_t i = 0; i < n; ++i) w.enclosure(nullptr, lo[k * n + i], hi[k * n + i]);
            w.end_array();
            w.end_object();
        }
        w.end_array();
        w.finish();
        return finish_output("batch");
    }

    std::printf("%8s  %6s  %24s  %24s  %s\n", "system", "i", "lower", "upper", "width (ulp)");
    for (uint64_t k = 0; k < count; ++k)
        for (uint64_t i = 0; i < n; ++i) {
            const double l = lo[k * n + i], h = hi[k * n + i];
            char width[32] = "unproven";
            if (status[k] == 0 && std::isfinite(l) && std::isfinite(h))
                std::snprintf(width, sizeof width, "%llu", (unsigned long long)ulps_between(l, h));
            std::printf("%8llu  %6llu  %24.17g  %24.17g  %s\n", (unsigned long long)(k + 1),
                        (unsigned long long)(i + 1), l, h, width);
        }
    if (!unproven.empty()) {
        std::string names;
        for (uint64_t j = 0; j < unproven.size() && j < listed_unproven; ++j)
            names += (j ? ", " : "") + std::to_string(unproven[j] + 1);
        if (unproven.size() > listed_unproven)
            names += " and " + std::to_string(unproven.size() - listed_unproven) + " more";
        std::printf("not proven (every bound [-inf, inf]): system%s %s\n",
                    unproven.size() == 1 ? "" : "s", names.c_str());
    }
    std::printf("%llu of %llu systems proven\n", (unsigned long long)proven,
                (unsigned long long)count);
    std::printf("status %d (%s)\n", all,
                all == 0 ? "every system proven" : "some systems not proven");
    std::printf("time %.6f s (%.3g s per system), %llu systems, n = %llu, mode %d: %s\n", seconds,
                seconds / (double)count, (unsigned long long)count, (unsigned long long)n, mode,
                method);
    return finish_output("batch");
}

}  // namespace

void declare_batch(CLI::App &app) {
    CLI::App *cmd =
        cli::command(app, "batch", "verified solves of many small dense systems in one call",
                     batch_details, run_batch, "too many files (expected A.mtx [B.mtx])");
    declare_linear(cmd, opts, true, 2, solve_mode_help, false);
}

}  // namespace tool
