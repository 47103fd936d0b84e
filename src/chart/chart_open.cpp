#include "chart/chart_open.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "chart/header.h"
#include "chart/image_params.h"
#include "chart/reader_lifecycle.h"
#include "chart/working_set.h"
#include "common/budget.h"
#include "common/process_state.h"
#include "georef/georef.h"
#include "platform/lock.h"
#include "platform/heap.h"
#include "raster/row_decode.h"
#include "raster/run_decode.h"
#include "raster/skew.h"

namespace {

constexpr int32_t kProbeRecordLimit = 100;
constexpr int32_t kOpenRecordLimit = 1000;

// Tries the path, then the path with ".kap" and ".KAP", building each name
// in `found_name`; the first that opens is returned.
ChartStream *open_under_any_name(const char *path, char *found_name) {
    static const char *const kSuffixes[] = {"", ".kap", ".KAP"};
    for (const char *suffix : kSuffixes) {
        std::strcpy(found_name, path);
        std::strcat(found_name, suffix);
        if (ChartStream *s = stream_open_text(found_name)) return s;
    }
    return nullptr;
}

// The "OST" value, one row per index entry when it is missing or below 1.
int32_t read_rows_per_entry(const HeaderLines &h) {
    const char *ost = kap_find_record(h, "OST");
    if (ost == nullptr || std::strlen(ost) < 4) return 1;
    const int32_t rows = text_to_int(ost + 4);
    return rows >= 1 ? rows : 1;
}

// Serves the chart upright: its turn, the upright size in the ChartFile,
// and the scratch row of direct decoding. 0, or -1 (with a message on
// standard error) when the upright image is too large to describe or the
// scratch row cannot be had.
int32_t turn_upright(ChartFile *chart, double degrees) {
    ChartReader &r = *chart->reader;
    const int32_t turned = skew_setup(&r.skew, r.image.width, r.image.height, degrees);
    if (turned == kSkewNoAngle) return 0;   // no usable angle: served as stored
    r.mode = RowMode::skewed_untried;
    if (turned == kSkewTooLarge) {
        std::fputs("Skewed chart too large to rotate\n", stderr);
        return -1;
    }
    chart->width = r.skew.width;
    chart->height = r.skew.height;
    // Zero-filled: direct decoding clears only what earlier rows wrote. The
    // room behind takes the whole stores of tile decoding.
    r.scratch.row = static_cast<uint8_t *>(lib_calloc(static_cast<std::size_t>(r.image.width) + 16, 1));
    if (r.scratch.row == nullptr) {
        std::fputs("failed to get space for skew row\n", stderr);
        return -1;
    }
    return 0;
}

// Turns skew on when the "KNP" record's SK field reads as a non-zero,
// finite angle and the skew switch is on. With the switch off, the turn is
// still known (the chart is served as stored): its pixels are placed on
// the earth through it.
int32_t read_skew(ChartFile *chart, const char *knp) {
    FieldText value = kap_get_field(knp, "SK", 1);
    if (!value) return 0;
    const double degrees = text_to_double(value.get());
    if (degrees == 0.0 || !std::isfinite(degrees)) return 0;
    if (skew_switch == 0) {
        ChartReader &r = *chart->reader;
        if (skew_setup(&r.skew, r.image.width, r.image.height, degrees) != kSkewTurned) r.skew = SkewGeometry{};
        return 0;
    }
    return turn_upright(chart, degrees);
}

// Moves the reference pixels of a chart served upright into the upright
// image, as its rows are delivered.
void move_to_upright(double **points, int32_t count, const void *context) {
    skew_ref_points(points, count, *static_cast<const SkewGeometry *>(context));
}

}  // namespace

