// An MBTiles file (version 1.3): an SQLite database of tiles, rows
// numbered from the south (TMS), with the metadata a reader needs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class MbtilesWriter {
public:
    MbtilesWriter() = default;
    ~MbtilesWriter();
    MbtilesWriter(const MbtilesWriter &) = delete;
    MbtilesWriter &operator=(const MbtilesWriter &) = delete;

    // Creates the file at `path` with its tables: true, or false with the
    // reason in `problem`.
    bool create(const std::string &path, std::string *problem);
    // Stores a tile at zoom z, column x and TMS row `tms_row`.
    bool put_tile(int zoom, int64_t x, int64_t tms_row, const std::vector<uint8_t> &data, std::string *problem);
    // Stores the metadata pairs and closes the file, all written.
    bool finish(const std::vector<std::pair<std::string, std::string>> &metadata, std::string *problem);

private:
    bool execute(const char *sql, std::string *problem);
    std::string told(const char *what) const;

    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
    int64_t pending_ = 0;   // tiles since the last commit
};
