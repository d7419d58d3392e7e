// Reverse Cuthill-McKee renumbering: exact agreement with a plain reference
// (quadratic start-node scan, insertion sorts, level-by-level searches) on
// random patterns, the known small cases, the bandwidth of a shuffled grid,
// time on a diagonal and a star, and every allocation failing in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "band/ordering.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using u64 = uint64_t;
using vec = std::vector<u64>;

struct csr {
    u64 n = 0;
    vec ptr, col;
};

struct order {
    vec perm, iperm;
    u64 kl = 0, ku = 0;
    int rc = 0;
};

csr from_entries(u64 n, const std::set<std::pair<u64, u64>> &entries, std::mt19937_64 *rng) {
    csr a;
    a.n = n;
    a.ptr.assign(n + 1, 0);
    for (const auto &[i, c] : entries) {
        ++a.ptr[i + 1];
        a.col.push_back(c);  // the set is ordered by row
    }
    for (u64 i = 0; i < n; ++i) {
        a.ptr[i + 1] += a.ptr[i];
        if (rng) std::shuffle(a.col.begin() + a.ptr[i], a.col.begin() + a.ptr[i + 1], *rng);
    }
    return a;
}

order run_rcm(const csr &a) {
    order o;
    o.perm.assign(a.n, 0);
    o.iperm.assign(a.n, 0);
    o.rc = norva::band::rcm(a.n, a.ptr.data(), a.col.data(), o.perm.data(), o.iperm.data(), &o.kl,
                            &o.ku);
    return o;
}

// The ordering written out step by step, in the plainest form.
order reference(const csr &a) {
    const u64 n = a.n;
    std::vector<vec> adj(n);
    for (u64 i = 0; i < n; ++i)
        for (u64 e = a.ptr[i]; e < a.ptr[i + 1]; ++e)
            if (a.col[e] != i) {
                adj[i].push_back(a.col[e]);
                adj[a.col[e]].push_back(i);
            }
    const auto insertion_sort = [](u64 *x, u64 len, auto less) {
        for (u64 k = 1; k < len; ++k)
            for (u64 j = k; j > 0 && less(x[j], x[j - 1]); --j) std::swap(x[j], x[j - 1]);
    };
    vec deg(n);
    for (u64 v = 0; v < n; ++v) {
        vec &l = adj[v];
        insertion_sort(l.data(), l.size(), [](u64 x, u64 y) { return x < y; });
        vec d;
        for (u64 w : l)
            if (d.empty() || d.back() != w) d.push_back(w);
        l = d;
        deg[v] = d.size();
    }
    std::vector<int> mark(n, 0);
    const auto sweep = [&](u64 s) {
        vec level = {s}, seen = {s};
        mark[s] = 2;
        for (;;) {
            vec next;
            for (u64 u : level)
                for (u64 w : adj[u])
                    if (mark[w] == 0) {
                        mark[w] = 2;
                        next.push_back(w);
                        seen.push_back(w);
                    }
            if (next.empty()) break;
            level = next;
        }
        u64 best = level[0];
        for (u64 v : level)
            if (deg[v] < deg[best]) best = v;
        for (u64 v : seen) mark[v] = 0;
        return best;
    };
    order o;
    while (o.perm.size() < n) {
        u64 s = n;
        for (u64 v = 0; v < n; ++v)
            if (mark[v] == 0 && (s == n || deg[v] < deg[s])) s = v;
        s = sweep(sweep(s));
        u64 head = o.perm.size();
        o.perm.push_back(s);
        mark[s] = 1;
        for (; head < o.perm.size(); ++head) {
            const u64 group = o.perm.size();
            for (u64 w : adj[o.perm[head]])
                if (mark[w] == 0) {
                    mark[w] = 1;
                    o.perm.push_back(w);
                }
            insertion_sort(o.perm.data() + group, o.perm.size() - group,
                           [&](u64 x, u64 y) { return deg[x] < deg[y]; });
        }
    }
    std::reverse(o.perm.begin(), o.perm.end());
    o.iperm.assign(n, 0);
    for (u64 k = 0; k < n; ++k) o.iperm[o.perm[k]] = k;
    for (u64 i = 0; i < n; ++i)
        for (u64 e = a.ptr[i]; e < a.ptr[i + 1]; ++e) {
            const u64 p = o.iperm[i], q = o.iperm[a.col[e]];
            if (p > q) o.kl = std::max(o.kl, p - q);
            if (q > p) o.ku = std::max(o.ku, q - p);
        }
    return o;
}

