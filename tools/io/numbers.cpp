#include "numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>
#include <vector>

namespace tool {

namespace {

template <class T, class Conv>
parse_status parse_with(const std::string &token, T &out, Conv conv) {
    if (token.empty()) return parse_status::malformed;
    const char *begin = token.c_str();
    char *end = nullptr;
    errno = 0;
    const T v = conv(begin, &end);
    // The whole token must be consumed; an embedded NUL stops the
    // conversion early and so counts as trailing garbage.
    if (end == begin || end != begin + token.size()) return parse_status::malformed;
    if (errno == ERANGE && std::isinf(v)) return parse_status::overflow;
    out = v;
    return parse_status::ok;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A token quoted for a message, shortened if long, control bytes escaped.
std::string quoted(const std::string &token) {
    std::string q = "'";
    const std::size_t limit = 40;
    for (std::size_t i = 0; i < token.size() && i < limit; i++) {
        const unsigned char c = (unsigned char)token[i];
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            q += buf;
        } else {
            q += (char)c;
        }
    }
    if (token.size() > limit) q += "...";
    return q + "'";
}

}  // namespace

parse_status parse_double(const std::string &token, double &out) {
    return parse_with(token, out, [](const char *s, char **e) { return std::strtod(s, e); });
}

parse_status parse_float(const std::string &token, float &out) {
    return parse_with(token, out, [](const char *s, char **e) { return std::strtof(s, e); });
}

bool read_numbers(std::FILE *f, const std::string &name, format fmt,
                  const std::function<void(const double *, std::size_t)> &sink,
                  std::string &error) {
    constexpr std::size_t chunk = 4096;
    std::vector<double> buf;
    buf.reserve(chunk);
    char *line = nullptr;
    std::size_t cap = 0;
    unsigned long long lineno = 0;
    bool ok = true;
    for (;;) {
        errno = 0;
        const ssize_t len = getline(&line, &cap, f);
        if (len < 0) break;
        lineno++;
        std::size_t i = 0;
        const std::size_t n = (std::size_t)len;
        while (i < n && is_blank(line[i])) i++;
        if (i == n || line[i] == '#') continue;
        while (i < n) {
            std::size_t j = i;
            while (j < n && !is_blank(line[j])) j++;
            const std::string token(line + i, j - i);
            double v = 0;
            parse_status st;
            if (fmt == format::binary32) {
                float g = 0;
                st = parse_float(token, g);
                v = g;
            } else {
                st = parse_double(token, v);
            }
            if (st != parse_status::ok) {
                error = name + ":" + std::to_string(lineno) + ": ";
                if (st == parse_status::overflow)
                    error += quoted(token) + " is beyond the largest finite " +
                             (fmt == format::binary32 ? "float" : "double") +
                             " (write inf for an infinity)";
                else
                    error += "malformed number " + quoted(token);
                ok = false;
                break;
            }
            buf.push_back(v);
            if (buf.size() == chunk) {
                sink(buf.data(), buf.size());
                buf.clear();
            }
            i = j;
            while (i < n && is_blank(line[i])) i++;
        }
        if (!ok) break;
    }
    if (ok && std::ferror(f)) {
        const int e = errno;
        error = name + ": read error: " + std::strerror(e ? e : EIO);
        ok = false;
    }
    std::free(line);
    if (ok && !buf.empty()) sink(buf.data(), buf.size());
    return ok;
}

}  // namespace tool
