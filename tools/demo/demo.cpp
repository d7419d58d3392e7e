// The sections of `norva demo` and the printing helpers they share, as
// text or as the lines of a JSON document.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "demo.h"
#include "json.h"

namespace tool {

namespace {

using section = demo_section;

const section sections[] = {
    {"sums", "Exact sums and dot products", demo_sums},
    {"solve", "Verified solution of an ill-conditioned system", demo_solve},
    {"batch", "50000 small systems solved in one verified call", demo_batch},
    {"spd", "Proofs of positive definiteness", demo_spd},
    {"interval", "A system with measured coefficients", demo_interval},
    {"lstsq", "A verified polynomial fit", demo_lstsq},
    {"eig", "Eigenvalues that a plain solver cannot tell apart", demo_eig},
    {"sparse", "A sparse system of 19881 unknowns", demo_sparse},
    {"poisson", "A 3-D Poisson problem beyond the band solver", demo_poisson},
};

// With --json the printing helpers below write the lines of the current
// example into this document instead: {"number", "title", "lines": [...]}
// per example, each line {"label", "text"}, {"label", "value"} or {"why"}.
json_writer *json_doc = nullptr;
bool example_open = false;

void close_example() {
    if (!example_open) return;
    json_doc->end_array();
    json_doc->end_object();
    example_open = false;
}

// The next line of the current example (one without a title if none is open).
void json_line() {
    if (!example_open) {
        json_doc->begin_object(nullptr);
        json_doc->begin_array("lines");
        example_open = true;
    }
    json_doc->begin_object(nullptr);
}

void run_section(const section &s) {
    if (!json_doc) {
        std::printf("== %s ==\n\n", s.title);
        s.run();
        return;
    }
    const auto t0 = std::chrono::steady_clock::now();
    json_doc->begin_object(nullptr);
    json_doc->string("name", s.name);
    json_doc->string("title", s.title);
    json_doc->begin_array("examples");
    s.run();
    close_example();
    json_doc->end_array();
    json_doc->number("time_s",
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    json_doc->end_object();
}

}  // namespace

void demo_title(int number, const char *title) {
    if (!json_doc) {
        std::printf("%d. %s\n", number, title);
        return;
    }
    close_example();
    json_doc->begin_object(nullptr);
    json_doc->integer("number", number);
    json_doc->string("title", title);
    json_doc->begin_array("lines");
    example_open = true;
}

void demo_value(const char *label, double v) {
    if (!json_doc) {
        std::printf("   %-22s %-24a %.17g\n", label, v, v);
        return;
    }
    json_line();
    json_doc->string("label", label);
    json_doc->exact("value", v);
    json_doc->end_object();
}

void demo_text(const char *label, const std::string &text) {
    if (!json_doc) {
        std::printf("   %-22s %s\n", label, text.c_str());
        return;
    }
    json_line();
    json_doc->string("label", label);
    json_doc->string("text", text);
    json_doc->end_object();
}

void demo_modes(const double exact[4]) {
    demo_value("exact, to nearest", exact[0]);
    demo_value("exact, upward", exact[1]);
    demo_value("exact, downward", exact[2]);
    demo_value("exact, toward zero", exact[3]);
}

std::string demo_fmt(const char *format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::vector<double> plain_solve(int n, std::vector<double> a, std::vector<double> b) {
    for (int j = 0; j < n; ++j) {
        int p = j;
        for (int i = j + 1; i < n; ++i)
            if (std::fabs(a[i * n + j]) > std::fabs(a[p * n + j])) p = i;
        for (int c = 0; c < n; ++c) std::swap(a[j * n + c], a[p * n + c]);
        std::swap(b[j], b[p]);
        for (int i = j + 1; i < n; ++i) {
            const double l = a[i * n + j] / a[j * n + j];
            for (int c = j; c < n; ++c) a[i * n + c] -= l * a[j * n + c];
            b[i] -= l * b[j];
        }
    }
    std::vector<double> x(n);
    for (int i = n - 1; i >= 0; --i) {
        double s = b[i];
        for (int c = i + 1; c < n; ++c) s -= a[i * n + c] * x[c];
        x[i] = s / a[i * n + i];
    }
    return x;
}

bool plain_cholesky(int n, const std::vector<double> &a, std::vector<double> &L, double *pivot) {
    L.assign((size_t)n * n, 0.0);
    for (int k = 0; k < n; ++k) {
        double p = a[k * n + k];
        for (int j = 0; j < k; ++j) p -= L[k * n + j] * L[k * n + j];
        *pivot = p;
        if (!(p > 0)) return false;
        L[k * n + k] = std::sqrt(p);
        for (int r = k + 1; r < n; ++r) {
            double q = a[r * n + k];
            for (int j = 0; j < k; ++j) q -= L[r * n + j] * L[k * n + j];
            L[r * n + k] = q / L[k * n + k];
        }
    }
    return true;
}

void demo_why(const char *text) {
    if (json_doc) {
        json_line();
        json_doc->string("why", text);
        json_doc->end_object();
        return;
    }
    const int width = 76, indent = 3;
    int col = 0;
    const char *p = text;
    while (*p) {
        while (*p == ' ') p++;
        const char *w = p;
        while (*p && *p != ' ') p++;
        const int len = (int)(p - w);
        if (len == 0) break;
        if (col == 0) {
            col = std::printf("%*s", indent, "");
        } else if (col + 1 + len > width) {
            std::printf("\n");
            col = std::printf("%*s", indent, "");
        } else {
            col += std::printf(" ");
        }
        col += std::printf("%.*s", len, w);
    }
    std::printf("\n\n");
}

std::span<const demo_section> demo_sections() { return sections; }

void demo_show(const demo_section *only, bool json) {
    if (json) {
        json_writer w;
        json_doc = &w;
        json_begin(w, "demo");
        w.begin_array("sections");
        for (const section &s : sections)
            if (!only || only == &s) run_section(s);
        w.finish();
        json_doc = nullptr;
        return;
    }
    if (!only || only->run == demo_sums)
        std::printf(
            "Each example lists its terms, the result of the plain floating-point\n"
            "loop (double precision, rounding to nearest after every operation), and\n"
            "the exact result rounded once in each of the four rounding modes.\n\n");
    if (only) {
        run_section(*only);
    } else {
        for (const section &s : sections) run_section(s);
    }
}

}  // namespace tool