void expect_same(const order &got, const order &want) {
    ASSERT_EQ(got.rc, 0);
    EXPECT_EQ(got.perm, want.perm);
    EXPECT_EQ(got.iperm, want.iperm);
    EXPECT_EQ(got.kl, want.kl);
    EXPECT_EQ(got.ku, want.ku);
}

struct pattern_case {
    const char *name;
    u64 n;
    int components;
    double per_row;  // random off-diagonal entries per row
    bool symmetric;
    double diagonal;  // share of rows with an explicit diagonal entry
    int hubs;         // nodes joined to about half of their component
    int isolated;     // nodes without off-diagonal entries
};

csr random_pattern(const pattern_case &pc, std::mt19937_64 &rng) {
    std::uniform_int_distribution<u64> node(0, pc.n - 1);
    std::uniform_real_distribution<double> unit(0, 1);
    vec comp(pc.n);
    for (u64 v = 0; v < pc.n; ++v) comp[v] = rng() % pc.components;
    std::vector<vec> members(pc.components);
    std::vector<bool> lonely(pc.n, false);
    for (int k = 0; k < pc.isolated; ++k) lonely[node(rng)] = true;
    for (u64 v = 0; v < pc.n; ++v)
        if (!lonely[v]) members[comp[v]].push_back(v);
    std::set<std::pair<u64, u64>> e;
    const auto add = [&](u64 i, u64 c) {
        e.insert({i, c});
        if (pc.symmetric) e.insert({c, i});
    };
    const u64 draws = (u64)(pc.per_row * pc.n);
    for (u64 k = 0; k < draws; ++k) {
        const u64 i = node(rng);
        if (lonely[i]) continue;
        const vec &m = members[comp[i]];
        add(i, m[rng() % m.size()]);
    }
    for (int h = 0; h < pc.hubs; ++h) {
        const u64 i = node(rng);
        if (lonely[i]) continue;
        for (u64 c : members[comp[i]])
            if (rng() % 2) rng() % 2 ? add(i, c) : add(c, i);
    }
    for (u64 v = 0; v < pc.n; ++v)
        if (unit(rng) < pc.diagonal) e.insert({v, v});
    return from_entries(pc.n, e, &rng);
}

TEST(Rcm, MatchesReferenceOnRandomPatterns) {
    const pattern_case cases[] = {
        {"sparse symmetric, one component", 60, 1, 1.5, true, 1.0, 0, 0},
        {"sparse unsymmetric", 80, 1, 1.0, false, 0.5, 0, 0},
        {"several components", 120, 5, 1.2, true, 0.0, 0, 0},
        {"components and isolated nodes", 150, 4, 0.8, false, 0.3, 0, 15},
        {"hubs", 200, 2, 1.0, true, 1.0, 3, 5},
        {"dense-ish, unsymmetric with hubs", 40, 1, 6.0, false, 0.7, 2, 0},
        {"very sparse: paths and trees", 300, 3, 0.5, false, 0.0, 0, 10},
        {"tiny", 3, 2, 1.0, false, 0.5, 0, 0},
    };
    std::mt19937_64 rng(20240611);
    const int reps = testsupport::scaled(12, 2);
    for (const pattern_case &pc : cases) {
        SCOPED_TRACE(pc.name);
        for (int r = 0; r < reps; ++r) {
            const csr a = random_pattern(pc, rng);
            expect_same(run_rcm(a), reference(a));
        }
    }
}

