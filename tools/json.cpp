#include "json.h"

#include <cmath>
#include <cstdlib>

#include "linear.h"
#include "norva.h"

namespace tool {

namespace {

// Length of the well-formed UTF-8 sequence at s (at most `left` bytes), or
// 0 when the bytes there are not one.
size_t utf8_length(const unsigned char *s, size_t left) {
    const unsigned c = s[0];
    size_t len;
    unsigned min;
    if (c < 0x80) return 1;
    if (c >= 0xc2 && c <= 0xdf)
        len = 2, min = 0x80;
    else if (c >= 0xe0 && c <= 0xef)
        len = 3, min = 0x800;
    else if (c >= 0xf0 && c <= 0xf4)
        len = 4, min = 0x10000;
    else
        return 0;
    if (len > left) return 0;
    unsigned cp = c & (0x7f >> len);
    for (size_t k = 1; k < len; ++k) {
        if ((s[k] & 0xc0) != 0x80) return 0;
        cp = cp << 6 | (s[k] & 0x3f);
    }
    // No overlong forms, surrogates or values beyond U+10FFFF.
    if (cp < min || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) return 0;
    return len;
}

// A JSON string literal of `s`.  Bytes that are not UTF-8 (a file name may
// hold any) become U+FFFD, since a JSON text must be Unicode.
void write_string(std::FILE *out, const std::string &s) {
    std::fputc('"', out);
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (size_t i = 0, n = s.size(); i < n;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            std::fprintf(out, "\\%c", c);
        } else if (c == '\n') {
            std::fputs("\\n", out);
        } else if (c == '\t') {
            std::fputs("\\t", out);
        } else if (c < 0x20 || c == 0x7f) {
            std::fprintf(out, "\\u%04x", c);
        } else {
            const size_t len = utf8_length(p + i, n - i);
            if (len == 0) {
                std::fputs("\\ufffd", out);
                ++i;
                continue;
            }
            std::fwrite(p + i, 1, len, out);
            i += len;
            continue;
        }
        ++i;
    }
    std::fputc('"', out);
}

}  // namespace

std::string shortest_decimal(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[40];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

bool json_writer::inline_level() const {
    return depth_ > 0 && (inline_depth_ >> (depth_ - 1) & 1);
}

void json_writer::member(const char *key) {
    if (inline_level()) {
        if (!first_) std::fputs(", ", out_);
    } else {
        if (!first_) std::fputc(',', out_);
        if (depth_ > 0) std::fprintf(out_, "\n%*s", 2 * depth_, "");
    }
    first_ = false;
    if (key) {
        write_string(out_, key);
        std::fputs(": ", out_);
    }
}

void json_writer::open(const char *key, char bracket, bool inline_) {
    member(key);
    std::fputc(bracket, out_);
    if (depth_ >= 64) std::abort();  // documents of the tool nest a few levels
    // Inside an inline level everything stays inline.
    const uint64_t bit = uint64_t(1) << depth_;
    inline_depth_ = inline_ || inline_level() ? inline_depth_ | bit : inline_depth_ & ~bit;
    closers_[depth_++] = bracket == '{' ? '}' : ']';
    first_ = true;
}

void json_writer::close(char bracket) {
    if (depth_ == 0 || closers_[depth_ - 1] != bracket) std::abort();  // a bug of the caller
    if (!inline_level() && !first_) std::fprintf(out_, "\n%*s", 2 * (depth_ - 1), "");
    std::fputc(bracket, out_);
    --depth_;
    first_ = false;
}

void json_writer::begin_object(const char *key, bool inline_) { open(key, '{', inline_); }
void json_writer::end_object() { close('}'); }
void json_writer::begin_array(const char *key, bool inline_) { open(key, '[', inline_); }
void json_writer::end_array() { close(']'); }

void json_writer::string(const char *key, const std::string &value) {
    member(key);
    write_string(out_, value);
}

void json_writer::string_or_null(const char *key, const std::string &value) {
    if (value.empty()) return null(key);
    string(key, value);
}

void json_writer::boolean(const char *key, bool value) {
    member(key);
    std::fputs(value ? "true" : "false", out_);
}

void json_writer::integer(const char *key, int64_t value) {
    member(key);
    std::fprintf(out_, "%lld", (long long)value);
}

void json_writer::unsigned_integer(const char *key, uint64_t value) {
    member(key);
    std::fprintf(out_, "%llu", (unsigned long long)value);
}

void json_writer::null(const char *key) {
    member(key);
    std::fputs("null", out_);
}

void json_writer::number(const char *key, double value) {
    if (!std::isfinite(value)) return string(key, shortest_decimal(value));
    member(key);
    std::fputs(shortest_decimal(value).c_str(), out_);
}

void json_writer::exact(const char *key, double value) {
    char hex[40];
    if (std::isfinite(value))
        std::snprintf(hex, sizeof hex, "%a", value);
    else
        std::snprintf(hex, sizeof hex, "%s", shortest_decimal(value).c_str());
    begin_object(key, true);
    string("hex", hex);
    number("dec", value);
    end_object();
}

void json_writer::enclosure(const char *key, double lo, double hi) {
    const bool proven = std::isfinite(lo) && std::isfinite(hi);
    begin_object(key, true);
    exact("lo", lo);
    exact("hi", hi);
    number("width", proven ? width_up(lo, hi) : INFINITY);
    if (proven)
        unsigned_integer("ulps", ulps_between(lo, hi));
    else
        null("ulps");
    end_object();
}

void json_writer::finish() {
    while (depth_ > 0) close(closers_[depth_ - 1]);
    std::fputc('\n', out_);
}

void json_begin(json_writer &w, const char *command) {
    w.begin_object(nullptr);
    w.string("command", command);
    w.string("version", norva_version());
}

void json_outcome(json_writer &w, int32_t status, const char *path, int mode, bool blas,
                  const std::string &method, double seconds) {
    w.integer("status", status);
    w.boolean("proven", status == 0);
    w.string("path", path);
    w.integer("mode", mode);
    w.boolean("blas", blas);
    w.string("method", method);
    w.number("time_s", seconds);
}

void json_enclosures(json_writer &w, const char *key, const double *lo, const double *hi,
                     uint64_t rows, uint64_t nrhs) {
    w.begin_array(key);
    for (uint64_t k = 0; k < nrhs; ++k) {
        w.begin_array(nullptr);
        for (uint64_t i = 0; i < rows; ++i) w.enclosure(nullptr, lo[i * nrhs + k], hi[i * nrhs + k]);
        w.end_array();
    }
    w.end_array();
}

}  // namespace tool
