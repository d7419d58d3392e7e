// The --json output of the tool's commands: JSON documents on standard
// output, built with nlohmann-json.
//
// Conventions shared by every command:
//  - A computed double is an object {"hex": "0x1.8p+1", "dec": 3}: "hex" is
//    the exact value (printf %a, parsed back exactly by strtod or Python's
//    float.fromhex), "dec" the shortest decimal that reads back as the same
//    double.
//  - Infinities and NaN are not JSON numbers: wherever a number may be one
//    of them, it is written as the string "inf", "-inf" or "nan" (strtod and
//    Python's float() accept these spellings).  An unproven enclosure is
//    therefore {"lo": {"hex": "-inf", "dec": "-inf"}, ...}.
//  - An enclosure is {"lo": ..., "hi": ..., "width": w, "ulps": u}: w is
//    hi - lo rounded up ("inf" when unproven), u the number of doubles from
//    lo to hi (null when unproven).
//  - Times are "time_s", in seconds.
//  - Errors are not JSON: exit status 2, the message on standard error,
//    nothing on standard output, as without --json.
#ifndef NORVA_TOOLS_JSON_H
#define NORVA_TOOLS_JSON_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace tool {

// Builds one document (an nlohmann::ordered_json, so members keep the
// order of the calls) and writes it on finish().  Every call takes the
// member's key; inside an array the key is null.  The layout: one member
// per line, except that objects holding no arrays (an enclosure, a number)
// stay on one line.
class json_writer {
public:
    explicit json_writer(std::FILE *out = stdout);
    ~json_writer();
    json_writer(const json_writer &) = delete;
    json_writer &operator=(const json_writer &) = delete;

    void begin_object(const char *key);
    void end_object();
    void begin_array(const char *key);
    void end_array();

    void string(const char *key, const std::string &value);
    // A string, or null when `value` is empty (a file not given).
    void string_or_null(const char *key, const std::string &value);
    void boolean(const char *key, bool value);
    void integer(const char *key, int64_t value);
    void unsigned_integer(const char *key, uint64_t value);
    void null(const char *key);
    // A decimal number, or "inf", "-inf", "nan".
    void number(const char *key, double value);
    // {"hex": ..., "dec": ...}.
    void exact(const char *key, double value);
    // {"lo": ..., "hi": ..., "width": ..., "ulps": ...}.
    void enclosure(const char *key, double lo, double hi);

    // Closes what is still open and writes the document, ending with a
    // newline.
    void finish();

private:
    struct document;
    std::FILE *out_;
    std::unique_ptr<document> doc_;
};

// Opens the document of a command: {"command": NAME, "version": ...}.
void json_begin(json_writer &w, const char *command);

// The fields every linear-algebra command writes after json_begin: status
// and "proven", the path taken, mode, blas, method and the time.
void json_outcome(json_writer &w, int32_t status, const char *path, int mode, bool blas,
                  const std::string &method, double seconds);

// The enclosures of `rows` unknowns for `nrhs` right-hand sides (lo, hi:
// rows x nrhs, row-major), one array per right-hand side, as `key`.
void json_enclosures(json_writer &w, const char *key, const double *lo, const double *hi,
                     uint64_t rows, uint64_t nrhs);

// The shortest decimal (%.{1..17}g) that strtod reads back as v; "inf",
// "-inf" or "nan" for those values.
std::string shortest_decimal(double v);

}  // namespace tool

#endif
