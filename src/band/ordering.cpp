// Reverse Cuthill-McKee renumbering of a sparse pattern.
//
// Graph: the symmetrised pattern without the diagonal, as neighbour lists
// adj[off[v]] .. adj[off[v] + deg[v] - 1], ascending and without repeats.
// Marks: 0 unplaced, 1 placed, 2 reached by the current sweep.  Every step
// costs time proportional to the component it works on (plus the sorts of
// neighbour lists and appended groups, n log n at worst per node), never n
// per component.
#include "band/ordering.h"

#include <algorithm>

#include "common/scratch.h"

namespace norva::band {
namespace {

struct graph {
    const uint64_t *off;
    const uint64_t *adj;
    const uint64_t *deg;
};

// Breadth-first search from s over the nodes marked 0, neighbours in
// ascending order, level by level.  Returns the node of least degree in the
// deepest level (the first reached among equal degrees) and clears the
// marks it set.
uint64_t sweep(const graph &g, unsigned char *mark, uint64_t *queue, uint64_t s) {
    uint64_t head = 0, tail = 0, level = 0;
    queue[tail++] = s;
    mark[s] = 2;
    for (;;) {
        const uint64_t end = tail;
        for (; head < end; ++head) {
            const uint64_t u = queue[head];
            const uint64_t *nb = g.adj + g.off[u];
            for (uint64_t j = 0; j < g.deg[u]; ++j) {
                if (mark[nb[j]] == 0) {
                    mark[nb[j]] = 2;
                    queue[tail++] = nb[j];
                }
            }
        }
        if (tail == end) break;
        level = end;
    }
    uint64_t best = queue[level];
    for (uint64_t k = level + 1; k < tail; ++k)
        if (g.deg[queue[k]] < g.deg[best]) best = queue[k];
    for (uint64_t k = 0; k < tail; ++k) mark[queue[k]] = 0;
    return best;
}

// Cuthill-McKee from s: appends the component of s to perm from position
// placed on, each node's unplaced neighbours in ascending order of degree
// (of index among equal degrees).  Returns the new count of placed nodes.
uint64_t cuthill_mckee(const graph &g, unsigned char *mark, uint64_t *perm, uint64_t placed,
                       uint64_t s) {
    uint64_t head = placed;
    perm[placed++] = s;
    mark[s] = 1;
    const auto by_degree = [&g](uint64_t a, uint64_t b) {
        return g.deg[a] < g.deg[b] || (g.deg[a] == g.deg[b] && a < b);
    };
    for (; head < placed; ++head) {
        const uint64_t u = perm[head];
        const uint64_t *nb = g.adj + g.off[u];
        const uint64_t group = placed;
        for (uint64_t j = 0; j < g.deg[u]; ++j) {
            if (mark[nb[j]] == 0) {
                mark[nb[j]] = 1;
                perm[placed++] = nb[j];
            }
        }
        // The group is in ascending index order, so ordering it by (degree,
        // index) is the stable sort by degree.
        std::sort(perm + group, perm + placed, by_degree);
    }
    return placed;
}

}  // namespace

int rcm(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx, uint64_t *perm,
        uint64_t *iperm, uint64_t *kl, uint64_t *ku) {
    const uint64_t nnz = row_ptr[n];
    // Two list entries per stored entry, plus one; n + 1 offsets.
    if (too_big(nnz, 2) || too_big(n, 2)) return -1;
    freer<6> scratch;
    uint64_t *off = scratch.own(alloc_zero<uint64_t>(n + 1));
    uint64_t *deg = scratch.own(alloc_zero<uint64_t>(n));
    unsigned char *mark = scratch.own(alloc_zero<unsigned char>(n));
    if (off == nullptr || deg == nullptr || mark == nullptr) return -1;

    // Symmetrised pattern: every off-diagonal entry (i, c) puts c in the list
    // of i and i in the list of c; a pair stored both ways is merged below.
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t e = row_ptr[i]; e < row_ptr[i + 1]; ++e) {
            if (col_idx[e] != i) {
                ++off[i + 1];
                ++off[col_idx[e] + 1];
            }
        }
    }
    for (uint64_t v = 0; v < n; ++v) off[v + 1] += off[v];
    uint64_t *adj = scratch.own(alloc<uint64_t>(off[n] + 1));
    uint64_t *fill = scratch.own(alloc<uint64_t>(n));
    uint64_t *queue = scratch.own(alloc<uint64_t>(n));
    if (adj == nullptr || fill == nullptr || queue == nullptr) return -1;
    std::copy(off, off + n, fill);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t e = row_ptr[i]; e < row_ptr[i + 1]; ++e) {
            const uint64_t c = col_idx[e];
            if (c != i) {
                adj[fill[i]++] = c;
                adj[fill[c]++] = i;
            }
        }
    }
    for (uint64_t v = 0; v < n; ++v) {
        uint64_t *first = adj + off[v], *last = adj + off[v + 1];
        std::sort(first, last);
        deg[v] = (uint64_t)(std::unique(first, last) - first);
    }
    const graph g = {off, adj, deg};

    // Start nodes: fill becomes the nodes sorted by (degree, index), by a
    // counting sort on the degree (queue holds the counts); a cursor skips
    // the nodes placed meanwhile.
    std::fill(queue, queue + n, uint64_t(0));
    for (uint64_t v = 0; v < n; ++v) ++queue[deg[v]];
    for (uint64_t d = 0, sum = 0; d < n; ++d) {
        const uint64_t c = queue[d];
        queue[d] = sum;
        sum += c;
    }
    for (uint64_t v = 0; v < n; ++v) fill[queue[deg[v]]++] = v;

    uint64_t placed = 0, cursor = 0;
    while (placed < n) {
        while (mark[fill[cursor]] != 0) ++cursor;
        if (deg[fill[cursor]] == 0) {  // a node on its own is its own round
            perm[placed++] = fill[cursor];
            mark[fill[cursor]] = 1;
            continue;
        }
        uint64_t s = sweep(g, mark, queue, fill[cursor]);
        s = sweep(g, mark, queue, s);
        placed = cuthill_mckee(g, mark, perm, placed, s);
    }
    std::reverse(perm, perm + n);
    for (uint64_t k = 0; k < n; ++k) iperm[perm[k]] = k;

    uint64_t lo = 0, up = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t p = iperm[i];
        for (uint64_t e = row_ptr[i]; e < row_ptr[i + 1]; ++e) {
            const uint64_t q = iperm[col_idx[e]];
            if (p > q && p - q > lo) lo = p - q;
            if (q > p && q - p > up) up = q - p;
        }
    }
    *kl = lo;
    *ku = up;
    return 0;
}

}  // namespace norva::band
