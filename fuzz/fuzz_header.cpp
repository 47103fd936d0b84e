// The header reader and the record and field lookups on arbitrary text.
#include <cstdint>
#include <cstring>

#include "chart/header.h"
#include "georef/georef.h"

namespace {

const char *const kKeys[] = {"RA", "SK", "PR", "PP", "P1", "P5", "P6", "UN", " UN", "UX", "DY", "NA", "X", "", "RAX"};
const char *const kRecords[] = {"VER", "CHT", "KNP", "OST", "BSB", "IFM", "ARC", "DTM", "REF", "RGB"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ChartReader *reader = chart_reader_new();
    reader->file = stream_open_memory(data, static_cast<int64_t>(size));
    const int32_t limit = size > 0 && (data[0] & 1) ? 100 : 1000;
    kap_read_header(reader, limit);
    const HeaderLines &h = reader->header;
    for (const char *name : kRecords) {
        const char *record = kap_find_record(h.lines, h.count, name);
        if (record == nullptr) continue;
        for (const char *key : kKeys)
            for (int32_t tokens = 1; tokens <= 3; ++tokens) {
                FieldText value = kap_get_field(record, key, tokens);
                if (value) text_upcase(value.get());
            }
    }
    for (int32_t i = 0; i < h.count; ++i) {
        FieldText value = kap_get_field(h.lines[i], "RA", 2);
        FieldText trimmed = record_without_line_end(h.lines[i]);
    }
    RefPoints points;
    if (read_ref_points(h.lines, h.count, &points) == 0) release_ref_points(&points);
    stream_close(reader->file);
    chart_reader_free(reader);
    return 0;
}
