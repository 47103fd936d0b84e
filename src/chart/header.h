// Reading the KAP text header into memory: records in file order,
// comments dropped, continuation lines joined onto their record.
#pragma once

#include <cstdint>

#include "common/header_records.h"
#include "common/stream.h"

// Reads up to `limit` records from the start of `stream` into `header`
// (replacing what it held). Returns the number stored, or -1 without a
// stream or when memory runs out.
int32_t kap_read_header(HeaderLines &header, ChartStream *stream, int32_t limit);
