// The KAP text header: reading its records into memory, finding a record by
// name and a field of a record by key.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"
#include "common/text.h"

// Reads up to `limit` records from the start of the reader's stream into
// its header. Returns the number stored, or -1 without a stream or when
// memory runs out.
int32_t kap_read_header(ChartReader *reader, int32_t limit);

// The first record whose first three characters equal those of `key`, or
// null. The text stays owned by the header.
const char *kap_find_record(const HeaderLines &header, const char *key);

// The value of the first field of `record` that begins with `key`: the
// field from its fourth character on, joined with the following `tokens` - 1
// fields by commas. Null when no field begins with `key`.
FieldText kap_get_field(const char *record, const char *key, int32_t tokens);

// Upper-cases the ASCII letters of a text in place, whatever the locale.
void text_upcase(char *text);

// The record with its line end (CR LF or a bare LF) cut off; for messages.
FieldText record_without_line_end(const char *record);
