// The norva command-line tool, run as a program: `norva sum` against MPFR
// in every rounding mode (double and float, exact and inexact literals, the
// hard sums of hard_inputs.h), its error handling (exit status 2, a message
// naming file and line, nothing on standard output), the demo's exact
// results against values known from exact arithmetic, and the --json
// documents against the text output and exact solutions.
#include <fcntl.h>
#include <gmpxx.h>
#include <gtest/gtest.h>
#include <mpfr.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "norva.h"
#include "sparse/sparse.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

namespace {

using testsupport::same_bits;
namespace fs = std::filesystem;

const char *mode_arg[4] = {"nearest", "up", "down", "zero"};

// A scratch directory for input files, removed at exit.
const fs::path &scratch() {
    static const fs::path dir = [] {
        std::string tmpl = (fs::temp_directory_path() / "norva_tool_XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        return fs::path(tmpl);
    }();
    static const struct cleanup {
        ~cleanup() {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } c;
    return dir;
}

fs::path write_file(const std::string &name, const std::string &content) {
    const fs::path p = scratch() / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
}

std::string read_file(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct run_result {
    int status = -1;  // exit status, -1 if the tool did not exit normally
    std::string out, err;
    long max_rss_kb = 0;  // the most memory the tool held, in KiB
};

// Runs the tool with the given arguments; standard input is `input` (empty
// input when null).
run_result run(const std::vector<std::string> &args, const std::string *input = nullptr) {
    static int serial = 0;
    const std::string tag = std::to_string(serial++);
    const fs::path in = write_file("stdin" + tag, input ? *input : "");
    const fs::path out = scratch() / ("stdout" + tag), err = scratch() / ("stderr" + tag);
    std::vector<char *> argv;
    std::string tool = NORVA_TOOL;
    argv.push_back(tool.data());
    std::vector<std::string> copy = args;
    for (auto &a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fi = open(in.c_str(), O_RDONLY);
        const int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fi < 0 || fo < 0 || fe < 0) _exit(127);
        dup2(fi, 0);
        dup2(fo, 1);
        dup2(fe, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    run_result r;
    int st = 0;
    struct rusage usage {};
    if (pid > 0 && wait4(pid, &st, 0, &usage) == pid && WIFEXITED(st)) r.status = WEXITSTATUS(st);
    r.max_rss_kb = usage.ru_maxrss;
    r.out = read_file(out);
    r.err = read_file(err);
    fs::remove(in);
    fs::remove(out);
    fs::remove(err);
    return r;
}

// MPFR's own conversion of a literal to the nearest double (float): a
// parser independent of the C library's strtod/strtof.
template <class T>
T mpfr_parse(const std::string &s) {
    constexpr bool single = std::is_same_v<T, float>;
    const mpfr_exp_t old_min = mpfr_get_emin(), old_max = mpfr_get_emax();
    mpfr_set_emin(single ? -148 : -1073);
    mpfr_set_emax(single ? 128 : 1024);
    mpfr_t x;
    mpfr_init2(x, single ? 24 : 53);
    char *end = nullptr;
    int t = mpfr_strtofr(x, s.c_str(), &end, 10, MPFR_RNDN);
    EXPECT_EQ(*end, '\0') << s;
    t = mpfr_check_range(x, t, MPFR_RNDN);
    mpfr_subnormalize(x, t, MPFR_RNDN);
    const T v = single ? (T)mpfr_get_flt(x, MPFR_RNDN) : (T)mpfr_get_d(x, MPFR_RNDN);
    mpfr_clear(x);
    mpfr_set_emin(old_min);
    mpfr_set_emax(old_max);
    return v;
}

// The exact sum of the terms, rounded once (the oracle of support/oracle.h).
template <class T>
T oracle(const std::vector<T> &v, unsigned rnd) {
    testsupport::exact_total e(testsupport::sum_prec);
    for (T x : v) e.add((double)x);
    if constexpr (std::is_same_v<T, float>)
        return e.roundf(rnd);
    else
        return e.round(rnd);
}

// The value printed by `norva sum`; the whole output must be exactly
// "%a  %.17g\n" (float: "%a  %.9g\n") of that value.
template <class T>
::testing::AssertionResult printed(const run_result &r, T &v) {
    if (r.status != 0)
        return ::testing::AssertionFailure() << "exit status " << r.status << ", stderr: " << r.err;
    if (!r.err.empty()) return ::testing::AssertionFailure() << "stderr not empty: " << r.err;
    const std::string first = r.out.substr(0, r.out.find(' '));
    char *end = nullptr;
    v = std::is_same_v<T, float> ? (T)std::strtof(first.c_str(), &end)
                                 : (T)std::strtod(first.c_str(), &end);
    char want[128];
    if constexpr (std::is_same_v<T, float>)
        std::snprintf(want, sizeof want, "%a  %.9g\n", (double)v, (double)v);
    else
        std::snprintf(want, sizeof want, "%a  %.17g\n", v, v);
    if (r.out != want)
        return ::testing::AssertionFailure() << "output '" << r.out << "', expected '" << want << "'";
    return ::testing::AssertionSuccess();
}

// Random text input: every term either in an exact form (hexadecimal, or
// enough decimal digits to round-trip) or as an inexact decimal literal,
// several per line, with blank lines, comments and assorted blanks.
template <class T>
struct text_case {
    std::string text;
    std::vector<T> terms;  // the values the literals stand for
};

template <class T>
std::string decimal_literal(std::mt19937_64 &rng) {
    constexpr bool single = std::is_same_v<T, float>;
    std::string s = rng() & 1 ? "-" : "";
    const int digits = 1 + (int)(rng() % 40);
    s += (char)('1' + rng() % 9);
    if (digits > 1) s += '.';
    for (int i = 1; i < digits; i++) s += (char)('0' + rng() % 10);
    // Decimal exponents over the whole range, below the subnormals included,
    // never beyond the largest finite value.
    const int lo = single ? -47 : -326, hi = single ? 37 : 307;
    s += "e" + std::to_string(lo + (int)(rng() % (uint64_t)(hi - lo + 1)));
    return s;
}

// A decimal within 10^-(digits+1) of a halfway point between two adjacent
// values of the format: the hard case of a correctly rounding conversion.
template <class T>
std::string near_tie_literal(testsupport::hard_gen<T> &g) {
    constexpr bool single = std::is_same_v<T, float>;
    const T a = g.with_exp(g.irange(single ? -140 : -1060, single ? 120 : 1000));
    mpfr_t m;
    mpfr_init2(m, 80);
    mpfr_set_d(m, (double)a, MPFR_RNDN);
    mpfr_t h;
    mpfr_init2(h, 80);
    mpfr_set_d(h, (double)std::nextafter(a, (T)INFINITY), MPFR_RNDN);
    mpfr_add(m, m, h, MPFR_RNDN);
    mpfr_div_2ui(m, m, 1, MPFR_RNDN);  // the exact midpoint
    char buf[128];
    mpfr_snprintf(buf, sizeof buf, "%s%.*Re", g.rng() & 1 ? "-" : "", g.irange(16, 40), m);
    mpfr_clear(m);
    mpfr_clear(h);
    return buf;
}

template <class T>
text_case<T> make_case(testsupport::hard_gen<T> &g, size_t n, int kind) {
    constexpr bool single = std::is_same_v<T, float>;
    text_case<T> c;
    const std::vector<T> hard = g.sum_case(n, kind);
    const char *blanks[] = {" ", "  ", "\t", " \t "};
    const char *line_ends[] = {"\n", "\n", "\n", "\r\n", " \n"};
    size_t on_line = 0, per_line = 1 + g.rng() % 6;
    if (g.one_in(2)) c.text += "# norva sum test input\n";
    for (size_t i = 0; i < n; i++) {
        std::string lit;
        T v = hard[i];
        char buf[96];
        const int form = g.irange(0, 9);
        if (form <= 3 || std::isnan(v) || std::isinf(v)) {
            std::snprintf(buf, sizeof buf, form == 1 ? "%A" : "%a", (double)v);
            lit = buf;
        } else if (form <= 5) {
            std::snprintf(buf, sizeof buf, single ? "%.9g" : "%.17g", (double)v);
            lit = buf;
        } else if (form <= 7) {
            lit = decimal_literal<T>(g.rng);
            v = mpfr_parse<T>(lit);
        } else {
            lit = near_tie_literal(g);
            v = mpfr_parse<T>(lit);
        }
        c.terms.push_back(v);
        if (on_line > 0) c.text += blanks[g.rng() % 4];
        else if (g.one_in(8)) c.text += "  ";
        c.text += lit;
        if (++on_line == per_line) {
            c.text += line_ends[g.rng() % 5];
            if (g.one_in(10)) c.text += "\n";
            if (g.one_in(10)) c.text += "   # a comment 1 2 3\n";
            on_line = 0;
            per_line = 1 + g.rng() % 6;
        }
    }
    if (on_line > 0 && g.one_in(2)) c.text += "\n";
    return c;
}

template <class T>
void random_cases(uint64_t seed) {
    constexpr bool single = std::is_same_v<T, float>;
    testsupport::hard_gen<T> g(seed);
    const int cases = testsupport::scaled(36, 9);
    for (int t = 0; t < cases; t++) {
        const int kind = t % testsupport::hard_gen<T>::sum_kinds;
        const size_t n = (size_t)g.irange(0, 3) == 0 ? (size_t)g.irange(0, 5) : (size_t)g.irange(20, 300);
        const text_case<T> c = make_case(g, n, kind);
        const fs::path file = write_file("case" + std::to_string(t), c.text);
        for (unsigned rnd = 0; rnd < 4; rnd++) {
            std::vector<std::string> args = {"sum", "--round", mode_arg[rnd]};
            if (single) args.push_back("--float");
            args.push_back(file.string());
            T got;
            const run_result r = run(args);
            ASSERT_TRUE(printed(r, got)) << "case " << t << " kind " << kind << " mode " << mode_arg[rnd];
            EXPECT_TRUE(same_bits(got, oracle(c.terms, rnd)))
                << "case " << t << " kind " << kind << " mode " << mode_arg[rnd] << "\n" << c.text;
        }
        // Standard input and the default mode give the same as the file in
        // mode nearest.
        std::vector<std::string> args = {"sum"};
        if (single) args.push_back("--float");
        T got;
        const run_result r = run(args, &c.text);
        ASSERT_TRUE(printed(r, got));
        EXPECT_TRUE(same_bits(got, oracle(c.terms, 0))) << "stdin, case " << t;
    }
}

TEST(ToolSum, DoubleSumsMatchMpfrInEveryMode) { random_cases<double>(0x5eed0001); }

TEST(ToolSum, FloatSumsMatchMpfrInEveryMode) { random_cases<float>(0x5eed0002); }

// Inputs with a known IEEE answer: signed zeros, special values, overflow
// and underflow of the total, literals at the edges of the range, the
// spellings strtod accepts.
TEST(ToolSum, EdgeCasesMatchMpfr) {
    struct edge {
        const char *text;
        std::vector<double> terms;
    };
    const double max = 0x1.fffffffffffffp+1023;
    const std::vector<edge> edges = {
        {"", {}},
        {"# only a comment\n\n   \n", {}},
        {"-0 -0", {-0.0, -0.0}},
        {"0 -0\n", {0.0, -0.0}},
        {"1 -1", {1, -1}},
        {"inf -inf", {INFINITY, -INFINITY}},
        {"nan 1", {NAN, 1}},
        {"-INF 5 Infinity", {-INFINITY, 5, INFINITY}},
        {"-Infinity 1e308", {-INFINITY, 1e308}},
        {"1e308 1e308", {1e308, 1e308}},
        {"-1e308 -1e308", {-1e308, -1e308}},
        {"0x1.fffffffffffffp+1023 0x1p+970", {max, 0x1p+970}},
        {"1e308 1e308 -1e308", {1e308, 1e308, -1e308}},
        {"1 0x1p-53", {1, 0x1p-53}},
        {"1 0x1p-53 0x1p-1074", {1, 0x1p-53, 0x1p-1074}},
        {"1e-400 -1e-400 1", {0.0, -0.0, 1}},
        {"4e-324 2.4703282292062328e-324", {0x1p-1074, 0x1p-1074}},
        {"2.4703282292062327e-324", {0.0}},
        {"0X1.8P+1 +2 .5 5. 0x.8p1 0x10", {3, 2, 0.5, 5, 1, 16}},
        {"1e16 1 -1e16", {1e16, 1, -1e16}},
        {"0.1 0.2 -0.3", {0.1, 0.2, -0.3}},
    };
    for (const edge &e : edges) {
        const std::string text = e.text;
        for (unsigned rnd = 0; rnd < 4; rnd++) {
            double got;
            const run_result r = run({"sum", "--round", mode_arg[rnd]}, &text);
            ASSERT_TRUE(printed(r, got)) << "input '" << e.text << "'";
            EXPECT_TRUE(same_bits(got, oracle(e.terms, rnd)))
                << "input '" << e.text << "' mode " << mode_arg[rnd];
        }
    }
    // --round=MODE is the same option.
    const std::string text = "1 0x1p-60";
    double got;
    ASSERT_TRUE(printed(run({"sum", "--round=up"}, &text), got));
    EXPECT_TRUE(same_bits(got, 0x1.0000000000001p+0));
}

// --float converts each literal straight to the nearest float (strtof) and
// rounds the exact sum once to float: neither step goes through a double.
TEST(ToolSum, FloatAvoidsDoubleRounding) {
    float got;
    // 1 + 2^-24 + 10^-29: strtod gives the halfway point 1 + 2^-24, which
    // would round to 1; the nearest float is 1 + 2^-23.
    std::string text = "1.00000005960464477539062500001";
    ASSERT_TRUE(printed(run({"sum", "--float"}, &text), got));
    EXPECT_TRUE(same_bits(got, 0x1.000002p+0f));
    // 1 + 2^-24 + 2^-80: rounded to double first it would be 1 + 2^-24, a
    // tie that goes to 1.
    text = "1 0x1p-24 0x1p-80";
    ASSERT_TRUE(printed(run({"sum", "--float"}, &text), got));
    EXPECT_TRUE(same_bits(got, 0x1.000002p+0f));
    text = "1 0x1p-24";
    ASSERT_TRUE(printed(run({"sum", "--float"}, &text), got));
    EXPECT_TRUE(same_bits(got, 1.0f));
    // Overflow of a float sum, by mode.
    text = "3e38 3e38";
    ASSERT_TRUE(printed(run({"sum", "--float", "--round", "zero"}, &text), got));
    EXPECT_TRUE(same_bits(got, 0x1.fffffep+127f));
    ASSERT_TRUE(printed(run({"sum", "--float"}, &text), got));
    EXPECT_TRUE(same_bits(got, (float)INFINITY));
}

// A rejected run: exit status 2, nothing on standard output, and standard
// error containing every one of `needles`.
::testing::AssertionResult rejected(const run_result &r, const std::vector<std::string> &needles) {
    if (r.status != 2) return ::testing::AssertionFailure() << "exit status " << r.status;
    if (!r.out.empty()) return ::testing::AssertionFailure() << "stdout not empty: " << r.out;
    for (const std::string &n : needles)
        if (r.err.find(n) == std::string::npos)
            return ::testing::AssertionFailure() << "stderr '" << r.err << "' lacks '" << n << "'";
    return ::testing::AssertionSuccess();
}

TEST(ToolSum, MalformedNumbersAreRejectedWithFileAndLine) {
    struct bad {
        std::string text;
        int line;
        std::string token;
        bool single = false;
    };
    const std::vector<bad> cases = {
        {"1 2\n3x\n", 2, "3x"},
        {"1\n\n# comment\n  0x1.8q-3 4\n", 4, "0x1.8q-3"},
        {"1e400\n", 1, "1e400"},
        {"1\n-1e400", 2, "-1e400"},
        {"0x1p1024", 1, "0x1p1024"},
        {"1,5", 1, "1,5"},
        {"1 . 2", 1, "."},
        {"e5", 1, "e5"},
        {"0x", 1, "0x"},
        {"- 1", 1, "-"},
        {"1 2 # trailing comment", 1, "#"},
        {std::string("1\n2\n3 4\x00 5\n", 10), 3, "4\\x00"},
        {"1e39", 1, "1e39", true},
        {"0x1p128", 1, "0x1p128", true},
        {"1\n2\nabc", 3, "abc", true},
    };
    int i = 0;
    for (const bad &b : cases) {
        const fs::path file = write_file("bad" + std::to_string(i++), b.text);
        std::vector<std::string> args = {"sum"};
        if (b.single) args.push_back("--float");
        args.push_back(file.string());
        EXPECT_TRUE(rejected(run(args), {file.string() + ":" + std::to_string(b.line) + ":", b.token}))
            << "input '" << b.text << "'";
        args.pop_back();
        EXPECT_TRUE(rejected(run(args, &b.text), {"<stdin>:" + std::to_string(b.line) + ":", b.token}))
            << "input '" << b.text << "' on stdin";
    }
    // An overflowing literal is reported as such, not as a syntax error.
    const std::string big = "1e400";
    EXPECT_TRUE(rejected(run({"sum"}, &big), {"largest finite double"}));
}

TEST(ToolSum, BadOptionsAndUnreadableFilesAreRejected) {
    const fs::path ok = write_file("ok", "1 2\n");
    EXPECT_TRUE(rejected(run({"sum", "--round", "sideways", ok.string()}), {"sideways"}));
    EXPECT_TRUE(rejected(run({"sum", "--round=4", ok.string()}), {"'4'"}));
    EXPECT_TRUE(rejected(run({"sum", "--round"}), {"--round"}));
    EXPECT_TRUE(rejected(run({"sum", "--bogus", ok.string()}), {"--bogus"}));
    EXPECT_TRUE(rejected(run({"sum", ok.string(), ok.string()}), {"more than one"}));
    const std::string missing = (scratch() / "no-such-file").string();
    EXPECT_TRUE(rejected(run({"sum", missing}), {missing, "No such file"}));
    EXPECT_TRUE(rejected(run({"sum", scratch().string()}), {scratch().string()}));
    // "--" ends the options; "-" is standard input.
    const std::string text = "1 2";
    double got;
    ASSERT_TRUE(printed(run({"sum", "--", ok.string()}), got));
    EXPECT_EQ(got, 3.0);
    ASSERT_TRUE(printed(run({"sum", "-"}, &text), got));
    EXPECT_EQ(got, 3.0);
}

TEST(ToolCli, VersionHelpAndUnknownCommands) {
    run_result r = run({"version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(norva_version()) + "\n");
    for (const auto &args : std::vector<std::vector<std::string>>{{"--help"}, {"help"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 0);
        for (const char *cmd :
             {"version", "sum", "solve", "batch", "spd", "lstsq", "eig", "demo", "help"})
            EXPECT_NE(r.out.find(std::string("  ") + cmd + " "), std::string::npos) << cmd;
    }
    // The help of sum documents the input format and the modes.
    for (const auto &args : std::vector<std::vector<std::string>>{{"sum", "--help"}, {"help", "sum"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 0);
        for (const char *s : {"'#'", "nearest", "0.1", "1e400", "--float"})
            EXPECT_NE(r.out.find(s), std::string::npos) << s;
    }
    // The helps of the linear-algebra commands name their options.
    const std::vector<std::pair<std::string, std::vector<const char *>>> helps = {
        {"solve", {"--radius", "--rel-radius", "--rhs-radius", "mode 0 or 1", "--band", "--sparse",
                   "n >= 1000", "n^2/10"}},
        {"batch", {"count * n rows", "--mode 2", "bit for bit"}},
        {"spd", {"--factor", "--shift", "exactly symmetric"}},
        {"lstsq", {"--alpha", "minimum 2-norm", "power of two"}},
        {"eig", {"--vectors", "--values", "not separated", "[-inf, inf]", "exactly symmetric"}}};
    for (const auto &[cmd, words] : helps) {
        r = run({"help", cmd});
        EXPECT_EQ(r.status, 0);
        for (const char *w : words) EXPECT_NE(r.out.find(w), std::string::npos) << cmd << " " << w;
    }
    EXPECT_TRUE(rejected(run({"frobnicate"}), {"frobnicate"}));
    EXPECT_TRUE(rejected(run({}), {"Usage"}));
    EXPECT_TRUE(rejected(run({"version", "extra"}), {"extra"}));
    EXPECT_TRUE(rejected(run({"demo", "nosuchsection"}), {"nosuchsection"}));
}

// The demo prints, for every example, the naive result and the exact one in
// the four modes.  The exact results must be the true values (known from
// exact arithmetic or computed by MPFR here), and the naive result must
// differ from the exact one, or the example shows nothing.
// The whole demo, run once for the tests that check its sections.
const run_result &full_demo() {
    static const run_result r = run({"demo"});
    return r;
}

TEST(ToolDemo, ExactResultsAreTheTrueValues) {
    const run_result &r = full_demo();
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;

    struct example {
        double naive = NAN;
        std::vector<double> exact;
    };
    std::vector<example> ex;
    std::istringstream in(r.out);
    std::string line;
    auto value_after = [](const std::string &l, const std::string &label) {
        return std::strtod(l.c_str() + l.find(label) + label.size(), nullptr);
    };
    while (std::getline(in, line)) {
        if (line.find("naive left to right") != std::string::npos) {
            ex.emplace_back();
            ex.back().naive = value_after(line, "naive left to right");
        }
        for (const char *label : {"exact, to nearest", "exact, upward", "exact, downward",
                                  "exact, toward zero"})
            if (line.find(label) != std::string::npos) {
                ASSERT_FALSE(ex.empty());
                ex.back().exact.push_back(value_after(line, label));
            }
    }
    // Harmonic sum of the doubles 1/k, k = 1 .. 10^6.
    std::vector<double> h;
    for (int k = 1; k <= 1000000; k++) h.push_back(1.0 / k);
    std::vector<double> harmonic;
    for (unsigned rnd = 0; rnd < 4; rnd++) harmonic.push_back(oracle(h, rnd));
    const std::vector<std::vector<double>> want = {
        {1, 1, 1, 1},
        {2, 2, 2, 2},
        {0.5, 0.5, 0.5, 0.5},
        {1, 0x1.0000000000001p+0, 1, 1},  // ten times the double nearest 0.1
        {-2, -2, -2, -2},                 // Rump's polynomial without a/(2b)
        harmonic,
        {1e308, 1e308, 1e308, 1e308},
    };
    ASSERT_EQ(ex.size(), want.size()) << r.out;
    for (size_t i = 0; i < want.size(); i++) {
        ASSERT_EQ(ex[i].exact.size(), 4u) << "example " << i + 1;
        for (unsigned rnd = 0; rnd < 4; rnd++)
            EXPECT_TRUE(same_bits(ex[i].exact[rnd], want[i][rnd]))
                << "example " << i + 1 << " mode " << mode_arg[rnd];
        EXPECT_NE(ex[i].naive, want[i][0]) << "example " << i + 1;
    }
    // The %.17g column is the same value as the %a column on every line.
    std::istringstream again(r.out);
    int checked = 0;
    while (std::getline(again, line)) {
        if (line.find("exact, ") == std::string::npos) continue;
        // "   LABEL (22 columns) %a %.17g"
        std::istringstream fields(line.substr(26));
        std::string hex, dec;
        fields >> hex >> dec;
        EXPECT_TRUE(same_bits(std::strtod(dec.c_str(), nullptr), std::strtod(hex.c_str(), nullptr)))
            << line;
        checked++;
    }
    EXPECT_EQ(checked, 28);
}

// The bounds of the table printed by solve and lstsq ("i lower upper
// width"), in row order; 17 significant digits name the printed doubles
// exactly.
std::vector<std::pair<double, double>> enclosures(const std::string &out) {
    std::vector<std::pair<double, double>> box;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        unsigned long long i;
        char lo[64], hi[64];
        if (std::sscanf(line.c_str(), " %llu %63s %63s", &i, lo, hi) == 3)
            box.emplace_back(std::strtod(lo, nullptr), std::strtod(hi, nullptr));
    }
    return box;
}

// A random integer system with a known integer solution, written as a
// Matrix Market file in one of the supported layouts; the tool's bounds must
// contain the solution in every mode.
TEST(ToolSolve, EnclosuresContainTheKnownSolution) {
    std::mt19937_64 rng(0x5eed0100);
    for (int rep = 0; rep < 12; ++rep) {
        const int n = 2 + (int)(rng() % 9);
        std::vector<long long> a((size_t)n * n), x(n), b(n, 0);
        for (int i = 0; i < n; ++i) {
            x[i] = (long long)(rng() % 41) - 20;
            for (int j = 0; j < n; ++j) a[i * n + j] = (long long)(rng() % 21) - 10;
            a[i * n + i] += 40 * (rep % 2 ? 1 : -1);  // diagonally dominant
        }
        const bool symmetric = rep % 3 == 2;
        if (symmetric)
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < i; ++j) a[j * n + i] = a[i * n + j];
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) b[i] += a[i * n + j] * x[j];
        std::ostringstream A, B;
        if (rep % 3 == 0) {  // array, column by column
            A << "%%MatrixMarket matrix array integer general\n% comment\n" << n << " " << n << "\n";
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) A << a[i * n + j] << "\n";
        } else {
            A << "%%MatrixMarket matrix coordinate real " << (symmetric ? "symmetric" : "general")
              << "\n";
            std::vector<std::string> lines;
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j)
                    if (a[i * n + j] != 0 && (!symmetric || j <= i))
                        lines.push_back(std::to_string(i + 1) + " " + std::to_string(j + 1) + " " +
                                        std::to_string(a[i * n + j]) + ".0");
            A << n << " " << n << " " << lines.size() << "\n";
            for (const auto &l : lines) A << l << "\n";
        }
        B << "%%MatrixMarket matrix array real general\n" << n << " 1\n";
        for (int i = 0; i < n; ++i) B << b[i] << "\n";
        const fs::path fa = write_file("sys" + std::to_string(rep) + ".mtx", A.str());
        const fs::path fb = write_file("rhs" + std::to_string(rep) + ".mtx", B.str());
        for (const char *mode : {"0", "1", "2"}) {
            const run_result r = run({"solve", fa.string(), fb.string(), "--mode", mode});
            ASSERT_EQ(r.status, 0) << r.err;
            const auto box = enclosures(r.out);
            ASSERT_EQ(box.size(), (size_t)n) << r.out;
            for (int i = 0; i < n; ++i) {
                EXPECT_LE(box[i].first, (double)x[i]) << "mode " << mode << " row " << i;
                EXPECT_GE(box[i].second, (double)x[i]) << "mode " << mode << " row " << i;
                EXPECT_TRUE(std::isfinite(box[i].first) && std::isfinite(box[i].second));
            }
            EXPECT_NE(r.out.find("status 0"), std::string::npos);
        }
    }
}

TEST(ToolSolve, BadFilesAreRejectedWithTheLine) {
    struct bad {
        const char *text;
        const char *where;
    };
    const bad cases[] = {
        {"", ":0:"},
        {"%%MatrixMarket matrix array real general\n2 2\n1\n2\nx\n4\n", ":5:"},
        {"%%MatrixMarket matrix coordinate real general\n2 2 1\n3 1 1.0\n", ":3:"},
        {"%%MatrixMarket matrix coordinate real general\n2 2 2\n1 1 1.0\n1 1 2.0\n", ":4:"},
        {"%%MatrixMarket matrix coordinate complex general\n2 2 1\n1 1 1 0\n", ":1:"},
        {"%%MatrixMarket matrix array real general\n2 2\n1\n2\n3\n", ":5:"},
        {"%%MatrixMarket matrix array real general\n2 2\n1\n2\n1e999\n4\n", ":5:"},
        {"%%MatrixMarket matrix coordinate real symmetric\n2 2 1\n1 2 1.0\n", ":3:"},
        {"%%MatrixMarket matrix array real general\n2 3\n1\n2\n3\n4\n5\n6\n", "square"},
    };
    int k = 0;
    for (const bad &c : cases) {
        const fs::path f = write_file("bad" + std::to_string(k++) + ".mtx", c.text);
        const run_result r = run({"solve", f.string()});
        EXPECT_EQ(r.status, 2) << c.text;
        EXPECT_TRUE(r.out.empty()) << c.text;
        EXPECT_NE(r.err.find(c.where), std::string::npos) << r.err;
    }
    const run_result missing = run({"solve", (scratch() / "no-such.mtx").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
    const run_result mode = run({"solve", "x.mtx", "--mode", "3"});
    EXPECT_EQ(mode.status, 2);
}

// A dense matrix (row-major values) as a Matrix Market array file; %.17g
// writes every double exactly.
fs::path mtx(const std::string &name, int rows, int cols, const std::vector<double> &v) {
    std::string text = "%%MatrixMarket matrix array real general\n" + std::to_string(rows) + " " +
                       std::to_string(cols) + "\n";
    char buf[40];
    for (int j = 0; j < cols; ++j)
        for (int i = 0; i < rows; ++i) {
            std::snprintf(buf, sizeof buf, "%.17g\n", v[i * cols + j]);
            text += buf;
        }
    return write_file(name, text);
}

// The solution of the n x n system a x = b in exact rational arithmetic.
std::vector<mpq_class> exact_solve(int n, std::vector<mpq_class> a, std::vector<mpq_class> b) {
    for (int k = 0; k < n; ++k) {
        int p = k;
        while (a[p * n + k] == 0) ++p;
        for (int c = 0; c < n; ++c) std::swap(a[k * n + c], a[p * n + c]);
        std::swap(b[k], b[p]);
        for (int i = k + 1; i < n; ++i) {
            const mpq_class l = a[i * n + k] / a[k * n + k];
            for (int c = k; c < n; ++c) a[i * n + c] -= l * a[k * n + c];
            b[i] -= l * b[k];
        }
    }
    std::vector<mpq_class> x(n);
    for (int i = n - 1; i >= 0; --i) {
        mpq_class t = b[i];
        for (int c = i + 1; c < n; ++c) t -= a[i * n + c] * x[c];
        x[i] = t / a[i * n + i];
    }
    return x;
}

::testing::AssertionResult encloses(const std::vector<std::pair<double, double>> &box,
                                    const std::vector<mpq_class> &x) {
    if (box.size() != x.size()) return ::testing::AssertionFailure() << box.size() << " rows";
    for (size_t i = 0; i < x.size(); ++i)
        if (!std::isfinite(box[i].first) || !std::isfinite(box[i].second) ||
            mpq_class(box[i].first) > x[i] || x[i] > mpq_class(box[i].second))
            return ::testing::AssertionFailure()
                   << "component " << i << " [" << box[i].first << ", " << box[i].second
                   << "] misses " << x[i].get_d();
    return ::testing::AssertionSuccess();
}

// A random integer system, diagonally dominant.
void integer_system(std::mt19937_64 &rng, int n, std::vector<double> &a, std::vector<double> &b) {
    a.assign((size_t)n * n, 0.0);
    b.assign(n, 0.0);
    for (int i = 0; i < n; ++i) {
        b[i] = (double)((int)(rng() % 41) - 20);
        for (int j = 0; j < n; ++j) a[i * n + j] = (double)((int)(rng() % 11) - 5);
        a[i * n + i] += 16;
    }
}

// With every radius zero the interval solve gives the point enclosure.
TEST(ToolInterval, ZeroRadiusGivesThePointEnclosure) {
    std::mt19937_64 rng(0x5eed0200);
    for (int rep = 0; rep < 4; ++rep) {
        const int n = 2 + rep;
        std::vector<double> a, b;
        integer_system(rng, n, a, b);
        const std::string fa = mtx("za.mtx", n, n, a).string(),
                          fb = mtx("zb.mtx", n, 1, b).string(),
                          zero = mtx("zr.mtx", n, n, std::vector<double>(n * n, 0.0)).string();
        for (const char *mode : {"0", "1"}) {
            const run_result point = run({"solve", fa, fb, "--mode", mode});
            ASSERT_EQ(point.status, 0) << point.err;
            for (const auto &extra : std::vector<std::vector<std::string>>{
                     {"--radius", zero}, {"--rel-radius", "0"}}) {
                std::vector<std::string> args = {"solve", fa, fb, "--mode", mode};
                args.insert(args.end(), extra.begin(), extra.end());
                const run_result r = run(args);
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(enclosures(r.out), enclosures(point.out)) << r.out << point.out;
                EXPECT_NE(r.out.find("every system"), std::string::npos);
            }
        }
    }
}

// Widened data: the enclosure contains the exact solution of every corner
// system of the data intervals (exact rational solves).  The radii 0.1 and
// the relative radius 0.01 are inexact, so the ends must be rounded outward.
TEST(ToolInterval, EnclosureContainsEveryCornerSolution) {
    std::mt19937_64 rng(0x5eed0201);
    const double radii[] = {0, 0.0625, 0.1, 0.03};
    for (int rep = 0; rep < 4; ++rep) {
        const int n = 2 + rep % 2;
        const bool relative = rep >= 2;
        std::vector<double> a, b, ra(n * n), rb(n);
        integer_system(rng, n, a, b);
        for (double &r : ra) r = radii[rng() % 4];
        for (double &r : rb) r = radii[rng() % 4];
        std::vector<std::string> args = {"solve", mtx("ca.mtx", n, n, a).string(),
                                         mtx("cb.mtx", n, 1, b).string(), "--rhs-radius",
                                         mtx("crb.mtx", n, 1, rb).string()};
        if (relative) {
            args.insert(args.end(), {"--rel-radius", "0.01"});
        } else {
            args.insert(args.end(), {"--radius", mtx("cra.mtx", n, n, ra).string()});
        }
        for (const char *mode : {"0", "1"}) {
            std::vector<std::string> with_mode = args;
            with_mode.insert(with_mode.end(), {"--mode", mode});
            const run_result r = run(with_mode);
            ASSERT_EQ(r.status, 0) << r.err;
            ASSERT_NE(r.out.find("status 0"), std::string::npos) << r.out;
            const auto box = enclosures(r.out);
            for (int corner = 0; corner < 1 << (n * n + n); ++corner) {
                std::vector<mpq_class> qa(n * n), qb(n);
                for (int k = 0; k < n * n + n; ++k) {
                    const bool up = corner >> k & 1;
                    const mpq_class v = k < n * n ? mpq_class(a[k]) : mpq_class(b[k - n * n]);
                    const mpq_class rad = k >= n * n  ? mpq_class(rb[k - n * n])
                                          : relative ? mpq_class(0.01) * abs(mpq_class(a[k]))
                                                     : mpq_class(ra[k]);
                    (k < n * n ? qa[k] : qb[k - n * n]) = up ? mpq_class(v + rad)
                                                             : mpq_class(v - rad);
                }
                ASSERT_TRUE(encloses(box, exact_solve(n, qa, qb)))
                    << "mode " << mode << " corner " << corner << "\n" << r.out;
            }
        }
    }
}

// Least squares of a consistent overdetermined system and the minimum-norm
// solution x = A^T y of an underdetermined one: both exact integer vectors.
TEST(ToolLstsq, EnclosuresContainTheKnownSolution) {
    std::mt19937_64 rng(0x5eed0202);
    for (int rep = 0; rep < 6; ++rep) {
        const bool under = rep % 2;
        const int m = under ? 2 + rep / 2 : 4 + rep, n = under ? m + 2 : 2 + rep / 2;
        std::vector<double> a(m * n), b(m, 0.0), x(n, 0.0);
        for (double &v : a) v = (double)((int)(rng() % 19) - 9);
        if (under) {
            std::vector<double> y(m);
            for (double &v : y) v = (double)((int)(rng() % 7) - 3);
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < m; ++i) x[j] += a[i * n + j] * y[i];
        } else {
            for (double &v : x) v = (double)((int)(rng() % 21) - 10);
        }
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j) b[i] += a[i * n + j] * x[j];
        const std::string fa = mtx("la.mtx", m, n, a).string(),
                          fb = mtx("lb.mtx", m, 1, b).string();
        std::vector<mpq_class> want(x.begin(), x.end());
        for (const char *mode : {"0", "1", "2"})
            for (const char *alpha : {"0", "0.5"}) {
                const run_result r = run({"lstsq", fa, fb, "--mode", mode, "--alpha", alpha});
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_NE(r.out.find("status 0"), std::string::npos) << r.out;
                EXPECT_NE(r.out.find(under ? "minimum norm" : "least squares"), std::string::npos);
                EXPECT_TRUE(encloses(enclosures(r.out), want)) << "mode " << mode << "\n" << r.out;
            }
    }
}

// The lower bound printed by spd, or NaN when the output has none.
double spd_lower(const run_result &r) {
    const std::string key = "smallest eigenvalue: ";
    const size_t at = r.out.find(key);
    return at == std::string::npos ? NAN : std::strtod(r.out.c_str() + at + key.size(), nullptr);
}

TEST(ToolSpd, ProvesTheIdentityAndNeverAnIndefiniteMatrix) {
    // The identity as a symmetric coordinate file listing the diagonal only.
    const fs::path eye = write_file("eye.mtx",
                                    "%%MatrixMarket matrix coordinate integer symmetric\n"
                                    "3 3 3\n1 1 1\n2 2 1\n3 3 1\n");
    for (const char *mode : {"0", "1"}) {
        const run_result r = run({"spd", eye.string(), "--mode", mode});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("status 0"), std::string::npos) << r.out;
        const double lower = spd_lower(r);
        EXPECT_TRUE(lower > 0 && lower <= 1) << r.out;
    }
    // Indefinite: eigenvalues 3 and -1; F(40), F(41), F(42) with determinant
    // -1 (plain Cholesky factors it); a negative diagonal entry.
    const std::vector<std::vector<double>> indefinite = {
        {1, 2, 2, 1}, {102334155, 165580141, 165580141, 267914296}, {2, 0, 0, -1e-300}};
    for (const auto &a : indefinite)
        for (const char *mode : {"0", "1"}) {
            const run_result r = run({"spd", mtx("ind.mtx", 2, 2, a).string(), "--mode", mode});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find("status 1"), std::string::npos) << r.out;
            EXPECT_FALSE(spd_lower(r) > 0) << r.out;
        }
    // The caller's factor: A = 4 I, shift 1, L = sqrt(3) I; with shift 0
    // nothing is proven.
    const std::string four = mtx("four.mtx", 2, 2, {4, 0, 0, 4}).string(),
                      l = mtx("l.mtx", 2, 2, {std::sqrt(3.0), 0, 0, std::sqrt(3.0)}).string();
    run_result r = run({"spd", four, "--factor", l, "--shift", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(spd_lower(r) > 0.99 && spd_lower(r) <= 4) << r.out;
    EXPECT_NE(r.out.find("path: the factor"), std::string::npos) << r.out;
    r = run({"spd", four, "--factor", l, "--shift", "0"});
    EXPECT_NE(r.out.find("status 1"), std::string::npos) << r.out;
    r = run({"spd", mtx("neg.mtx", 2, 2, {2, 0, 0, -1}).string()});
    EXPECT_NE(r.out.find("A is not positive definite: its diagonal entry (2, 2)"),
              std::string::npos)
        << r.out;
}

// The smallest eigenvalue of d I minus the adjacency of the grid with the
// given sides, d - sum 2 cos(pi / (side + 1)), from MPFR rounded up.
double grid_lambda_min(double d, std::vector<int> sides) {
    mpfr_t pi, t, s;
    mpfr_inits2(256, pi, t, s, (mpfr_ptr)nullptr);
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_set_d(s, d, MPFR_RNDN);
    for (int m : sides) {
        mpfr_div_ui(t, pi, m + 1, MPFR_RNDN);
        mpfr_cos(t, t, MPFR_RNDN);
        mpfr_mul_2ui(t, t, 1, MPFR_RNDN);
        mpfr_sub(s, s, t, MPFR_RNDN);
    }
    const double v = mpfr_get_d(s, MPFR_RNDU);
    mpfr_clears(pi, t, s, (mpfr_ptr)nullptr);
    return v;
}

// That matrix of an r x c grid as a coordinate file: every entry, or (with
// `lower`) a symmetric file of the lower triangle.
std::string grid_file(const std::string &name, int r, int c, double d, bool lower) {
    std::string body;
    size_t count = 0;
    char buf[80];
    for (int g = 0; g < r * c; ++g)
        for (const auto &[di, dj] : {std::pair{-1, 0}, {0, -1}, {0, 0}, {0, 1}, {1, 0}}) {
            const int i = g / c + di, j = g % c + dj, h = i * c + j;
            if (i < 0 || i >= r || j < 0 || j >= c || (lower && h > g)) continue;
            std::snprintf(buf, sizeof buf, "%d %d %.17g\n", g + 1, h + 1, h == g ? d : -1.0);
            body += buf;
            ++count;
        }
    return write_file(name, std::string("%%MatrixMarket matrix coordinate real ") +
                                (lower ? "symmetric\n" : "general\n") + std::to_string(r * c) +
                                " " + std::to_string(r * c) + " " + std::to_string(count) + "\n" +
                                body)
        .string();
}

// The sparse driver of spd (automatic for a large coordinate file, or
// --sparse) and --dense on grid matrices with known smallest eigenvalue:
// the bound is below it, positive exactly when the matrix is positive
// definite, and the output names the factorization; the JSON document
// carries the same bound.
TEST(ToolSpd, SparseDriverBoundsTheGridLaplacians) {
    const bool chol = norva::sparse::have_cholmod();
    const std::string band = "band Cholesky after reverse Cuthill-McKee, bandwidth ";
    struct row {
        std::string file;
        double lambda;  // exact smallest eigenvalue, rounded up
        std::vector<std::string> args;
        int status;
        std::string text, factorization;
    };
    const std::vector<row> rows = {
        {grid_file("g1.mtx", 1200, 1, 2, true), grid_lambda_min(2, {1200}), {}, 0,
         "path: sparse (norva_spd_sparse, chosen for a coordinate file with 3598 entries", "band"},
        {grid_file("g2.mtx", 6, 6, 4, false), grid_lambda_min(4, {6, 6}), {"--sparse"}, 0, band,
         "band"},
        {grid_file("g3.mtx", 80, 80, 4, false), grid_lambda_min(4, {80, 80}),
         {"--sparse", "--mode", "1"}, 0,
         chol ? "sparse Cholesky (CHOLMOD supernodal), ordering " : band,
         chol ? "cholesky" : "band"},
        {grid_file("g4.mtx", 6, 6, 3.5, true), grid_lambda_min(3.5, {6, 6}), {"--sparse"}, 1, band,
         "band"},
        {grid_file("g5.mtx", 6, 6, 4, true), grid_lambda_min(4, {6, 6}), {"--dense"}, 0,
         "path: automatic (the library chose", ""},
    };
    for (const row &c : rows) {
        std::vector<std::string> args = {"spd", c.file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.file);
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("status " + std::to_string(c.status)), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
        const double lower =
            r.out.find("eigenvalue: none") != std::string::npos ? -INFINITY : spd_lower(r);
        EXPECT_TRUE(c.status == 0 ? lower > 0 && lower <= c.lambda : !(lower > 0)) << r.out;
        if (c.factorization.empty()) continue;
        if (c.status == 0) {
            EXPECT_NE(r.out.find("\nlambda_low "), std::string::npos) << r.out;
        }
        args.push_back("--json");
        const run_result j = run(args);
        EXPECT_NE(j.out.find("\"factorization\": \"" + c.factorization + "\""), std::string::npos)
            << j.out;
        char hex[64];
        std::snprintf(hex, sizeof hex, "\"lower\": {\"hex\": \"%a\"", lower);
        EXPECT_NE(j.out.find(hex), std::string::npos) << j.out;
    }
}

// Spectra known exactly: unsorted diagonals with a repeated entry, [2 1; 1 2]
// (1 and 3), the 3 x 3 all-ones matrix (0, 0 and 3), each by the library's
// own eigenpairs and from given ones (a permutation of the unit vectors, or
// the rounded normalised eigenvectors); the overlap report names exactly the
// repeated eigenvalues.
TEST(ToolEig, EnclosuresContainTheExactSpectrum) {
    const double r2 = 1 / std::sqrt(2.0), r3 = 1 / std::sqrt(3.0), r6 = 1 / std::sqrt(6.0);
    struct spectrum_case {
        int n;
        std::vector<double> a, v, d;
        std::vector<int> eigenvalues;  // ascending
        const char *overlap;           // the report line, or "no enclosures overlap"
    };
    const std::vector<spectrum_case> cases = {
        {1, {-7}, {1}, {-7}, {-7}, "no enclosures overlap"},
        {4, {5, 0, 0, 0, 0, -2, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0},
         {0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0}, {5, 5, 0, -2}, {-2, 0, 5, 5},
         "eigenvalues 3-4 overlap: not separated at this precision"},
        {2, {2, 1, 1, 2}, {r2, r2, -r2, r2}, {1, 3}, {1, 3}, "no enclosures overlap"},
        {3, std::vector<double>(9, 1.0), {r3, r2, r6, r3, -r2, r6, r3, 0, -2 * r6}, {3, 0, 0},
         {0, 0, 3}, "eigenvalues 1-2 overlap: not separated at this precision"},
    };
    for (const spectrum_case &c : cases) {
        const std::string fa = mtx("ea.mtx", c.n, c.n, c.a).string(),
                          fv = mtx("ev.mtx", c.n, c.n, c.v).string(),
                          fd = mtx("ed.mtx", c.n, 1, c.d).string();
        const std::vector<mpq_class> want(c.eigenvalues.begin(), c.eigenvalues.end());
        for (const char *mode : {"0", "1"})
            for (bool given : {false, true}) {
                std::vector<std::string> args = {"eig", fa, "--mode", mode};
                if (given) args.insert(args.end(), {"--vectors", fv, "--values", fd});
                const run_result r = run(args);
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_NE(r.out.find("status 0"), std::string::npos) << r.out;
                EXPECT_TRUE(encloses(enclosures(r.out), want)) << r.out;
                EXPECT_NE(r.out.find(c.overlap), std::string::npos) << r.out;
                EXPECT_EQ(r.out.find(" overlap:"), r.out.rfind(" overlap:")) << r.out;
            }
    }
    // Vectors far from orthonormal (2 I) prove nothing, and the tool says so.
    const run_result r = run({"eig", mtx("ea.mtx", 2, 2, {2, 1, 1, 2}).string(), "--vectors",
                              mtx("ev.mtx", 2, 2, {2, 0, 0, 2}).string(), "--values",
                              mtx("ed.mtx", 1, 2, {1, 3}).string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("status 1 (not proven: every enclosure is [-inf, inf]"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("overlap"), std::string::npos) << r.out;
}

TEST(ToolLinear, BadOptionsAndFilesAreRejected) {
    const std::string a = mtx("ba.mtx", 2, 2, {2, 1, 1, 3}).string(),
                      ns = mtx("bns.mtx", 2, 2, {2, 1, 0.5, 3}).string(),
                      wide = mtx("bw.mtx", 2, 3, {1, 2, 3, 4, 5, 6}).string(),
                      neg = mtx("bn.mtx", 2, 2, {0, 0.5, 0, -0.25}).string(),
                      b3 = mtx("b3.mtx", 3, 1, {1, 2, 3}).string(),
                      bad = write_file("bbad.mtx", "%%MatrixMarket matrix array real general\n"
                                                   "2 2\n0\n0\n0.1x\n0\n")
                                .string();
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        {{"solve", a, "--radius", neg}, {"entry (2, 2) is -0.25", "nonnegative"}},
        {{"solve", a, "--radius", wide}, {"the radii are 2 x 3"}},
        {{"solve", a, "--radius", bad}, {"bbad.mtx:5:"}},
        {{"solve", a, "--rhs-radius", a}, {"the radii are 2 x 2"}},
        {{"solve", a, "--rel-radius", "-1"}, {"negative"}},
        {{"solve", a, "--rel-radius", "inf"}, {"not a finite number"}},
        {{"solve", a, "--rel-radius"}, {"needs a number"}},
        {{"solve", a, "--rel-radius", "0.1", "--mode", "2"}, {"mode 0 or 1"}},
        {{"solve", a, "--rel-radius", "0.1", "--radius", a}, {"choose one"}},
        {{"solve", a, "--rel-radius", "1e308"}, {"beyond the range of doubles"}},
        {{"spd", ns}, {"not symmetric", "(2, 1) is 0.5", "(1, 2) is 1"}},
        {{"spd", wide}, {"not square"}},
        {{"spd", a, "--mode", "2"}, {"bad mode '2'"}},
        {{"spd", a, "--factor", a}, {"go together"}},
        {{"spd", a, "--shift", "1"}, {"go together"}},
        {{"spd", a, "--factor", wide, "--shift", "1"}, {"the factor is 2 x 3"}},
        {{"spd", bad}, {"bbad.mtx:5:"}},
        {{"spd", a, "--dense", "--sparse"}, {"choose one of --dense and --sparse"}},
        {{"spd", a, "--sparse", "--blas"}, {"--sparse does not take --blas"}},
        {{"spd", a, "--sparse", "--factor", a, "--shift", "1"}, {"--sparse does not take --factor"}},
        {{"spd", ns, "--sparse"}, {"not symmetric", "(2, 1) is 0.5", "(1, 2) is 1"}},
        {{"lstsq", wide, "--alpha", "3"}, {"power of two"}},
        {{"lstsq", wide, "--alpha", "-0.5"}, {"power of two"}},
        {{"lstsq", wide, "--mode", "3"}, {"bad mode '3'"}},
        {{"lstsq", wide, b3}, {"3 rows, but the matrix has 2"}},
        {{"lstsq", bad}, {"bbad.mtx:5:"}},
        {{"lstsq"}, {"missing the matrix file"}},
        {{"eig", ns}, {"not symmetric", "(2, 1) is 0.5", "(1, 2) is 1"}},
        {{"eig", wide}, {"not square"}},
        {{"eig", bad}, {"bbad.mtx:5:"}},
        {{"eig", a, a}, {"too many files"}},
        {{"eig", a, "--mode", "2"}, {"bad mode '2'"}},
        {{"eig", a, "--vectors", a}, {"go together"}},
        {{"eig", a, "--values", b3}, {"go together"}},
        {{"eig", a, "--values"}, {"--values needs a Matrix Market file"}},
        {{"eig", a, "--vectors", wide, "--values", b3}, {"the eigenvectors are 2 x 3"}},
        {{"eig", a, "--vectors", a, "--values", b3}, {"the eigenvalues are 3 x 1", "vector of 2"}},
        {{"eig", a, "--vectors", a, "--values", a}, {"the eigenvalues are 2 x 2"}},
        {{"eig", a, "--vectors", a, "--values", bad}, {"bbad.mtx:5:"}},
        {{"batch", wide}, {"2 rows are not a multiple of the 3 columns"}},
        {{"batch", bad}, {"bbad.mtx:5:"}},
        {{"batch", a, b3}, {"3 rows, but the matrix has 2"}},
        {{"batch", a, a}, {"one right-hand side"}},
        {{"batch", a, "--mode", "3"}, {"bad mode '3'"}},
        {{"batch", a, "--blas"}, {"--blas"}},
    };
    for (const auto &[args, needles] : cases)
        EXPECT_TRUE(rejected(run(args), needles)) << args[0] << " " << args.back();
}

// The new demo sections print what they claim: the verified results are
// checked here against values known exactly.
TEST(ToolDemo, SpdIntervalAndLstsqSectionsHoldTheirClaims) {
    // The text after `label` on its first line at or after `from`.
    auto field = [](const std::string &out, const std::string &label, size_t from) {
        const size_t p = out.find(label, from);
        if (p == std::string::npos) return std::string();
        const size_t b = out.find_first_not_of(' ', p + label.size());
        return out.substr(b, out.find('\n', b) - b);
    };
    run_result r = run({"demo", "spd"});
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t second = r.out.find("\n2. "), third = r.out.find("\n3. ");
    ASSERT_TRUE(second != std::string::npos && third != std::string::npos) << r.out;
    // Determinants by Cassini's identity: -1 (indefinite), then +1 twice.
    EXPECT_EQ(field(r.out, "determinant", 0).substr(0, 3), "-1 ") << r.out;
    EXPECT_EQ(field(r.out, "determinant", second).substr(0, 2), "1 ") << r.out;
    EXPECT_EQ(field(r.out, "plain Cholesky", 0).substr(0, 8), "succeeds");
    EXPECT_EQ(field(r.out, "norva_spd", 0).substr(0, 8), "status 1");
    EXPECT_EQ(field(r.out, "plain Cholesky", second).substr(0, 11), "breaks down");
    // Example 3, [34 55; 55 89]: the bound l is below the smallest eigenvalue
    // exactly when A - l I is positive semidefinite.
    const std::string key = "smallest eigenvalue >= ";
    const size_t at = r.out.find(key, third);
    ASSERT_NE(at, std::string::npos) << r.out;
    const mpq_class l(std::strtod(r.out.c_str() + at + key.size(), nullptr));
    EXPECT_TRUE(l > 0 && 34 - l >= 0 && (34 - l) * (89 - l) - 3025 >= 0) << l.get_d();

    // The nominal system [4 3.5; 3 2.75] x = [1; 2] has x = (-8.5, 10).
    r = run({"demo", "interval"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("64 solved and proven one by one, 64 inside"), std::string::npos) << r.out;
    std::vector<double> bounds;
    for (size_t p = r.out.find("in ["); p != std::string::npos; p = r.out.find("in [", p + 1)) {
        char *end;
        bounds.push_back(std::strtod(r.out.c_str() + p + 4, &end));
        bounds.push_back(std::strtod(end + 1, nullptr));
    }
    // Nominal and interval, x_1 and x_2; then the wide example's x_1, x_2,
    // whose vertex solutions reach -4 and 4 and whose hull is [-14, 14].
    ASSERT_EQ(bounds.size(), 12u) << r.out;
    for (int k = 0; k < 4; ++k) {
        const double x = k % 2 ? 10 : -8.5;
        EXPECT_TRUE(bounds[2 * k] <= x && x <= bounds[2 * k + 1]) << k << "\n" << r.out;
    }
    EXPECT_LT(bounds[4], bounds[0] - 1);  // the data's uncertainty shows
    for (int k = 4; k < 6; ++k)
        EXPECT_TRUE(bounds[2 * k] <= -14 && bounds[2 * k] >= -14.01 && bounds[2 * k + 1] >= 14 &&
                    bounds[2 * k + 1] <= 14.01)
            << r.out;

    // The fit's true coefficients are (3, -2, 0.5).
    r = run({"demo", "lstsq"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("status 0: proven, each bound contains"), std::string::npos) << r.out;
    const double want[3] = {3, -2, 0.5};
    for (int j = 0; j < 3; ++j) {
        const std::string c = "c" + std::to_string(j) + " in [";
        const size_t p = r.out.find(c);
        ASSERT_NE(p, std::string::npos) << r.out;
        char *end;
        const double lo = std::strtod(r.out.c_str() + p + c.size(), &end);
        EXPECT_TRUE(lo <= want[j] && want[j] <= std::strtod(end + 1, nullptr)) << c;
    }
    const size_t p = r.out.find("c0 = ");
    ASSERT_NE(p, std::string::npos);
    EXPECT_GT(std::fabs(std::strtod(r.out.c_str() + p + 5, nullptr) - 3), 1);
}

// The eigenvalue section: A = Q diag(s) Q^T is exact, so its spectrum s is
// known; every printed enclosure must contain it, and the overlaps reported
// must be the ones of the printed bounds.
TEST(ToolDemo, EigSectionHoldsItsClaims) {
    const run_result r = run({"demo", "eig"});
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t second = r.out.find("\n2. ");
    ASSERT_NE(second, std::string::npos) << r.out;
    const double spectra[2][4] = {{1, 1, 1 + 0x1p-40, 5}, {1, 1, 1 + 0x1p-50, 2}};
    for (int ex = 0; ex < 2; ++ex) {
        const std::string part = ex ? r.out.substr(second) : r.out.substr(0, second);
        EXPECT_NE(part.find("every entry of A is a double"), std::string::npos) << part;
        EXPECT_NE(part.find("4 of 4 enclosures contain"), std::string::npos) << part;
        std::vector<double> lo, hi;
        for (size_t p = part.find(" in ["); p != std::string::npos; p = part.find(" in [", p + 1)) {
            char *end;
            lo.push_back(std::strtod(part.c_str() + p + 5, &end));
            hi.push_back(std::strtod(end + 1, nullptr));
        }
        ASSERT_EQ(lo.size(), 4u) << part;
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(lo[i] <= spectra[ex][i] && spectra[ex][i] <= hi[i]) << i << "\n" << part;
        // Example 1: 1-2 overlap, 3 and 4 stand alone; example 2: 1-3 overlap,
        // each wider than the gap 2^-50.
        const int run_end = ex ? 2 : 1;
        EXPECT_NE(part.find(ex ? "eigenvalues 1-3 overlap: not separated at this precision"
                               : "eigenvalues 1-2 overlap: not separated at this precision"),
                  std::string::npos)
            << part;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(lo[i + 1] <= hi[i], i < run_end) << i << "\n" << part;
        for (int i = 0; ex && i < 3; ++i) EXPECT_GT(hi[i] - lo[i], 0x1p-50);
    }
    // The plain solver's values for the double eigenvalue, and whether the
    // explanation says that they differ.
    const size_t p = r.out.find("plain Jacobi");
    ASSERT_NE(p, std::string::npos);
    double first, other;
    ASSERT_EQ(std::sscanf(r.out.c_str() + p + 12, "%lf %lf", &first, &other), 2);
    EXPECT_EQ(first != other,
              r.out.find("prints two different numbers") != std::string::npos)
        << r.out;
}

// A square integer matrix given by its entries (i, j, a_ij), 0-based, with
// the exact product b = A x, for the band and sparse paths.
struct sparse_system {
    int n;
    std::vector<std::tuple<int, int, long long>> entries;
    std::vector<long long> x, b;
};

sparse_system make_sparse(int n, std::vector<std::tuple<int, int, long long>> entries,
                          std::mt19937_64 &rng) {
    sparse_system s{n, std::move(entries), std::vector<long long>(n), std::vector<long long>(n)};
    for (long long &v : s.x) v = (long long)(rng() % 41) - 20;
    for (const auto &[i, j, a] : s.entries) s.b[i] += a * s.x[j];
    return s;
}

// The system as a coordinate file of every entry, and its right-hand side.
std::pair<std::string, std::string> sparse_files(const std::string &name, const sparse_system &s) {
    std::string a = "%%MatrixMarket matrix coordinate integer general\n" + std::to_string(s.n) +
                    " " + std::to_string(s.n) + " " + std::to_string(s.entries.size()) + "\n";
    for (const auto &[i, j, v] : s.entries)
        a += std::to_string(i + 1) + " " + std::to_string(j + 1) + " " + std::to_string(v) + "\n";
    std::string b = "%%MatrixMarket matrix array integer general\n" + std::to_string(s.n) + " 1\n";
    for (long long v : s.b) b += std::to_string(v) + "\n";
    return {write_file(name + ".mtx", a).string(), write_file(name + "_b.mtx", b).string()};
}

::testing::AssertionResult encloses(const std::vector<std::pair<double, double>> &box,
                                    const std::vector<long long> &x) {
    std::vector<mpq_class> q;
    for (long long v : x) q.emplace_back((long)v);
    return encloses(box, q);
}

// Small systems through --band and --sparse in both modes: the enclosures
// contain the known integer solution, and the output names the path with
// the bandwidths (lower/upper) of the file and after the renumbering.
TEST(ToolSolve, BandAndSparsePathsEncloseTheKnownSolution) {
    std::mt19937_64 rng(0x5eed0300);
    std::vector<std::tuple<int, int, long long>> band, path, arrow;
    // A nonsymmetric band, one diagonal below and two above: normal equations.
    for (int i = 0; i < 9; ++i)
        for (int j = std::max(0, i - 1); j <= std::min(8, i + 2); ++j)
            band.emplace_back(i, j, i == j ? 9 : (long long)(rng() % 7) - 3 + (i + j) % 2);
    // A symmetric tridiagonal matrix with its unknowns numbered at random: the
    // renumbering gives it back bandwidths 1/1.
    std::vector<int> p(12);
    for (int k = 0; k < 12; ++k) p[k] = k;
    std::shuffle(p.begin(), p.end(), rng);
    for (int k = 0; k < 12; ++k) {
        path.emplace_back(p[k], p[k], 3);
        if (k > 0) path.emplace_back(p[k], p[k - 1], -1), path.emplace_back(p[k - 1], p[k], -1);
    }
    // A symmetric indefinite arrow: the first row and column full.
    for (int i = 0; i < 7; ++i) {
        arrow.emplace_back(i, i, i % 2 ? 10 : -10);
        if (i > 0) arrow.emplace_back(0, i, 1), arrow.emplace_back(i, 0, 1);
    }
    struct row {
        const char *name;
        sparse_system sys;
        std::string band_text, sparse_text;
    };
    std::vector<row> rows = {
        {"sb", make_sparse(9, band, rng), "bandwidths 1/2 from", "2/1 after"},
        {"sp", make_sparse(12, path, rng), "", "1/1 after"},
        {"sa", make_sparse(7, arrow, rng), "bandwidths 6/6 from", ""},
    };
    for (const row &c : rows) {
        const auto [fa, fb] = sparse_files(c.name, c.sys);
        uint64_t kl = 0, ku = 0;
        for (const auto &[i, j, v] : c.sys.entries) {
            kl = std::max<uint64_t>(kl, i > j ? i - j : 0);
            ku = std::max<uint64_t>(ku, j > i ? j - i : 0);
        }
        const std::string before =
            "bandwidth " + std::to_string(kl) + "/" + std::to_string(ku) + " before, ";
        for (const char *mode : {"0", "1"})
            for (const char *flag : {"--band", "--sparse"}) {
                const run_result r = run({"solve", fa, fb, flag, "--mode", mode});
                ASSERT_EQ(r.status, 0) << r.err;
                EXPECT_TRUE(encloses(enclosures(r.out), c.sys.x)) << c.name << flag << mode;
                EXPECT_NE(r.out.find("status 0"), std::string::npos);
                const bool b = flag[2] == 'b';
                const std::string name = b ? "band path (norva_solve_band)" : "sparse path (norva_solve_sparse)";
                for (const std::string &w : {name, b ? c.band_text : before + c.sparse_text})
                    EXPECT_NE(r.out.find(w), std::string::npos) << w << "\n" << r.out;
            }
    }
    // A dense array file on the band path: its nonzeros define the band.
    const std::string fa = mtx("sd.mtx", 3, 3, {2, 1, 0, 1, 2, 0, 0, 0, 4}).string();
    const run_result r = run({"solve", fa, "--band"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(encloses(enclosures(r.out),
                         std::vector<mpq_class>{mpq_class(1, 3), mpq_class(1, 3), mpq_class(1, 4)}));
    EXPECT_NE(r.out.find("bandwidths 1/1 from"), std::string::npos) << r.out;
}

// A coordinate file of 20000 unknowns and 3 nonzeros per row goes to the
// sparse path by itself and is never made dense (2^28 entries would be
// refused); a small one stays dense; --dense refuses the large one.
TEST(ToolSolve, LargeSparseFilesTakeTheSparsePath) {
    std::mt19937_64 rng(0x5eed0301);
    std::vector<std::tuple<int, int, long long>> tri;
    const int n = 20000;
    for (int i = 0; i < n; ++i)
        for (int j = std::max(0, i - 1); j <= std::min(n - 1, i + 1); ++j)
            tri.emplace_back(i, j, i == j ? 5 : j < i ? -1 : -2);
    const sparse_system big = make_sparse(n, tri, rng);
    const auto [fa, fb] = sparse_files("big", big);
    run_result r = run({"solve", fa, fb});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(encloses(enclosures(r.out), big.x));
    EXPECT_NE(r.out.find("sparse path (norva_solve_sparse, chosen for a coordinate file with 59998 "
                         "entries, at most n^2/10, and n >= 1000): bandwidth 1/1 before, 1/1 after "
                         "reordering\nfactorization: band Cholesky of A^T A after reverse "
                         "Cuthill-McKee, bandwidth 2\n"),
              std::string::npos)
        << r.out.substr(r.out.size() - 400);
    EXPECT_TRUE(rejected(run({"solve", fa, fb, "--dense"}), {"too large for a dense solve"}));

    const sparse_system small = make_sparse(6, {{0, 0, 2}, {1, 1, 2}, {2, 2, 2}, {3, 3, 2},
                                                {4, 4, 2}, {5, 5, 2}}, rng);
    const auto [sa, sb] = sparse_files("small", small);
    r = run({"solve", sa, sb});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(encloses(enclosures(r.out), small.x));
    EXPECT_EQ(r.out.find("path"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Ozaki"), std::string::npos) << r.out;
}

TEST(ToolSolve, BandAndSparseRejectWhatTheyCannotDo) {
    std::mt19937_64 rng(0x5eed0302);
    const auto [fa, fb] = sparse_files("bad", make_sparse(2, {{0, 0, 2}, {1, 1, 3}, {0, 1, 1}}, rng));
    const std::string b2 = mtx("bad2.mtx", 2, 2, {1, 2, 3, 4}).string();
    // The corners of a diagonal matrix of 20000: a band of 2 x 19999 + 1
    // diagonals would need 8 * 10^8 doubles.
    std::vector<std::tuple<int, int, long long>> corners = {{0, 19999, 1}, {19999, 0, 1}};
    for (int i = 0; i < 20000; ++i) corners.emplace_back(i, i, 4);
    const auto [wa, wb] = sparse_files("wide", make_sparse(20000, corners, rng));
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        {{"solve", fa, "--band", "--sparse"}, {"choose one of --dense, --band and --sparse"}},
        {{"solve", fa, "--sparse", "--dense"}, {"choose one"}},
        {{"solve", fa, "--band", "--mode", "2"}, {"--band solves in mode 0 or 1"}},
        {{"solve", fa, "--sparse", "--mode", "2"}, {"--sparse solves in mode 0 or 1"}},
        {{"solve", fa, "--sparse", "--blas"}, {"--blas"}},
        {{"solve", fa, "--band", "--rel-radius", "0.1"}, {"--band does not take radii"}},
        {{"solve", fa, "--sparse", "--rhs-radius", fb}, {"--sparse does not take radii"}},
        {{"solve", fa, b2, "--band"}, {"--band takes one right-hand side", "2 columns"}},
        {{"solve", wa, wb, "--band"}, {"19999/19999", "more than 2^27", "--sparse"}},
    };
    for (const auto &[args, needles] : cases)
        EXPECT_TRUE(rejected(run(args), needles)) << args[2] << " " << args.back();
}

// An arrow of 20000 unknowns (row and column 1 full): every numbering
// leaves a band of about n/2 diagonals, beyond the band path's 2^27
// doubles.  A library with CHOLMOD solves it on the sparse Cholesky path;
// one without refuses it.
TEST(ToolSolve, SparseCholeskyTakesWhatTheBandPathCannot) {
    std::mt19937_64 rng(0x5eed0303);
    const int n = 20000;
    std::vector<std::tuple<int, int, long long>> arrow = {{0, 0, n}};
    for (int i = 1; i < n; ++i) arrow.insert(arrow.end(), {{i, i, 2}, {0, i, 1}, {i, 0, 1}});
    const sparse_system sys = make_sparse(n, arrow, rng);
    const auto [fa, fb] = sparse_files("arrow", sys);
    const run_result r = run({"solve", fa, fb, "--sparse"});
    if (!norva::sparse::have_cholmod()) {
        EXPECT_TRUE(rejected(r, {"more than 2^27", "without CHOLMOD"}));
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(encloses(enclosures(r.out), sys.x));
    for (const char *w : {"status 0", "factorization: sparse Cholesky (CHOLMOD supernodal) of A, "
                                      "ordering ", "\nproof: lambda_low "})
        EXPECT_NE(r.out.find(w), std::string::npos) << w << "\n" << r.out.substr(r.out.size() - 600);
}

// The sparse section: a 141 x 141 grid Laplacian (5 n - 4 * 141 nonzeros)
// with a known integer solution; every enclosure must contain it.
TEST(ToolDemo, SparseSectionHoldsItsClaims) {
    const run_result &r = full_demo();
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t at = r.out.find("== A sparse system");
    ASSERT_NE(at, std::string::npos);
    const std::string part = r.out.substr(at);
    for (const char *w : {"unknowns               19881\n", "nonzeros               98841\n",
                          "141/141 in grid order", "mode 1: status 0 in ",
                          "19881 of 19881 enclosures contain the exact solution component"})
        EXPECT_NE(part.find(w), std::string::npos) << w << "\n" << part;
    unsigned long long random_kl, random_ku, kl, ku;
    const size_t p = part.find("grid order, ");
    ASSERT_NE(p, std::string::npos);
    ASSERT_EQ(std::sscanf(part.c_str() + p + 12, "%llu/%llu with the points numbered at random, "
                                                 "%llu/%llu after reordering",
                          &random_kl, &random_ku, &kl, &ku), 4) << part;
    EXPECT_TRUE(kl == ku && ku < 200 && random_kl > 10000) << part;
    const size_t w = part.find("widest enclosure");
    ASSERT_NE(w, std::string::npos);
    const double width = std::strtod(part.c_str() + w + 16, nullptr);
    EXPECT_TRUE(width > 0 && width < 1e-10) << width;
}

// The 3-D Poisson section: every enclosure holds the known solution, the
// band that the band path would need for the 47^3 grid is beyond its limit,
// and the proven bound lies below the closed-form smallest eigenvalue.
TEST(ToolDemo, PoissonSectionHoldsItsClaims) {
    const run_result &r = full_demo();
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t at = r.out.find("== A 3-D Poisson problem beyond the band solver ==");
    ASSERT_NE(at, std::string::npos);
    const std::string part = r.out.substr(at);
    const bool chol = norva::sparse::have_cholmod();
    const int k = chol ? 47 : 15;
    const std::string n = std::to_string(k * k * k);
    for (const std::string &w :
         {"unknowns               " + n + "\n", std::string("mode 1: status 0 in "),
          n + " of " + n + " enclosures contain the exact solution component",
          std::string(chol ? "sparse Cholesky (CHOLMOD supernodal) of A, ordering "
                           : "band Cholesky of A after reverse Cuthill-McKee")})
        EXPECT_NE(part.find(w), std::string::npos) << w << "\n" << part;
    unsigned long long kl, ku, doubles;
    const size_t p = part.find("47^3 grid: bandwidths ");
    ASSERT_NE(p, std::string::npos);
    ASSERT_EQ(std::sscanf(part.c_str() + p, "47^3 grid: bandwidths %llu/%llu after reverse "
                                            "Cuthill-McKee,\n n x (kl + ku + 1) = %llu doubles",
                          &kl, &ku, &doubles), 3) << part;
    EXPECT_EQ(doubles, 103823 * (kl + ku + 1));
    EXPECT_GT(doubles, 1ull << 27);
    const size_t q = part.find("\n   proven lower bound  ");
    ASSERT_NE(q, std::string::npos);
    const double lower = std::strtod(part.c_str() + q + 22, nullptr);
    EXPECT_TRUE(lower > 0 && lower <= grid_lambda_min(6, {k, k, k})) << lower;
}

// --json ---------------------------------------------------------------

// A JSON value from a strict parser: what the tool writes must be valid JSON
// (RFC 8259), so nothing else is accepted.
struct jvalue {
    enum kind_t { null_v, bool_v, num_v, str_v, arr_v, obj_v } kind = null_v;
    bool b = false;
    double num = 0;
    std::string str;
    std::vector<jvalue> arr;
    std::vector<std::pair<std::string, jvalue>> obj;

    const jvalue &operator[](const std::string &key) const {
        for (const auto &m : obj)
            if (m.first == key) return m.second;
        ADD_FAILURE() << "no member \"" << key << "\"";
        static const jvalue none;
        return none;
    }
};

class json_parser {
public:
    explicit json_parser(const std::string &s) : s_(s) {}

    // The whole text as one value (white space around it allowed).
    bool parse(jvalue &v) { return value(v) && (blank(), p_ == s_.size()); }

private:
    void blank() {
        while (p_ < s_.size() && std::strchr(" \t\n\r", s_[p_])) ++p_;
    }
    bool literal(const char *word) {
        const size_t n = std::strlen(word);
        if (s_.compare(p_, n, word) != 0) return false;
        p_ += n;
        return true;
    }
    bool digits() {
        const size_t start = p_;
        while (p_ < s_.size() && std::isdigit((unsigned char)s_[p_])) ++p_;
        return p_ > start;
    }
    bool number(double &out) {
        const size_t start = p_;
        if (s_[p_] == '-') ++p_;
        if (p_ < s_.size() && s_[p_] == '0')
            ++p_;
        else if (!digits())
            return false;
        if (p_ < s_.size() && s_[p_] == '.' && (++p_, !digits())) return false;
        if (p_ < s_.size() && (s_[p_] == 'e' || s_[p_] == 'E')) {
            ++p_;
            if (p_ < s_.size() && (s_[p_] == '+' || s_[p_] == '-')) ++p_;
            if (!digits()) return false;
        }
        out = std::strtod(s_.substr(start, p_ - start).c_str(), nullptr);
        return true;
    }
    bool hex4(unsigned &u) {
        if (p_ + 4 > s_.size()) return false;
        const std::string h = s_.substr(p_, 4);
        if (h.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        u = (unsigned)std::stoul(h, nullptr, 16);
        p_ += 4;
        return true;
    }
    // A code point of the basic plane in UTF-8 (the tool escapes only
    // control characters and U+FFFD).
    static void utf8(unsigned cp, std::string &out) {
        if (cp < 0x80) {
            out += (char)cp;
        } else if (cp < 0x800) {
            out += (char)(0xc0 | cp >> 6);
            out += (char)(0x80 | (cp & 0x3f));
        } else {
            out += (char)(0xe0 | cp >> 12);
            out += (char)(0x80 | (cp >> 6 & 0x3f));
            out += (char)(0x80 | (cp & 0x3f));
        }
    }
    bool string(std::string &out) {
        if (s_[p_++] != '"') return false;
        while (p_ < s_.size() && s_[p_] != '"') {
            const unsigned char c = s_[p_++];
            if (c < 0x20) return false;
            if (c != '\\') {
                out += (char)c;
                continue;
            }
            if (p_ >= s_.size()) return false;
            const char e = s_[p_++];
            const char *simple = std::strchr("\"\\/bfnrt", e);
            if (e == 'u') {
                unsigned u;
                if (!hex4(u) || (u >= 0xd800 && u < 0xe000)) return false;
                utf8(u, out);
            } else if (simple && e) {
                out += "\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"];
            } else {
                return false;
            }
        }
        return p_ < s_.size() && s_[p_++] == '"';
    }
    bool value(jvalue &v) {
        blank();
        if (p_ >= s_.size()) return false;
        const char c = s_[p_];
        if (c == '{' || c == '[') {
            const bool object = c == '{';
            v.kind = object ? jvalue::obj_v : jvalue::arr_v;
            ++p_;
            blank();
            if (p_ < s_.size() && s_[p_] == (object ? '}' : ']')) return ++p_, true;
            for (;;) {
                jvalue item;
                if (object) {
                    std::string key;
                    blank();
                    if (p_ >= s_.size() || !string(key)) return false;
                    for (const auto &m : v.obj)
                        if (m.first == key) return false;  // duplicate member
                    blank();
                    if (!literal(":") || !value(item)) return false;
                    v.obj.emplace_back(key, std::move(item));
                } else {
                    if (!value(item)) return false;
                    v.arr.push_back(std::move(item));
                }
                blank();
                if (literal(",")) continue;
                return literal(object ? "}" : "]");
            }
        }
        if (c == '"') return v.kind = jvalue::str_v, string(v.str);
        if (literal("true") || literal("false")) return v.kind = jvalue::bool_v, v.b = c == 't', true;
        if (literal("null")) return v.kind = jvalue::null_v, true;
        return v.kind = jvalue::num_v, number(v.num);
    }

    const std::string &s_;
    size_t p_ = 0;
};

// Runs the tool with --json appended: exit status 0, nothing on standard
// error, and a valid document with the command's name.
jvalue run_json(std::vector<std::string> args) {
    const std::string command = args[0];
    args.push_back("--json");
    const run_result r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    jvalue doc;
    EXPECT_TRUE(json_parser(r.out).parse(doc)) << r.out;
    if (doc.kind == jvalue::obj_v) {
        EXPECT_EQ(doc["command"].str, command);
        EXPECT_EQ(doc["version"].str, norva_version());
    }
    return doc;
}

// A double written as {"hex", "dec"}: both name the same double, bit for bit
// (infinities and NaN as the strings "inf", "-inf", "nan").
double jdouble(const jvalue &v) {
    const std::string &hex = v["hex"].str;
    char *end = nullptr;
    const double h = std::strtod(hex.c_str(), &end);
    EXPECT_TRUE(!hex.empty() && *end == '\0') << hex;
    EXPECT_TRUE(std::isfinite(h) ? hex.find("0x") <= 1 : hex == "inf" || hex == "-inf" || hex == "nan")
        << hex;
    const jvalue &d = v["dec"];
    if (std::isfinite(h)) {
        EXPECT_EQ(d.kind, jvalue::num_v);
        EXPECT_TRUE(same_bits(d.num, h)) << hex;
    } else {
        EXPECT_EQ(d.str, hex);
    }
    return h;
}

// An enclosure: its bounds, with the width checked to be hi - lo rounded up
// (exact rationals) and the count of ulps (stepping when it is small).
std::pair<double, double> jenclosure(const jvalue &e) {
    const double lo = jdouble(e["lo"]), hi = jdouble(e["hi"]);
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        EXPECT_EQ(e["width"].str, "inf");
        EXPECT_EQ(e["ulps"].kind, jvalue::null_v);
        return {lo, hi};
    }
    const double w = e["width"].num;
    const mpq_class exact = mpq_class(hi) - mpq_class(lo);
    EXPECT_TRUE(mpq_class(w) >= exact && mpq_class(std::nextafter(w, -INFINITY)) < exact)
        << lo << " " << hi << " " << w;
    const double ulps = e["ulps"].num;
    if (ulps < 1000) {
        double x = lo;
        int steps = 0;
        while (x < hi) x = std::nextafter(x, INFINITY), ++steps;
        EXPECT_EQ(ulps, steps) << lo << " " << hi;
    }
    return {lo, hi};
}

// Every solving command against its own text output (bit for bit) and the
// exact solution (rational arithmetic): the dense solver in each mode,
// interval data (the solution has zeros, so enclosures straddle 0 and their
// widths are inexact differences), band and sparse paths, two right-hand
// sides, and least squares of a square system.
TEST(ToolJson, EnclosuresMatchTheTextOutputAndTheExactSolution) {
    std::mt19937_64 rng(0x5eed0400);
    const int n = 6;
    std::vector<double> a, b;
    integer_system(rng, n, a, b);
    const double x0[n] = {0, 3, 0, -1, 0, 2};
    for (int i = 0; i < n; ++i) {
        b[i] = 0;
        for (int j = 0; j < n; ++j) b[i] += a[i * n + j] * x0[j];
    }
    std::vector<double> b2(2 * n);
    for (int i = 0; i < n; ++i) b2[2 * i] = b[i], b2[2 * i + 1] = 2 * b[i];
    const std::vector<mpq_class> qa(a.begin(), a.end()), qb(b.begin(), b.end());
    const std::vector<mpq_class> x = exact_solve(n, qa, qb);
    const std::string fa = mtx("ja.mtx", n, n, a).string(), fb = mtx("jb.mtx", n, 1, b).string(),
                      fb2 = mtx("jb2.mtx", n, 2, b2).string();
    struct json_case {
        std::vector<std::string> args;
        const char *path;
    };
    const std::vector<json_case> cases = {
        {{"solve", fa, fb}, "dense"},
        {{"solve", fa, fb, "--mode", "1"}, "dense"},
        {{"solve", fa, fb, "--mode", "2"}, "dense"},
        {{"solve", fa, fb2}, "dense"},
        {{"solve", fa, fb, "--rel-radius", "1e-3"}, "interval"},
        {{"solve", fa, fb, "--band"}, "band"},
        {{"solve", fa, fb, "--sparse", "--mode", "1"}, "sparse"},
        {{"lstsq", fa, fb}, "augmented"},
    };
    for (const json_case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const run_result text = run(c.args);
        ASSERT_EQ(text.status, 0) << text.err;
        const auto want = enclosures(text.out);
        const jvalue doc = run_json(c.args);
        EXPECT_EQ(doc["status"].num, 0);
        EXPECT_TRUE(doc["proven"].b);
        EXPECT_EQ(doc["path"].str, c.path);
        EXPECT_EQ(doc["a"].str, fa);
        const auto &columns = doc["solution"].arr;
        ASSERT_EQ(columns.size() * n, want.size());
        for (size_t k = 0; k < columns.size(); ++k) {
            ASSERT_EQ(columns[k].arr.size(), (size_t)n);
            std::vector<std::pair<double, double>> box;
            for (int i = 0; i < n; ++i) {
                box.push_back(jenclosure(columns[k].arr[i]));
                EXPECT_TRUE(same_bits(box[i].first, want[k * n + i].first) &&
                            same_bits(box[i].second, want[k * n + i].second))
                    << "rhs " << k << " row " << i;
            }
            std::vector<mpq_class> xk = x;
            for (mpq_class &v : xk) v *= (int)(k + 1);
            EXPECT_TRUE(encloses(box, xk)) << "rhs " << k;
        }
    }
}

// eig (a simple and a double eigenvalue), spd, sum, version and help against
// exact values and the text output; the whole demo as a document whose
// sums section carries the values the text shows.
TEST(ToolJson, OtherCommandsMatchTheTextOutput) {
    const std::string ones = mtx("jones.mtx", 3, 3, std::vector<double>(9, 1.0)).string();
    const run_result eig_text = run({"eig", ones});
    const jvalue eig = run_json({"eig", ones});
    const auto want = enclosures(eig_text.out);
    ASSERT_EQ(eig["eigenvalues"].arr.size(), 3u);
    ASSERT_EQ(want.size(), 3u);
    const double spectrum[3] = {0, 0, 3};
    for (int i = 0; i < 3; ++i) {
        const auto [lo, hi] = jenclosure(eig["eigenvalues"].arr[i]);
        EXPECT_TRUE(same_bits(lo, want[i].first) && same_bits(hi, want[i].second)) << i;
        EXPECT_TRUE(lo <= spectrum[i] && spectrum[i] <= hi) << i;
    }
    ASSERT_EQ(eig["overlaps"].arr.size(), 1u);
    EXPECT_EQ(eig["overlaps"].arr[0]["first"].num, 1);
    EXPECT_EQ(eig["overlaps"].arr[0]["last"].num, 2);

    const std::string diag = mtx("jdiag.mtx", 2, 2, {3, 0, 0, 1}).string();
    const jvalue spd = run_json({"spd", diag, "--mode", "1"});
    const double lower = jdouble(spd["lower"]);
    EXPECT_TRUE(lower > 0 && lower <= 1);
    EXPECT_TRUE(same_bits(lower, spd_lower(run({"spd", diag, "--mode", "1"}))));
    EXPECT_EQ(spd["path"].str, "automatic");
    EXPECT_EQ(spd["nonpositive_diagonal"].kind, jvalue::null_v);

    const fs::path terms = write_file("jterms.txt", "0.1 0.2 -0.3\n");
    const jvalue sum = run_json({"sum", "--round", "up", terms.string()});
    double printed_sum;
    ASSERT_TRUE(printed(run({"sum", "--round", "up", terms.string()}), printed_sum));
    EXPECT_TRUE(same_bits(jdouble(sum["sum"]), printed_sum));
    EXPECT_EQ(sum["rounding"].str, "up");

    EXPECT_EQ(run_json({"version"}).obj.size(), 2u);
    std::vector<std::string> names;
    const jvalue help = run_json({"help"});
    for (const jvalue &c : help["commands"].arr) names.push_back(c["name"].str);
    EXPECT_EQ(names, (std::vector<std::string>{"version", "sum", "solve", "batch", "spd", "lstsq",
                                               "eig", "demo", "help"}));

    // The demo: every section, and its values in the order the text prints
    // them (lines ending in "%a %.17g" of one double).
    const jvalue demo = run_json({"demo"});
    std::vector<std::string> sections;
    std::vector<double> values;
    for (const jvalue &s : demo["sections"].arr) {
        sections.push_back(s["name"].str);
        EXPECT_FALSE(s["examples"].arr.empty()) << s["name"].str;
        for (const jvalue &ex : s["examples"].arr)
            for (const jvalue &line : ex["lines"].arr)
                for (const auto &m : line.obj)
                    if (m.first == "value") values.push_back(jdouble(m.second));
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"sums", "solve", "batch", "spd", "interval",
                                                  "lstsq", "eig", "sparse", "poisson"}));
    std::vector<double> shown;
    std::istringstream in(full_demo().out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string t; words >> t;) w.push_back(t);
        if (w.size() < 2) continue;
        const std::string &hex = w[w.size() - 2];
        char *e1, *e2;
        const double h = std::strtod(hex.c_str(), &e1), d = std::strtod(w.back().c_str(), &e2);
        if (*e1 == '\0' && *e2 == '\0' && same_bits(h, d) &&
            (hex.find("0x") <= 1 || !std::isfinite(h)))
            shown.push_back(h);
    }
    ASSERT_FALSE(values.empty());
    ASSERT_EQ(values.size(), shown.size());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_TRUE(same_bits(values[i], shown[i])) << i;
}

// Batches of random integer systems with known integer solutions (b = A x
// exactly), stacked in an array or a coordinate file, some with a singular
// member (two equal rows): every proven enclosure holds its solution, the
// singular member is unproven, and the JSON document carries the text's
// bounds bit for bit.  A member L U with unimodular integer factors
// (condition number about 4e24) is proven in mode 2 only: the mode reaches
// the solver.
TEST(ToolBatch, EnclosuresContainTheKnownSolutions) {
    struct batch_case {
        int count, n;
        bool coordinate;
        const char *mode;
        int singular, ill;  // the member with two equal rows, the member L U (n = 4); or -1
    };
    const batch_case cases[] = {{5, 3, false, "0", -1, -1},
                                {7, 2, true, "1", 3, -1},
                                {4, 4, false, "2", 0, 3},
                                {1, 5, true, "0", -1, -1}};
    const int t = 1000;
    const int L[4][4] = {{1, 0, 0, 0}, {t, 1, 0, 0}, {-t, t + 1, 1, 0}, {t - 1, -t, t, 1}},
              U[4][4] = {{1, t, t - 1, -t}, {0, 1, t, t + 1}, {0, 0, 1, -t}, {0, 0, 0, 1}};
    std::mt19937_64 rng(0x5eed0500);
    int serial = 0;
    for (const batch_case &c : cases) {
        const int n = c.n, rows = c.count * n;
        SCOPED_TRACE("count " + std::to_string(c.count) + " n " + std::to_string(n));
        std::vector<double> a, b(rows, 0.0), x(rows), ak, unused;
        for (int k = 0; k < c.count; ++k) {
            integer_system(rng, n, ak, unused);
            if (k == c.singular) std::copy_n(ak.begin(), n, ak.begin() + n);
            for (int i = 0; k == c.ill && i < n * n; ++i)
                ak[i] = L[i / n][0] * U[0][i % n] + L[i / n][1] * U[1][i % n] +
                        L[i / n][2] * U[2][i % n] + L[i / n][3] * U[3][i % n];
            a.insert(a.end(), ak.begin(), ak.end());
            for (int i = 0; i < n; ++i) x[k * n + i] = (double)((int)(rng() % 41) - 20);
            for (int i = 0; i < n * n; ++i) b[k * n + i / n] += ak[i] * x[k * n + i % n];
        }
        const std::string tag = std::to_string(serial++);
        std::string fa = mtx("batch_a" + tag + ".mtx", rows, n, a).string(), entries;
        for (int i = 0; c.coordinate && i < rows * n; ++i)
            entries += std::to_string(i / n + 1) + " " + std::to_string(i % n + 1) + " " +
                       std::to_string((int)a[i]) + "\n";
        if (c.coordinate)
            fa = write_file("batch_c" + tag + ".mtx",
                            "%%MatrixMarket matrix coordinate integer general\n" +
                                std::to_string(rows) + " " + std::to_string(n) + " " +
                                std::to_string(rows * n) + "\n" + entries)
                     .string();
        const std::vector<std::string> args = {"batch", fa,
                                               mtx("batch_b" + tag + ".mtx", rows, 1, b).string(),
                                               "--mode", c.mode};
        const run_result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::pair<double, double>> box;  // lines "system i lower upper width"
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            unsigned long long k, i;
            char lo[64], hi[64], width[64];
            if (std::sscanf(line.c_str(), " %llu %llu %63s %63s %63s", &k, &i, lo, hi, width) != 5)
                continue;
            ASSERT_EQ(k * n + i, (unsigned long long)(box.size() + n + 1)) << line;
            box.emplace_back(std::strtod(lo, nullptr), std::strtod(hi, nullptr));
            const auto [l, h] = box.back();
            const double xi = x[box.size() - 1];
            EXPECT_TRUE((int)k - 1 == c.singular
                            ? l == -INFINITY && h == INFINITY && !std::strcmp(width, "unproven")
                            : std::isfinite(l) && std::isfinite(h) && l <= xi && xi <= h)
                << line;
        }
        ASSERT_EQ(box.size(), (size_t)rows) << r.out;
        const int proven = c.count - (c.singular >= 0);
        EXPECT_NE(r.out.find(std::to_string(proven) + " of " + std::to_string(c.count) +
                             " systems proven"),
                  std::string::npos)
            << r.out;

        const jvalue doc = run_json(args);
        EXPECT_EQ(doc["status"].num, c.singular >= 0 ? 1 : 0);
        EXPECT_TRUE(doc["count"].num == c.count && doc["n"].num == n &&
                    doc["proven_count"].num == proven);
        ASSERT_EQ(doc["systems"].arr.size(), (size_t)c.count);
        for (int k = 0; k < c.count; ++k) {
            const jvalue &s = doc["systems"].arr[k];
            EXPECT_EQ(s["status"].num, k == c.singular ? 1 : 0);
            ASSERT_EQ(s["solution"].arr.size(), (size_t)n);
            for (int i = 0; i < n; ++i) {
                const auto [lo, hi] = jenclosure(s["solution"].arr[i]);
                EXPECT_TRUE(same_bits(lo, box[k * n + i].first) &&
                            same_bits(hi, box[k * n + i].second))
                    << k << " " << i;
            }
        }
    }
}

// The batch section: one member unproven (the singular one), the others'
// enclosures around their known solutions, and the nearly singular member's
// bounds around x_1 = 3, which plain elimination misses.
TEST(ToolDemo, BatchSectionHoldsItsClaims) {
    const run_result r = run({"demo", "batch"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("49999 of 50000 proven, not proven: system 31416"), std::string::npos);
    EXPECT_NE(r.out.find("inside 49999 of the 49999 proven"), std::string::npos) << r.out;
    const size_t plain = r.out.find("x_1 = "), p = r.out.find("x_1 in [", plain);
    ASSERT_TRUE(plain != std::string::npos && p != std::string::npos) << r.out;
    EXPECT_NE(std::strtod(r.out.c_str() + plain + 6, nullptr), 3.0);
    char *end;
    EXPECT_LE(std::strtod(r.out.c_str() + p + 8, &end), 3.0);
    EXPECT_GE(std::strtod(end + 1, nullptr), 3.0);
}

// The reference in reStructuredText has a section per command, and every
// option that `norva solve --help` lists is a term of the solve section.
TEST(ToolCli, ReferenceListsEveryCommandAndOption) {
    const run_result ref = run({"help", "--format=rst"});
    ASSERT_EQ(ref.status, 0) << ref.err;
    const jvalue list = run_json({"help"});
    for (const jvalue &c : list["commands"].arr) {
        const std::string title = "norva " + c["name"].str;
        EXPECT_NE(ref.out.find(title + "\n" + std::string(title.size(), '-') + "\n"),
                  std::string::npos)
            << title;
    }
    const size_t from = ref.out.find("norva solve\n"), to = ref.out.find("\nnorva ", from + 1);
    ASSERT_NE(from, std::string::npos);
    std::istringstream terms(ref.out.substr(from, to - from)), help(run({"solve", "--help"}).out);
    std::string terms_text, line;
    while (std::getline(terms, line))
        if (line.rfind("``", 0) == 0) terms_text += line + "\n";
    int options = 0;
    while (std::getline(help, line)) {
        if (line.rfind("  -", 0) != 0) continue;
        std::istringstream names(line.substr(2, line.find(' ', 2) - 2));
        for (std::string name; std::getline(names, name, ','); ++options)
            EXPECT_NE(terms_text.find(name), std::string::npos) << name;
    }
    EXPECT_GE(options, 10);
}

// A size line announcing far more entries than the file holds fails at the
// end of the file, without first allocating what it announces (2 GiB).
TEST(ToolMatrixMarket, HostileSizeLinesFailWithoutTheirAllocation) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"array real general\n16384 16384\n", {"spd", "--dense"}},
        {"coordinate real general\n1000000 1000000 268435456\n", {"solve"}},
        {"coordinate real symmetric\n16384 16384 268435456\n", {"eig"}},
    };
    for (const auto &[header, command] : cases) {
        const std::string file = write_file("hostile.mtx", "%%MatrixMarket matrix " + header).string();
        std::vector<std::string> args = command;
        args.push_back(file);
        const run_result r = run(args);
        EXPECT_TRUE(rejected(r, {file + ":2:", "only 0 of"})) << header;
        // Half the announced size: a sanitized build alone holds a few hundred MiB.
        EXPECT_LT(r.max_rss_kb, 1 << 20) << header;
    }
}

// Unproven enclosures as strings; errors as without --json; a file name
// with a quote, a backslash and a byte that is not UTF-8 still gives valid
// JSON (the byte as U+FFFD).
TEST(ToolJson, UnprovenResultsErrorsAndOddFileNames) {
    const std::string singular = mtx("jsing.mtx", 2, 2, {1, 1, 1, 1}).string();
    const jvalue doc = run_json({"solve", singular});
    EXPECT_EQ(doc["status"].num, 1);
    EXPECT_FALSE(doc["proven"].b);
    for (const jvalue &e : doc["solution"].arr.at(0).arr) {
        const auto [lo, hi] = jenclosure(e);
        EXPECT_TRUE(lo == -INFINITY && hi == INFINITY);
    }
    const fs::path bad = write_file("jbad.mtx", "%%MatrixMarket matrix array real general\n2 x\n");
    EXPECT_TRUE(rejected(run({"solve", bad.string(), "--json"}), {"jbad.mtx:2"}));
    EXPECT_TRUE(rejected(run({"eig", "--json", "--mode", "3", bad.string()}), {"bad mode"}));

    const std::string odd = "j\"q\\\xff.mtx";
    fs::copy_file(singular, scratch() / odd);
    EXPECT_EQ(run_json({"spd", (scratch() / odd).string()})["a"].str,
              (scratch() / "j\"q\\\xef\xbf\xbd.mtx").string());
}

}  // namespace
