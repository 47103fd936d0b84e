// A small JSON object writer for `info --json` and the catalog.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class JsonObject {
public:
    void text(const std::string &key, const std::string &value) { add(key, quote(value)); }
    void integer(const std::string &key, int64_t value) { add(key, std::to_string(value)); }
    void number(const std::string &key, double value);
    void null(const std::string &key) { add(key, "null"); }
    // The value, or null when there is none.
    void text_or_null(const std::string &key, const std::optional<std::string> &value);
    void number_or_null(const std::string &key, const std::optional<double> &value);
    void texts(const std::string &key, const std::vector<std::string> &values);
    void integer_rows(const std::string &key, const std::vector<std::vector<int64_t>> &rows);
    void number_rows(const std::string &key, const std::vector<std::vector<double>> &rows);
    void object(const std::string &key, const JsonObject &value) { add(key, value.str()); }
    std::string str() const { return "{" + body_ + "}"; }

    static std::string quote(const std::string &text);

private:
    void add(const std::string &key, const std::string &value);
    std::string body_;
};
