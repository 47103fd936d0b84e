#include "mbtiles.h"

#include <sqlite3.h>

namespace {

// Tiles committed in batches: one transaction for a whole region would
// hold its journal to the end, one per tile would sync every tile.
constexpr int64_t kTilesPerCommit = 2000;

}  // namespace

MbtilesWriter::~MbtilesWriter() {
    if (insert_ != nullptr) sqlite3_finalize(insert_);
    if (db_ != nullptr) sqlite3_close(db_);
}

std::string MbtilesWriter::told(const char *what) const {
    return std::string(what) + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
}

bool MbtilesWriter::execute(const char *sql, std::string *problem) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    *problem = told("the tile database cannot be written");
    return false;
}

bool MbtilesWriter::create(const std::string &path, std::string *problem) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        *problem = told("the tile database cannot be created");
        return false;
    }
    // The file is written once, start to end, under a temporary name: a
    // failure leaves it to be removed, so no journal is needed.
    if (!execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA page_size=4096;"
                 "CREATE TABLE metadata (name TEXT, value TEXT);"
                 "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
                 "BEGIN;",
                 problem))
        return false;
    if (sqlite3_prepare_v2(db_, "INSERT INTO tiles VALUES (?, ?, ?, ?)", -1, &insert_, nullptr) != SQLITE_OK) {
        *problem = told("the tile database cannot be written");
        return false;
    }
    return true;
}

bool MbtilesWriter::put_tile(int zoom, int64_t x, int64_t tms_row, const std::vector<uint8_t> &data,
                             std::string *problem) {
    sqlite3_bind_int(insert_, 1, zoom);
    sqlite3_bind_int64(insert_, 2, x);
    sqlite3_bind_int64(insert_, 3, tms_row);
    sqlite3_bind_blob(insert_, 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
    const int status = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (status != SQLITE_DONE) {
        *problem = told("a tile cannot be written");
        return false;
    }
    if (++pending_ == kTilesPerCommit) {
        pending_ = 0;
        return execute("COMMIT; BEGIN;", problem);
    }
    return true;
}

bool MbtilesWriter::finish(const std::vector<std::pair<std::string, std::string>> &metadata, std::string *problem) {
    sqlite3_stmt *put = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT INTO metadata VALUES (?, ?)", -1, &put, nullptr) != SQLITE_OK) {
        *problem = told("the tile database cannot be written");
        return false;
    }
    bool ok = true;
    for (const auto &[name, value] : metadata) {
        sqlite3_bind_text(put, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(put, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        ok = ok && sqlite3_step(put) == SQLITE_DONE;
        sqlite3_reset(put);
    }
    sqlite3_finalize(put);
    if (!ok) {
        *problem = told("the metadata cannot be written");
        return false;
    }
    // The index readers look tiles up by, made once the tiles are in.
    if (!execute("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
                 "CREATE UNIQUE INDEX name ON metadata (name); COMMIT;",
                 problem))
        return false;
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    const int closed = sqlite3_close(db_);
    db_ = nullptr;
    if (closed != SQLITE_OK) {
        *problem = "the tile database cannot be closed";
        return false;
    }
    return true;
}
