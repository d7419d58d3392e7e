// Reading numbers for the command-line tool.
//
// Input is text: numbers separated by blanks, any number per line; blank
// lines and lines whose first non-blank character is '#' are skipped.  Each
// number is a decimal or C99 hexadecimal floating-point literal, or inf,
// infinity or nan, converted by strtod (strtof for binary32) under
// round-to-nearest, i.e. to the nearest double (float).
#ifndef NORVA_TOOLS_NUMBERS_H
#define NORVA_TOOLS_NUMBERS_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace tool {

enum class parse_status {
    ok,
    malformed,  // not a complete literal (empty, trailing characters, ...)
    overflow,   // a finite literal beyond the largest finite value of the format
};

// Converts one whole token.  Tiny literals round to a subnormal or to zero,
// as IEEE rounding to nearest does; only overflow is an error, because the
// literal was finite and infinity is not the value that was written.
parse_status parse_double(const std::string &token, double &out);
parse_status parse_float(const std::string &token, float &out);

// Numbers of one format, widened to double (exact for binary32).
enum class format { binary64, binary32 };

// Reads every number from f (named `name` in messages) and hands them to
// `sink` in chunks, in input order.  Returns true at the end of the input;
// false on a malformed number or a read error, with `error` set to a
// message of the form "NAME:LINE: ..." (or "NAME: ..." for read errors).
bool read_numbers(std::FILE *f, const std::string &name, format fmt,
                  const std::function<void(const double *, std::size_t)> &sink,
                  std::string &error);

}  // namespace tool

#endif
