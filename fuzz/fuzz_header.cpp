// The header reader and every lookup on arbitrary text: the records kept,
// the record and field lookups, and the reference points. A record found
// under a name begins with that name; a field joined over more tokens
// begins with the field joined over fewer.
#include <cstdint>
#include <cstring>

#include "chart/header.h"
#include "fuzz_support.h"
#include "georef/georef.h"

namespace {

const char *const kKeys[] = {"RA", "SK", "PR", "PP", "P1", "P5", "P6", "UN", " UN", "UX", "DY", "NA", "X", "", "RAX"};
const char *const kRecords[] = {"VER", "CHT", "KNP", "OST", "BSB", "IFM", "ARC", "DTM", "REF", "RGB"};

void check_field_joins(const char *record, const char *key) {
    FieldText shorter = kap_get_field(record, key, 1);
    for (int32_t tokens = 2; tokens <= 3; ++tokens) {
        FieldText longer = kap_get_field(record, key, tokens);
        FUZZ_CHECK(!shorter == !longer);
        if (!shorter) return;
        FUZZ_CHECK(std::strncmp(longer.get(), shorter.get(), std::strlen(shorter.get())) == 0);
        shorter = std::move(longer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ChartStream *stream = stream_open_memory(data, static_cast<int64_t>(size));
    HeaderLines h;
    const int32_t limit = size > 0 && (data[0] & 1) ? 100 : 1000;
    const int32_t records = kap_read_header(h, stream, limit);
    FUZZ_CHECK(records <= limit);
    for (const char *name : kRecords) {
        const char *record = kap_find_record(h, name);
        if (record == nullptr) continue;
        FUZZ_CHECK(std::strncmp(record, name, 3) == 0);
        for (const char *key : kKeys) check_field_joins(record, key);
    }
    for (int32_t i = 0; i < h.count; ++i) {
        FieldText value = kap_get_field(h.lines[i], "PR", 1);
        if (value) text_upcase(value.get());
        FieldText trimmed = record_without_line_end(h.lines[i]);
        if (trimmed) FUZZ_CHECK(std::strncmp(trimmed.get(), h.lines[i], std::strlen(trimmed.get())) == 0);
    }
    RefPoints points;
    if (read_ref_points(h.lines, h.count, &points) == 0) release_ref_points(&points);
    header_lines_free(h);
    stream_close(stream);
    return 0;
}
