#include "json.h"

#include <cmath>
#include <cstdio>

void JsonObject::add(const std::string &key, const std::string &value) {
    if (!body_.empty()) body_ += ",";
    body_ += quote(key);
    body_ += ':';
    body_ += value;
}

namespace {

// A number as JSON has it: null for what is not finite.
std::string number_text(double value) {
    if (!std::isfinite(value)) return "null";
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.17g", value);
    return digits;
}

}  // namespace

void JsonObject::number(const std::string &key, double value) { add(key, number_text(value)); }

void JsonObject::number_rows(const std::string &key, const std::vector<std::vector<double>> &rows) {
    std::string list = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        list += i ? ",[" : "[";
        for (size_t j = 0; j < rows[i].size(); ++j) {
            if (j > 0) list += ',';
            list += number_text(rows[i][j]);
        }
        list += "]";
    }
    add(key, list + "]");
}

void JsonObject::texts(const std::string &key, const std::vector<std::string> &values) {
    std::string list = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) list += ',';
        list += quote(values[i]);
    }
    add(key, list + "]");
}

void JsonObject::integer_rows(const std::string &key, const std::vector<std::vector<int64_t>> &rows) {
    std::string list = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        list += i ? ",[" : "[";
        for (size_t j = 0; j < rows[i].size(); ++j) {
            if (j > 0) list += ',';
            list += std::to_string(rows[i][j]);
        }
        list += "]";
    }
    add(key, list + "]");
}

std::string JsonObject::quote(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void JsonObject::text_or_null(const std::string &key, const std::optional<std::string> &value) {
    if (value)
        text(key, *value);
    else
        null(key);
}

void JsonObject::number_or_null(const std::string &key, const std::optional<double> &value) {
    if (value)
        number(key, *value);
    else
        null(key);
}
