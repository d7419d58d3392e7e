// norva sum: the exact sum of numbers read from a file or standard input,
// rounded once.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "commands.h"
#include "json.h"
#include "numbers.h"
#include "qxsum/qxsum.h"

namespace tool {

namespace {

const char sum_details[] =
    "Adds the numbers in FILE (standard input when FILE is absent or '-')\n"
    "exactly and prints the exact sum rounded once, in hexadecimal (%a) and in\n"
    "decimal with 17 significant digits (9 with --float), for example\n"
    "    0x1.8p+1  3\n"
    "\n"
    "Input: numbers separated by blanks, any number of them per line.  Blank\n"
    "lines and lines whose first non-blank character is '#' are skipped.  A\n"
    "number is a decimal (1, -2.5, 6.02e23) or C99 hexadecimal (0x1.8p-3)\n"
    "floating-point literal, or inf, infinity or nan (any case, optional sign).\n"
    "\n"
    "Each number is first converted to the nearest double (strtod, rounding to\n"
    "nearest; with --float, to the nearest float by strtof).  A decimal such as\n"
    "0.1 is not a binary floating-point number: the tool sums the doubles\n"
    "nearest to the inputs (0.1 becomes 0.1000000000000000055511151231257827...)\n"
    "exactly and rounds that exact sum once.  Hexadecimal literals are exact\n"
    "when they fit in 53 bits (24 with --float).  Literals below the subnormal\n"
    "range round to a subnormal or to zero as usual; a finite literal beyond\n"
    "the largest finite double (float), such as 1e400, is an error, not an\n"
    "infinity.\n"
    "\n"
    "Special values: a NaN, or +inf together with -inf, gives nan; otherwise\n"
    "an infinity gives that infinity.  An exactly zero sum is +0, except -0\n"
    "when every term is -0, and -0 in mode down when terms cancel.  An empty\n"
    "input sums to +0.\n"
    "\n"
    "Exit status: 0 on success; 2 on a bad option, an unreadable file or a\n"
    "malformed number, with a message naming the file and line on standard\n"
    "error and nothing on standard output.\n";

struct sum_options {
    std::string round = "nearest", path;
    bool single = false, json = false;
} opts;

struct mode_name {
    const char *name;
    uint32_t rnd;
};

const mode_name modes[] = {{"nearest", 0}, {"up", 1}, {"down", 2}, {"zero", 3}};

bool parse_mode(const char *s, uint32_t &rnd) {
    for (const mode_name &m : modes)
        if (std::strcmp(s, m.name) == 0) {
            rnd = m.rnd;
            return true;
        }
    return false;
}

int run_sum() {
    uint32_t rnd = 0;
    if (!parse_mode(opts.round.c_str(), rnd))
        return fail("sum", "unknown rounding mode '%s' (nearest, up, down or zero)",
                    opts.round.c_str());
    const bool single = opts.single, json = opts.json;
    const char *path = opts.path.empty() ? nullptr : opts.path.c_str();

    std::FILE *f = stdin;
    std::string name = "<stdin>";
    if (path && std::strcmp(path, "-") != 0) {
        name = path;
        f = std::fopen(path, "r");
        if (!f) {
            const int e = errno;
            return fail("sum", "%s: cannot open: %s", path, std::strerror(e));
        }
    }

    const auto t0 = std::chrono::steady_clock::now();
    qxsum_acc acc;
    qxsum_init(&acc);
    std::string error;
    const bool ok = read_numbers(
        f, name, single ? format::binary32 : format::binary64,
        [&acc](const double *x, std::size_t n) { qxsum_add(&acc, x, n); }, error);
    if (f != stdin) std::fclose(f);
    if (!ok) return fail("sum", "%s", error.c_str());

    const double s = single ? (double)qxsum_roundf(&acc, rnd) : qxsum_round(&acc, rnd);
    if (json) {
        json_writer w;
        json_begin(w, "sum");
        w.string("file", name);
        w.string("format", single ? "binary32" : "binary64");
        w.string("rounding", modes[rnd].name);
        w.exact("sum", s);
        w.number("time_s",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        w.finish();
    } else if (single) {
        std::printf("%a  %.9g\n", s, s);
    } else {
        std::printf("%a  %.17g\n", s, s);
    }
    return finish_output("sum");
}

}  // namespace

void declare_sum(CLI::App &app) {
    CLI::App *cmd = cli::command(app, "sum", "add numbers exactly and round the sum once",
                                 sum_details, run_sum, "more than one input file");
    cli::operand(cmd, "FILE", opts.path, "the numbers; standard input when absent or '-'");
    cli::value(cmd, "--round", opts.round, "MODE", "a mode: nearest, up, down or zero",
               "rounding of the result: nearest (ties to even), up (toward +inf), down "
               "(toward -inf), zero (toward zero)");
    cli::flag(cmd, "--float", opts.single, "read binary32 numbers and round the sum to a float");
    cli::flag(cmd, "--json", opts.json, "the sum as a JSON document (norva help)");
}

}  // namespace tool
