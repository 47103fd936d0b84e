// The header records of a KAP file held in memory, and the lookups every
// reader of the header uses: a record by its three-letter name, a field of
// a record by its key. Reading the records from the file is the chart's
// (chart/header.h); here they are only text.
#pragma once

#include <cstdint>

#include "common/text.h"

// The header records in file order, each with its line end.
struct HeaderLines {
    char **lines = nullptr;
    int32_t count = 0;
    int32_t room = 0;   // slots allocated in `lines`
    // The last record's length and allocated size: continuation lines join
    // onto it, and a record continued over thousands of lines must not be
    // measured and copied again for each.
    std::size_t last_length = 0;
    std::size_t last_capacity = 0;
};

// Releases every record and the array, leaving the header empty.
void header_lines_free(HeaderLines &header);

// The first record whose first three characters equal those of `key`, or
// null. The text stays owned by the header.
const char *kap_find_record(const HeaderLines &header, const char *key);

// The value of the first field of `record` that begins with `key`: the
// field from its fourth character on, joined with the following `tokens` - 1
// fields by commas. Null when no field begins with `key`.
FieldText kap_get_field(const char *record, const char *key, int32_t tokens);

// Upper-cases the ASCII letters of a text in place, whatever the locale.
void text_upcase(char *text);

// Length of the line end that closes `text`: 2 for CR LF, 1 for a bare LF,
// 0 for a text that has none.
std::size_t line_end_length(const char *text, std::size_t length);

// The record with its line end (CR LF or a bare LF) cut off; for messages.
FieldText record_without_line_end(const char *record);
