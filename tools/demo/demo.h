// The showcase of `norva demo`: a list of sections, each a function that
// prints its examples.  A new section is one function and one row of the
// table in demo.cpp.
#ifndef NORVA_TOOLS_DEMO_H
#define NORVA_TOOLS_DEMO_H

#include <span>
#include <string>
#include <vector>

namespace tool {

struct demo_section {
    const char *name;
    const char *title;
    void (*run)();
};

// The sections, in the order they are shown.
std::span<const demo_section> demo_sections();

// Shows `only`, or every section when it is null, as text or as one JSON
// document on standard output.
void demo_show(const demo_section *only, bool json);

// Sections.
void demo_sums();
void demo_solve();
void demo_batch();
void demo_spd();
void demo_interval();
void demo_lstsq();
void demo_eig();
void demo_sparse();
void demo_poisson();

// Printing helpers shared by the sections.

// Starts example number `number` with a title line.
void demo_title(int number, const char *title);
// "   LABEL  %a  %.17g" with aligned columns.
void demo_value(const char *label, double v);
// A labelled line of text ("   terms   ...").
void demo_text(const char *label, const std::string &text);
// The four correctly rounded results, exact[rnd] for rnd 0..3, labelled
// "exact, to nearest", "exact, upward", "exact, downward", "exact, toward zero".
void demo_modes(const double exact[4]);
// One number printed with a printf format ("%.17g").
std::string demo_fmt(const char *format, double v);
// An explanation, word-wrapped and indented, followed by a blank line.
void demo_why(const char *text);

// Plain floating-point Cholesky factorization of the symmetric n x n matrix
// a (row-major, lower triangle read) into the lower triangular L, as an
// unverified library computes it.  False at the first pivot that is not
// positive; *pivot receives the last pivot computed.
bool plain_cholesky(int n, const std::vector<double> &a, std::vector<double> &L, double *pivot);

// Gaussian elimination with partial pivoting in plain double arithmetic on
// the n x n matrix a (row-major) and b: what an unverified solver returns.
std::vector<double> plain_solve(int n, std::vector<double> a, std::vector<double> b);

}  // namespace tool

#endif