TEST(Rcm, KnownSmallCases) {
    const u64 n = 7;
    std::set<std::pair<u64, u64>> diag, tri, one = {{0, 0}};
    for (u64 i = 0; i < n; ++i) {
        diag.insert({i, i});
        for (u64 j = i ? i - 1 : 0; j <= std::min(i + 1, n - 1); ++j) tri.insert({i, j});
    }
    vec reversed(n);
    std::iota(reversed.rbegin(), reversed.rend(), u64(0));
    struct {
        const char *name;
        csr a;
        vec perm;  // empty: not fixed
        u64 kl, ku;
    } cases[] = {
        {"diagonal", from_entries(n, diag, nullptr), reversed, 0, 0},
        {"tridiagonal", from_entries(n, tri, nullptr), {}, 1, 1},
        {"n = 1", from_entries(1, one, nullptr), {0}, 0, 0},
        {"n = 1 without entries", from_entries(1, {}, nullptr), {0}, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const order o = run_rcm(c.a);
        expect_same(o, reference(c.a));
        if (!c.perm.empty()) {
            EXPECT_EQ(o.perm, c.perm);
        }
        EXPECT_EQ(o.kl, c.kl);
        EXPECT_EQ(o.ku, c.ku);
    }
}

// The 5-point Laplacian of an m x m grid under a random numbering: the
// ordering recovers a band as narrow as the natural row-by-row one (m).
TEST(Rcm, ShuffledGridGetsGridBandwidth) {
    const u64 m = 100, n = m * m;
    std::mt19937_64 rng(7);
    vec label(n);
    std::iota(label.begin(), label.end(), u64(0));
    std::shuffle(label.begin(), label.end(), rng);
    std::set<std::pair<u64, u64>> e;
    for (u64 r = 0; r < m; ++r)
        for (u64 c = 0; c < m; ++c) {
            const u64 v = label[r * m + c];
            e.insert({v, v});
            if (r + 1 < m) e.insert({v, label[(r + 1) * m + c]}), e.insert({label[(r + 1) * m + c], v});
            if (c + 1 < m) e.insert({v, label[r * m + c + 1]}), e.insert({label[r * m + c + 1], v});
        }
    const csr a = from_entries(n, e, &rng);
    const order o = run_rcm(a);
    ASSERT_EQ(o.rc, 0);
    EXPECT_EQ(o.kl, o.ku);
    EXPECT_LE(o.kl, m + m / 10) << "natural order: " << m;
    EXPECT_GE(o.kl, m);  // the bandwidth of the grid graph is m
    RecordProperty("grid_bandwidth", (int)o.kl);
}

double seconds(const csr &a, order *o) {
    const auto t0 = std::chrono::steady_clock::now();
    *o = run_rcm(a);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A diagonal of order 10^6 (a million components) and a star with a hub of
// degree 10^5: time linear in the size, not in its square.
TEST(Rcm, ManyComponentsAndHubsAreFast) {
    double limit = 2.0 / testsupport::test_scale();
#if defined(__SANITIZE_ADDRESS__)
    limit *= 10;
#endif
    const u64 nd = 1000000, ns = 100001;
    csr diag, star;
    diag.n = nd;
    diag.ptr.resize(nd + 1);
    diag.col.resize(nd);
    std::iota(diag.ptr.begin(), diag.ptr.end(), u64(0));
    std::iota(diag.col.begin(), diag.col.end(), u64(0));
    star.n = ns;  // row 0 holds every leaf, row i > 0 holds the hub 0
    star.ptr.assign(ns + 1, ns - 1);
    star.ptr[0] = 0;
    for (u64 i = 1; i < ns; ++i) {
        star.col.push_back(ns - i);
        star.ptr[i + 1] = ns - 1 + i;
    }
    star.col.resize(2 * (ns - 1), 0);
    order o;
    const double td = seconds(diag, &o);
    ASSERT_EQ(o.rc, 0);
    EXPECT_EQ(o.kl + o.ku, 0u);
    for (u64 k = 0; k < nd; ++k) ASSERT_EQ(o.perm[k], nd - 1 - k);
    EXPECT_LT(td, limit);
    // Start at leaf 1; the sweeps end at leaf 1 again; Cuthill-McKee places
    // 1, the hub, then leaves 2, ..., ns - 1; reversed.
    const double ts = seconds(star, &o);
    ASSERT_EQ(o.rc, 0);
    EXPECT_EQ(o.perm[ns - 1], 1u);
    EXPECT_EQ(o.perm[ns - 2], 0u);
    for (u64 k = 0; k + 2 < ns; ++k) ASSERT_EQ(o.perm[k], ns - 1 - k);
    EXPECT_EQ(o.kl, ns - 2);
    EXPECT_EQ(o.ku, ns - 2);
    EXPECT_LT(ts, limit);
    RecordProperty("diagonal_ms", (int)(td * 1000));
    RecordProperty("star_ms", (int)(ts * 1000));
}

TEST(Rcm, EveryAllocationFailureReturnsMinusOne) {
    std::mt19937_64 rng(3);
    const csr a = random_pattern({"", 50, 3, 1.0, false, 0.5, 1, 3}, rng);
    const order want = reference(a);
    order got;
    got.perm.assign(a.n, 0);
    got.iperm.assign(a.n, 0);
    const u64 calls = testsupport::for_each_allocation_failure(
        [&] {
            got.rc = norva::band::rcm(a.n, a.ptr.data(), a.col.data(), got.perm.data(),
                                      got.iperm.data(), &got.kl, &got.ku);
        },
        [&](u64 k) {
            if (k == 0) {
                expect_same(got, want);
            } else {
                EXPECT_EQ(got.rc, -1);
            }
        });
    EXPECT_GE(calls, 6u);
}

}  // namespace