int32_t chart_open_sequence(ChartFile *chart) {
    ChartReader *reader = chart->reader;
    if (kap_read_header(reader->header, reader->image.stream, kOpenRecordLimit) < 1) return -1;
    const HeaderLines &h = reader->header;
    reader->image.index_offset = kap_index_offset(reader->image.stream);
    if (kap_read_depth(reader) != 0) {
        std::fputs("Can't get color mode for BSB file\n", stderr);
        return -1;
    }
    reader->image.rows_per_entry = read_rows_per_entry(h);
    if (kap_read_size(chart) != 0) {
        std::fputs("Failed to find size correctly in UDFinit\n", stdout);
        return -1;
    }
    if (kap_check_size(chart) != 0) return -1;
    if (kap_read_index(reader->image) != 0) {
        std::fputs("failed to read the row index of the BSB file\n", stderr);
        return -1;
    }
    if (kap_read_palette(chart) != 0) {
        std::fputs("failed to get space for the palette in BSB_open\n", stderr);
        return -1;
    }
    const char *knp = kap_find_record(h, "KNP");
    if (knp == nullptr) return -1;
    if (read_skew(chart, knp) != 0) return -1;
    const PixelMove upright{move_to_upright, &reader->skew};
    if (georeference_chart(chart, h, chart_is_skewed(reader) ? upright : PixelMove{}, &reader->map) != 0) return -1;
    // Served as stored though turned: the map information describes the
    // stored grid as the format has it; the frame is the upright one.
    if (chart_is_stored_turned(reader) && reader->map.invertible &&
        georeference_frame(h, upright, &reader->map) != 0)
        reader->map = MapFrame{};
    return 0;
}

int32_t chart_open_stream(ChartFile *chart, ChartStream *stream) {
    ChartReader *reader = chart_reader_new();
    if (reader == nullptr) {
        stream_close(stream);
        std::fputs("failed to get space for header in BSB_open\n", stderr);
        return -1;
    }
    reader->image.stream = stream;
    chart->reader = reader;
    // The projection library's parameters, and the values georeferencing
    // sets, are process-wide: opens take turns.
    ProcessLockGuard opens_take_turns;
    if (chart_open_sequence(chart) != 0) {
        chart_release(chart);
        return -1;
    }
    // The header is read: the chart holds nothing more until its rows are.
    stream_drop_window(reader->image.stream);
    working_set_join(*reader);
    return 0;
}

int32_t chart_probe_stream(ChartStream *stream) {
    ChartReader *reader = chart_reader_new();
    if (reader == nullptr) {
        stream_close(stream);
        return 0;
    }
    const int32_t records = kap_read_header(reader->header, stream, kProbeRecordLimit);
    stream_close(stream);   // the rest works on the records in memory
    const HeaderLines &h = reader->header;
    int32_t result = 0;
    if (records < 2 || kap_find_record(h, "VER") == nullptr) {
        result = 0;
    } else if (kap_find_record(h, "CHT") != nullptr) {
        std::fputs("This looks like a .bsb instead of a .kap file\n", stdout);
    } else if (kap_find_record(h, "KNP") != nullptr) {
        result = 1;
    } else {
        std::fputs("Missing a KNP header line!  Can't process.\n", stdout);
    }
    chart_reader_free(reader);
    return result;
}

extern "C" int32_t BSB_exist(const char *path, char *found_name) {
    if (path == nullptr || found_name == nullptr) return 0;
    ChartStream *stream = open_under_any_name(path, found_name);
    if (stream == nullptr) {
        std::printf("Unable to open the file %s [.KAP][.kap]\n", path);
        return 0;
    }
    return chart_probe_stream(stream);
}

extern "C" int32_t BSB_open(const char *path, int32_t, int32_t, int32_t, int32_t, ChartFile *chart) {
    // A record that is already open would lose its reader.
    if (chart == nullptr || chart->reader != nullptr) return -1;
    ChartStream *stream = stream_open_binary(path);
    if (stream == nullptr) {
        std::fputs("Error: (BSB_open) fopen failed\n", stderr);
        return -1;
    }
    return chart_open_stream(chart, stream);
}

extern "C" int32_t BSB_close(ChartFile *chart) {
    chart_release(chart);
    return 0;
}

extern "C" void BSB_set_skew_state(const int32_t *state) {
    if (state != nullptr) skew_switch = *state;
}

extern "C" void BSB_set_LTS(float lts) { mercator_lts = static_cast<double>(lts); }

extern "C" void BSB_set_memory_budget(int64_t bytes) { budget_set(bytes); }

extern "C" void BSB_useWGS84(void) { datum_switch = 1; }

extern "C" void BSB_useSphere(void) { datum_switch = 0; }
