// Reading Matrix Market files into dense row-major matrices, or coordinate
// files into lists of their entries.
//
// Supported: the "matrix" object in "array" or "coordinate" format, with
// "real" or "integer" fields and "general", "symmetric" or "skew-symmetric"
// symmetry.  Entries are converted to the nearest double (strtod); a value
// beyond the range of doubles is an error.  Coordinate entries not listed
// are zero; a coordinate entry listed twice is an error (the format leaves
// duplicates to the application, and silently adding or replacing them would
// change the system).
#ifndef NORVA_TOOLS_MATRIX_MARKET_H
#define NORVA_TOOLS_MATRIX_MARKET_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

struct dense_matrix {
    uint64_t rows = 0, cols = 0;
    std::vector<double> v;  // rows x cols, row-major
    double &at(uint64_t i, uint64_t j) { return v[i * cols + j]; }
};

// The entries of a coordinate file, 0-based, in the order of the file; the
// mirror images of a symmetric or skew-symmetric file follow those listed.
struct entry_list {
    uint64_t rows = 0, cols = 0;
    std::vector<uint64_t> row, col;
    std::vector<double> val;
};

// A matrix as its file stores it: coordinate files as their list of
// entries (`listed`), array files as a dense matrix.  Only the dense form is
// limited in size (2^28 entries).
struct stored_matrix {
    bool listed = false;
    dense_matrix dense;
    entry_list list;
};

// Reads the file `f` (named `name` in messages).  Returns true on success;
// false with `error` = "NAME:LINE: message".
bool read_matrix_market(std::FILE *f, const std::string &name, dense_matrix &m,
                        std::string &error);

// The same, keeping a coordinate file as its list of entries.
bool read_matrix_market(std::FILE *f, const std::string &name, stored_matrix &m,
                        std::string &error);

// Opens and reads the file at `path`.
bool read_matrix_market_file(const std::string &path, dense_matrix &m, std::string &error);

// The same, keeping a coordinate file as its list of entries.
bool read_matrix_market_file(const std::string &path, stored_matrix &m, std::string &error);

}  // namespace tool

#endif
