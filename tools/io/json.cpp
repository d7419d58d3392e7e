#include "json.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include <nlohmann/json.hpp>

#include "linear.h"
#include "norva.h"

namespace tool {

using document_value = nlohmann::ordered_json;

namespace {

// A string or key: nlohmann-json escapes it; bytes that are not UTF-8 (a
// file name may hold any) become U+FFFD, since a JSON text must be Unicode.
std::string escaped(const document_value &v) {
    return v.dump(-1, ' ', false, document_value::error_handler_t::replace);
}

// Objects that hold no arrays, at any depth, stay on one line.
bool one_line(const document_value &v) {
    if (v.is_array()) return false;
    if (!v.is_object()) return true;
    for (const auto &member : v.items())
        if (!one_line(member.value())) return false;
    return true;
}

void write(std::string &out, const document_value &v, int depth, bool flat) {
    switch (v.type()) {
    case document_value::value_t::object:
    case document_value::value_t::array: {
        const bool object = v.is_object();
        const bool inline_ = flat || (depth > 0 && one_line(v));
        out += object ? '{' : '[';
        bool first = true;
        for (const auto &member : v.items()) {
            if (inline_)
                out += first ? "" : ", ";
            else
                out += (first ? "\n" : ",\n") + std::string(2 * (depth + 1), ' ');
            first = false;
            if (object) out += escaped(document_value(member.key())) + ": ";
            write(out, member.value(), depth + 1, inline_);
        }
        if (!inline_ && !first) out += "\n" + std::string(2 * depth, ' ');
        out += object ? '}' : ']';
        break;
    }
    case document_value::value_t::string:
        out += escaped(v);
        break;
    case document_value::value_t::number_float:
        out += shortest_decimal(v.get<double>());
        break;
    default:
        out += v.dump();
    }
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

struct json_writer::document {
    document_value root;
    std::vector<document_value *> open;  // the containers not yet closed, innermost last

    // The new member `key` (an element when inside an array) of the
    // innermost open container; the root when nothing is open.
    document_value &add(const char *key) {
        if (open.empty()) return root;
        document_value &c = *open.back();
        if (c.is_array()) {
            c.push_back(nullptr);
            return c.back();
        }
        return c[key ? key : ""];
    }

    void begin(const char *key, document_value empty) {
        document_value &v = add(key);
        v = std::move(empty);
        open.push_back(&v);
    }

    void end(bool array) {
        if (open.empty() || open.back()->is_array() != array) std::abort();  // a bug of the caller
        open.pop_back();
    }
};

json_writer::json_writer(std::FILE *out) : out_(out), doc_(std::make_unique<document>()) {}
json_writer::~json_writer() = default;

void json_writer::begin_object(const char *key) { doc_->begin(key, document_value::object()); }
void json_writer::end_object() { doc_->end(false); }
void json_writer::begin_array(const char *key) { doc_->begin(key, document_value::array()); }
void json_writer::end_array() { doc_->end(true); }

void json_writer::string(const char *key, const std::string &value) { doc_->add(key) = value; }

void json_writer::string_or_null(const char *key, const std::string &value) {
    if (value.empty()) return null(key);
    string(key, value);
}

void json_writer::boolean(const char *key, bool value) { doc_->add(key) = value; }

void json_writer::integer(const char *key, int64_t value) { doc_->add(key) = value; }

void json_writer::unsigned_integer(const char *key, uint64_t value) { doc_->add(key) = value; }

void json_writer::null(const char *key) { doc_->add(key) = nullptr; }

void json_writer::number(const char *key, double value) {
    if (!std::isfinite(value)) return string(key, shortest_decimal(value));
    doc_->add(key) = value;
}

void json_writer::exact(const char *key, double value) {
    char hex[40];
    if (std::isfinite(value))
        std::snprintf(hex, sizeof hex, "%a", value);
    else
        std::snprintf(hex, sizeof hex, "%s", shortest_decimal(value).c_str());
    begin_object(key);
    string("hex", hex);
    number("dec", value);
    end_object();
}

void json_writer::enclosure(const char *key, double lo, double hi) {
    const bool proven = std::isfinite(lo) && std::isfinite(hi);
    begin_object(key);
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
    doc_->open.clear();
    std::string text;
    write(text, doc_->root, 0, false);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out_);
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
