// Matrix Market reader: the banner, comment lines, the size line, then the
// entries, column by column for "array" and as (row, column, value) triples
// for "coordinate".
#include "matrix_market.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <unordered_set>

#include "numbers.h"

namespace tool {

namespace {

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return s;
}

struct line_reader {
    std::FILE *f;
    uint64_t line = 0;
    bool next(std::string &out) {
        out.clear();
        int c;
        bool any = false;
        while ((c = std::fgetc(f)) != EOF) {
            any = true;
            if (c == '\n') break;
            out.push_back((char)c);
        }
        if (!any) return false;
        if (!out.empty() && out.back() == '\r') out.pop_back();
        ++line;
        return true;
    }
};

bool blank(const std::string &s) {
    for (char c : s)
        if (c != ' ' && c != '\t') return false;
    return true;
}

// A whole unsigned integer token, at most `max`.
bool parse_index(const std::string &t, uint64_t max, uint64_t &out) {
    if (t.empty() || t.size() > 20) return false;
    uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        const uint64_t d = (uint64_t)(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    if (v > max) return false;
    out = v;
    return true;
}

// Room for one more element of `v`: its capacity doubles, up to `cap`
// elements (the count the size line announces; more is an error).
template <class T>
void grow(std::vector<T> &v, uint64_t cap) {
    if (v.size() < v.capacity()) return;
    v.reserve(std::min<uint64_t>(cap, std::max<uint64_t>(64, 2 * v.capacity())));
}

// Reads `f` into `m`: a coordinate file into m.list when `keep_list`, every
// other file into m.dense.
bool read_stored(std::FILE *f, const std::string &name, bool keep_list, stored_matrix &sm,
                 std::string &error) {
    line_reader in{f};
    std::string s;
    auto err = [&](const std::string &msg) {
        error = name + ":" + std::to_string(in.line) + ": " + msg;
        return false;
    };
    if (!in.next(s)) return err("empty file (expected a %%MatrixMarket banner)");
    std::istringstream banner(s);
    std::string tag, object, fmt, field, symmetry, extra;
    banner >> tag >> object >> fmt >> field >> symmetry;
    if (tag != "%%MatrixMarket") return err("not a Matrix Market file (no %%MatrixMarket banner)");
    object = lower(object);
    fmt = lower(fmt);
    field = lower(field);
    symmetry = lower(symmetry);
    if (banner >> extra) return err("unexpected word '" + extra + "' in the banner");
    if (object != "matrix") return err("object '" + object + "' is not supported (only matrix)");
    const bool array = fmt == "array";
    if (!array && fmt != "coordinate") return err("format '" + fmt + "' is not array or coordinate");
    if (field != "real" && field != "integer" && field != "double")
        return err("field '" + field + "' is not supported (real or integer)");
    const bool general = symmetry == "general", symmetric = symmetry == "symmetric",
               skew = symmetry == "skew-symmetric";
    if (!general && !symmetric && !skew)
        return err("symmetry '" + symmetry + "' is not supported (general, symmetric, skew-symmetric)");

    do {
        if (!in.next(s)) return err("missing size line");
    } while (blank(s) || s[0] == '%');
    std::istringstream size(s);
    std::string t1, t2, t3, t4;
    size >> t1 >> t2 >> t3 >> t4;
    constexpr uint64_t max_dim = 1u << 20;
    uint64_t rows, cols, nnz = 0;
    if (!parse_index(t1, max_dim, rows) || !parse_index(t2, max_dim, cols) || rows == 0 || cols == 0)
        return err("bad size line (expected positive row and column counts up to 1048576)");
    if (array ? !t3.empty() : (!parse_index(t3, UINT64_MAX, nnz) || !t4.empty()))
        return err(array ? "bad size line (expected: rows columns)"
                         : "bad size line (expected: rows columns entries)");
    if ((symmetric || skew) && rows != cols) return err("a symmetric matrix must be square");
    sm.listed = keep_list && !array;
    if (!sm.listed && rows * cols > (1ull << 28)) return err("matrix too large for a dense solve");
    // The entries are kept as they arrive (the values of an array file in
    // the order of the file, the triples of a coordinate file in `list`),
    // and a dense matrix is formed only once they have all been read: the
    // size line alone allocates nothing.
    entry_list &list = sm.list;
    list.rows = rows;
    list.cols = cols;
    std::vector<double> values;
    std::unordered_set<uint64_t> seen;  // i * cols + j of the coordinate entries read

    // An array file lists the stored triangle of a symmetric matrix (with
    // the diagonal) or of a skew-symmetric one (without).
    const uint64_t expected = !array  ? nnz
                              : general ? rows * cols
                              : symmetric ? rows * (rows + 1) / 2
                                          : rows * (rows - 1) / 2;
    uint64_t got = 0, ai = 0, aj = 0;
    while (in.next(s)) {
        if (blank(s) || s[0] == '%') continue;
        std::istringstream entry(s);
        std::vector<std::string> tok;
        std::string w;
        while (entry >> w) tok.push_back(w);
        if (got == expected) return err("more entries than the size line announces");
        uint64_t i, j;
        std::string value;
        if (array) {
            if (tok.size() != 1) return err("expected one value per line");
            // next position in column order, within the stored triangle
            while (!(general || (symmetric && ai >= aj) || (skew && ai > aj))) {
                if (++ai == rows) {
                    ai = 0;
                    ++aj;
                }
            }
            i = ai;
            j = aj;
            if (++ai == rows) {
                ai = 0;
                ++aj;
            }
            value = tok[0];
        } else {
            if (tok.size() != 3) return err("expected: row column value");
            if (!parse_index(tok[0], rows, i) || i == 0 || !parse_index(tok[1], cols, j) || j == 0)
                return err("row or column index out of range");
            --i;
            --j;
            if ((symmetric && j > i) || (skew && j >= i))
                return err("entry above the diagonal in a " + symmetry + " matrix");
            if (!seen.insert(i * cols + j).second)
                return err("entry (" + tok[0] + ", " + tok[1] + ") listed twice");
            value = tok[2];
        }
        double x;
        const parse_status st = parse_double(value, x);
        if (st == parse_status::malformed) return err("malformed number '" + value + "'");
        if (st == parse_status::overflow) return err("number '" + value + "' overflows a double");
        if (x != x || x - x != 0) return err("non-finite entry '" + value + "'");
        if (field == "integer") {
            for (char c : value)
                if (!((c >= '0' && c <= '9') || c == '-' || c == '+'))
                    return err("'" + value + "' is not an integer");
        }
        if (array) {
            grow(values, expected);
            values.push_back(x);
        } else {
            grow(list.row, expected);
            grow(list.col, expected);
            grow(list.val, expected);
            list.row.push_back(i);
            list.col.push_back(j);
            list.val.push_back(x);
        }
        ++got;
    }
    if (std::ferror(f)) {
        error = name + ": read error: " + std::strerror(errno);
        return false;
    }
    if (got < expected)
        return err("only " + std::to_string(got) + " of " + std::to_string(expected) + " entries");
    for (uint64_t e = 0; sm.listed && (symmetric || skew) && e < got; ++e)
        if (list.row[e] != list.col[e]) {
            list.row.push_back(list.col[e]);
            list.col.push_back(list.row[e]);
            list.val.push_back(skew ? -list.val[e] : list.val[e]);
        }
    if (sm.listed) return true;

    dense_matrix &m = sm.dense;
    m.rows = rows;
    m.cols = cols;
    m.v.assign(rows * cols, 0.0);
    auto set = [&](uint64_t i, uint64_t j, double x) {
        m.at(i, j) = x;
        if (symmetric && i != j) m.at(j, i) = x;
        if (skew) m.at(j, i) = -x;
    };
    if (array) {
        uint64_t k = 0;
        for (uint64_t j = 0; j < cols; ++j)
            for (uint64_t i = 0; i < rows; ++i)
                if (general || (symmetric && i >= j) || (skew && i > j)) set(i, j, values[k++]);
    } else {
        for (uint64_t e = 0; e < got; ++e) set(list.row[e], list.col[e], list.val[e]);
    }
    sm.list = entry_list();
    return true;
}

bool read_file(const std::string &path, bool keep_list, stored_matrix &m, std::string &error) {
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (!f) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    const bool ok = read_stored(f, path, keep_list, m, error);
    std::fclose(f);
    return ok;
}

}  // namespace

bool read_matrix_market(std::FILE *f, const std::string &name, dense_matrix &m,
                        std::string &error) {
    stored_matrix sm;
    if (!read_stored(f, name, false, sm, error)) return false;
    m = std::move(sm.dense);
    return true;
}

bool read_matrix_market(std::FILE *f, const std::string &name, stored_matrix &m,
                        std::string &error) {
    return read_stored(f, name, true, m, error);
}

bool read_matrix_market_file(const std::string &path, dense_matrix &m, std::string &error) {
    stored_matrix sm;
    if (!read_file(path, false, sm, error)) return false;
    m = std::move(sm.dense);
    return true;
}

bool read_matrix_market_file(const std::string &path, stored_matrix &m, std::string &error) {
    return read_file(path, true, m, error);
}

}  // namespace tool
