// Reverse Cuthill-McKee renumbering of a sparse pattern, for the sparse
// solver that copies a renumbered matrix into band storage.
#ifndef NORVA_BAND_ORDERING_H
#define NORVA_BAND_ORDERING_H

#include <cstdint>

namespace norva::band {

// Renumbers the rows and columns of the n x n pattern given in compressed
// sparse row form (row_ptr non-decreasing from 0, every column < n, no
// column twice in a row; the caller has checked this).  The ordering works
// on the symmetrised pattern without the diagonal and depends only on it:
// one round per connected component, starting from the unplaced node of
// least degree (least index among equals), two breadth-first sweeps towards
// a peripheral node, then Cuthill-McKee from there; the whole sequence is
// reversed at the end.
//
// perm[k] = the caller's index placed at new position k; iperm its inverse;
// *kl, *ku the lower and upper bandwidths of the renumbered pattern (over
// the entries as given, not symmetrised).  Returns 0, or -1 when scratch
// memory is not available (outputs then unspecified).
int rcm(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx, uint64_t *perm,
        uint64_t *iperm, uint64_t *kl, uint64_t *ku);

}  // namespace norva::band

#endif
