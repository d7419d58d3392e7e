// Fuzz harness of the tool's input readers: Matrix Market files (read
// dense, or kept as a list of entries) and files of numbers (binary64 or
// binary32).  The first byte picks the reader; the rest is the file.
//
// Checked: a refused file has a message "NAME:..."; a dense matrix has
// rows x cols finite entries; a list has its indices in range, finite
// values and no position twice; a square list converts to a valid
// compressed sparse row form, and the library's reverse Cuthill-McKee
// renumbering of it is a permutation whose reported bandwidths are those of
// the renumbered entries; a file of numbers yields exactly one number per
// token (binary32 numbers exactly representable as floats).  Files whose
// size line asks for more than 2^16 dense entries are skipped: the reader
// allocates them before reading on (up to 2^28 entries, by design).
#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include "band/ordering.h"
#include "fuzz_common.h"
#include "matrix_market.h"
#include "numbers.h"
#include "sparse.h"

namespace {

constexpr const char *h = "fuzz_readers";
const std::string name = "input";

void refused(const std::string &error) {
    if (error.rfind(name + ":", 0) != 0) fuzz::broken(h, "error message without the file name");
}

// Whether the size line of a Matrix Market text announces a dense matrix of
// more than 2^16 entries (banner, then comment and blank lines, as the
// reader skips them).
bool too_dense(const std::string &text, bool listed) {
    std::istringstream s(text);
    std::string line;
    std::getline(s, line);
    std::string banner = line;
    for (char &c : banner) c = (char)std::tolower((unsigned char)c);
    const bool dense = !listed || banner.find("coordinate") == std::string::npos ||
                       banner.find("array") != std::string::npos;
    while (std::getline(s, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '%') continue;
        std::istringstream size(line);
        std::string t1, t2;
        size >> t1 >> t2;
        auto count = [](const std::string &t) {
            if (t.empty() || t.size() > 7 || t.find_first_not_of("0123456789") != std::string::npos)
                return (uint64_t)0;
            return (uint64_t)std::stoull(t);
        };
        const bool long_token = t1.size() > 7 || t2.size() > 7;
        return dense && (long_token || count(t1) * count(t2) > (1u << 16));
    }
    return false;
}

void check_list(const tool::entry_list &l) {
    if (l.row.size() != l.val.size() || l.col.size() != l.val.size())
        fuzz::broken(h, "entry list of unequal lengths");
    std::set<std::pair<uint64_t, uint64_t>> seen;
    for (size_t e = 0; e < l.val.size(); ++e) {
        if (l.row[e] >= l.rows || l.col[e] >= l.cols) fuzz::broken(h, "entry out of range", (long long)e);
        if (!fuzz::finite(l.val[e])) fuzz::broken(h, "non-finite entry read", (long long)e);
        if (!seen.insert({l.row[e], l.col[e]}).second) fuzz::broken(h, "position listed twice", (long long)e);
    }
    if (l.rows != l.cols || l.rows > 4096) return;
    const tool::csr_matrix a = tool::to_csr(l);
    const uint64_t n = a.n;
    if (a.row_ptr.size() != n + 1 || a.row_ptr[0] != 0 || a.row_ptr[n] != l.val.size())
        fuzz::broken(h, "compressed rows with wrong ends");
    for (uint64_t i = 0; i < n; ++i)
        if (a.row_ptr[i + 1] < a.row_ptr[i]) fuzz::broken(h, "row starts decrease", (long long)i);
    std::vector<uint64_t> perm(n), iperm(n);
    uint64_t kl = 0, ku = 0;
    if (norva::band::rcm(n, a.row_ptr.data(), a.col_idx.data(), perm.data(), iperm.data(), &kl, &ku) != 0)
        return;
    std::vector<char> placed(n, 0);
    for (uint64_t k = 0; k < n; ++k) {
        if (perm[k] >= n || placed[perm[k]] || iperm[perm[k]] != k)
            fuzz::broken(h, "renumbering is not a permutation", (long long)k);
        placed[perm[k]] = 1;
    }
    uint64_t wl = 0, wu = 0;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t e = a.row_ptr[i]; e < a.row_ptr[i + 1]; ++e) {
            const uint64_t p = iperm[i], q = iperm[a.col_idx[e]];
            wl = std::max(wl, p > q ? p - q : 0);
            wu = std::max(wu, q > p ? q - p : 0);
        }
    if (wl != kl || wu != ku) fuzz::broken(h, "reported bandwidths differ from the renumbered entries");
}

// Tokens as the number reader defines them: blank-separated, lines whose
// first non-blank character is '#' skipped.
size_t tokens(const std::string &text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    size_t count = 0, i = 0;
    while (i < text.size()) {
        const size_t end = std::min(text.find('\n', i), text.size());
        size_t j = i;
        while (j < end && blank(text[j])) ++j;
        if (j < end && text[j] != '#')
            for (bool in_token = false; j < end; ++j) {
                if (!blank(text[j]) && !in_token) ++count;
                in_token = !blank(text[j]);
            }
        i = end + 1;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const uint8_t which = data[0] % 4;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (which < 2 && too_dense(text, which == 1)) return 0;
    std::FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    if (f == nullptr) return 0;
    std::string error;
    if (which == 0) {
        tool::dense_matrix m;
        if (!tool::read_matrix_market(f, name, m, error)) {
            refused(error);
        } else {
            if (m.rows == 0 || m.cols == 0 || m.v.size() != m.rows * m.cols)
                fuzz::broken(h, "dense matrix of the wrong size");
            for (double v : m.v)
                if (!fuzz::finite(v)) fuzz::broken(h, "non-finite entry read");
        }
    } else if (which == 1) {
        tool::stored_matrix m;
        if (!tool::read_matrix_market(f, name, m, error)) refused(error);
        else if (m.listed) check_list(m.list);
        else if (m.dense.v.size() != m.dense.rows * m.dense.cols)
            fuzz::broken(h, "dense matrix of the wrong size");
    } else {
        const bool single = which == 3;
        std::vector<double> got;
        const bool ok = tool::read_numbers(
            f, name, single ? tool::format::binary32 : tool::format::binary64,
            [&](const double *v, size_t k) { got.insert(got.end(), v, v + k); }, error);
        if (!ok) {
            refused(error);
        } else {
            if (got.size() != tokens(text)) fuzz::broken(h, "numbers read differ from the tokens");
            if (single)
                for (double v : got)
                    if (v == v && (double)(float)v != v) fuzz::broken(h, "binary32 number not a float");
        }
    }
    std::fclose(f);
    return 0;
}
