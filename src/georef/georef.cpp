#include "georef/georef.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/angles.h"
#include "georef/matrix.h"
#include "georef/projection.h"

namespace {

constexpr double kSecondsToDegrees = 0.0002777777777777778;
constexpr double kWrapSpread = 200.0;
constexpr double kMinimumPairDistance = 100.0;
constexpr long kDtmLimit = 79;
constexpr long kRefLimit = 199;

struct DatumShift {
    double latitude = 0;
    double longitude = 0;
};

// A shift that does not read as a finite number is no shift at all.
double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// "DTM/a,b": seconds of arc of latitude and longitude.
DatumShift read_datum_shift(const HeaderLines &h) {
    DatumShift shift;
    const char *dtm = kap_find_record(h, "DTM");
    if (dtm == nullptr) return shift;
    FieldText copy(text_copy(dtm, kDtmLimit));
    if (!copy) return shift;
    char *cursor = copy.get();
    next_token(&cursor, "/");
    const char *a = next_token(&cursor, ",");
    if (a == nullptr) return shift;
    shift.latitude = finite_or_zero(text_to_double(a) * kSecondsToDegrees);
    if (const char *b = next_token(&cursor, ","))
        shift.longitude = finite_or_zero(text_to_double(b) * kSecondsToDegrees);
    return shift;
}

// "Bad REF record (problem): REF/..." with the part of the record that
// was read, without its line end.
void report_bad_ref(const char *problem, const char *record) {
    FieldText copy(text_copy(record, kRefLimit));
    FieldText shown = copy ? record_without_line_end(copy.get()) : nullptr;
    std::fprintf(stderr, "Bad REF record (%s): %s\n", problem, shown ? shown.get() : "");
}

struct RefRecord {
    int32_t number = 0;
    double values[4] = {};   // x, y, latitude, longitude
};

// Reads "REF/n,x,y,lat,lon". False when a value is missing or is not a
// finite number.
bool parse_ref_record(const char *record, RefRecord *ref) {
    FieldText copy(text_copy(record, kRefLimit));
    if (!copy) return false;
    char *cursor = copy.get();
    next_token(&cursor, "/");
    const char *n = next_token(&cursor, ",");
    if (n == nullptr) return false;
    ref->number = text_to_int(n);
    for (double &v : ref->values) {
        const char *token = next_token(&cursor, ",");
        if (token == nullptr) return false;
        v = text_to_double(token);
        if (!std::isfinite(v)) return false;
    }
    return true;
}

bool is_ref_record(const char *line) { return std::strncmp(line, "REF", 3) == 0; }

// Shifts every point by the datum shift, then, when the longitudes straddle
// the 180 degree meridian (some below 0, some above, spread over 200
// degrees), brings the eastern ones round to the west.
void shift_and_wrap(double **table, int32_t n, DatumShift shift) {
    double smallest = 180.0, largest = -180.0;
    for (int32_t i = 0; i < n; ++i) {
        table[2][i] -= shift.latitude;
        table[3][i] -= shift.longitude;
        if (table[3][i] < smallest) smallest = table[3][i];
        if (table[3][i] > largest) largest = table[3][i];
    }
    if (smallest < 0 && largest > 0 && largest - smallest > kWrapSpread) {
        for (int32_t i = 0; i < n; ++i)
            if (table[3][i] > 0) table[3][i] -= 360.0;
    }
}

// The projection named by the "KNP" record's PR and PP fields, set up
// forward, or null after a message.
ForwardTransform projection_of(const HeaderLines &h, ProjectionParameters *params) {
    const char *knp = kap_find_record(h, "KNP");
    FieldText name = knp ? kap_get_field(knp, "PR", 1) : nullptr;
    FieldText meridian = knp ? kap_get_field(knp, "PP", 1) : nullptr;
    if (!name || !meridian) {
        std::fputs("KNP record lacks PR or PP: cannot set up the projection\n", stderr);
        return nullptr;
    }
    return setup_projection(name.get(), text_to_double(meridian.get()), h, params);
}

// The middle of the points' longitudes, as wrapped.
double middle_longitude(double *const *table, int32_t n) {
    double smallest = table[3][0], largest = table[3][0];
    for (int32_t i = 1; i < n; ++i) {
        smallest = std::fmin(smallest, table[3][i]);
        largest = std::fmax(largest, table[3][i]);
    }
    return (smallest + largest) / 2;
}

bool project_points(ForwardTransform transform, double **table, double **projected, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        if (transform(table[3][i] * kDegreesToRadians, table[2][i] * kDegreesToRadians, &projected[0][i],
                      &projected[1][i]) != 0)
            return false;
    }
    return true;
}

// The pixel sizes, the origin point and the corner, from pixel positions
// `pixels` and the points' projections.
int32_t fit_corner(MapFrame &frame, ForwardTransform transform, double **table, double **pixels, double **projected,
                   int32_t n) {
    const double sx = fit_pixel_scale(pixels, projected, 0, n);
    const double sy = fit_pixel_scale(pixels, projected, 1, n);
    frame.pixel_size_x = sx > 0 ? sx : -sx;
    frame.pixel_size_y = sy > 0 ? sy : -sy;
    const int32_t h = nearest_ref_to_origin(pixels, n);
    if (transform(table[3][h] * kDegreesToRadians, table[2][h] * kDegreesToRadians, &frame.upper_left_x,
                  &frame.upper_left_y) != 0) {
        std::fputs("failed to get projected coords for ref points\n", stderr);
        return -1;
    }
    frame.upper_left_x -= pixels[0][h] * frame.pixel_size_x;
    frame.upper_left_y += pixels[1][h] * frame.pixel_size_y;
    return 0;
}

// Projects and fits; the matrices are made and released here.
int32_t fit_to_points(MapFrame &frame, const HeaderLines &header, const RefPoints &points, PixelMove move) {
    const int32_t n = points.count;
    ForwardTransform transform = projection_of(header, &frame.projection);
    if (transform == nullptr) return -1;
    double **projected = matrix(0, 1, 0, n - 1);
    if (projected == nullptr) return -1;   // matrix has said why
    int32_t result = -1;
    if (project_points(transform, points.table, projected, n)) {
        double **pixels = points.table;
        double **rotated = nullptr;
        if (move.move != nullptr) {
            rotated = matrix(0, 3, 0, n - 1);
            if (rotated != nullptr) {
                for (int row = 0; row < 4; ++row) std::memcpy(rotated[row], points.table[row], sizeof(double) * n);
                move.move(rotated, n, move.context);
            }
            pixels = rotated;
        }
        if (pixels != nullptr) result = fit_corner(frame, transform, points.table, pixels, projected, n);
        if (rotated) release_matrix(rotated, 0, 3, 0, n - 1);
    }
    release_matrix(projected, 0, 1, 0, n - 1);
    return result;
}

}  // namespace

int32_t apply_arc_record(ChartFile *chart, const HeaderLines &h) {
    const char *arc = kap_find_record(h, "ARC");
    if (arc == nullptr) return 1;
    const struct {
        const char *key;
        double *into;
    } fields[] = {{"UX", &chart->upper_left_x},
                  {"UY", &chart->upper_left_y},
                  {"DX", &chart->pixel_size_x},
                  {"DY", &chart->pixel_size_y}};
    for (const auto &f : fields) {
        FieldText value = kap_get_field(arc, f.key, 1);
        if (!value) return 1;
        *f.into = text_to_double(value.get());
    }
    return 0;
}

int32_t read_ref_points(char *const *lines, int32_t count, RefPoints *points) {
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) n += is_ref_record(lines[i]) ? 1 : 0;
    *points = RefPoints{};
    if (n == 0) return 0;
    points->table = matrix(0, 3, 0, n - 1);
    if (points->table == nullptr) return -1;   // matrix has said why
    points->count = n;
    // Each point number 1..n once: a column is written only when it is free.
    FieldText seen(static_cast<char *>(lib_calloc(static_cast<std::size_t>(n), 1)));
    if (!seen) {
        release_ref_points(points);
        return -1;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!is_ref_record(lines[i])) continue;
        RefRecord ref;
        const char *problem = nullptr;
        char numbering[64];
        if (!parse_ref_record(lines[i], &ref)) {
            problem = "expected n,x,y,lat,lon";
        } else if (ref.number < 1 || ref.number > n || seen.get()[ref.number - 1]) {
            std::snprintf(numbering, sizeof numbering, "point numbers must run from 1 to %d once each", n);
            problem = numbering;
        }
        if (problem != nullptr) {
            report_bad_ref(problem, lines[i]);
            release_ref_points(points);
            return -1;
        }
        seen.get()[ref.number - 1] = 1;
        for (int row = 0; row < 4; ++row) points->table[row][ref.number - 1] = ref.values[row];
    }
    return 0;
}

void release_ref_points(RefPoints *points) {
    if (points->table != nullptr) release_matrix(points->table, 0, 3, 0, points->count - 1);
    *points = RefPoints{};
}

double fit_pixel_scale(double *const *pixels, double *const *projected, int32_t axis, int32_t count) {
    if ((axis != 0 && axis != 1) || count < 2) return 1.0;
    double sum = 0;
    int32_t pairs = 0;
    for (int32_t i = 0; i < count - 1; ++i) {
        for (int32_t j = i + 1; j < count; ++j) {
            const double dq = projected[axis][i] - projected[axis][j];
            const double dp = pixels[axis][i] - pixels[axis][j];
            if (std::trunc(dq) != 0 && std::trunc(dp) != 0 && std::fabs(dp) > kMinimumPairDistance) {
                sum += dq / dp;
                ++pairs;
            }
        }
    }
    return pairs > 0 ? sum / pairs : 1.0;
}

int32_t nearest_ref_to_origin(double *const *pixels, int32_t count) {
    int32_t best = 0;
    if (count < 1) return best;
    double best_distance = pixels[0][0] * pixels[0][0] + pixels[1][0] * pixels[1][0];
    for (int32_t i = 1; i < count; ++i) {
        const double d = pixels[0][i] * pixels[0][i] + pixels[1][i] * pixels[1][i];
        if (d < best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return best;
}

int32_t georeference_frame(const HeaderLines &h, PixelMove move, MapFrame *frame) {
    *frame = MapFrame{};
    const DatumShift shift = read_datum_shift(h);
    RefPoints points;
    if (read_ref_points(h.lines, h.count, &points) != 0) return -1;
    if (points.count == 0) {
        std::fputs("No REF points and no complete ARC record: cannot place the chart\n", stderr);
        return -1;
    }
    shift_and_wrap(points.table, points.count, shift);
    set_lon_normalisation(0);
    frame->center_longitude = middle_longitude(points.table, points.count);
    const int32_t result = fit_to_points(*frame, h, points, move);
    release_ref_points(&points);
    frame->invertible = result == 0;
    return result;
}

int32_t georeference_chart(ChartFile *chart, const HeaderLines &h, PixelMove move, MapFrame *frame) {
    if (apply_arc_record(chart, h) == 0) {
        *frame = MapFrame{};   // placed as the record says, in no projection the library knows
        return 0;
    }
    if (georeference_frame(h, move, frame) != 0) return -1;
    chart->upper_left_x = frame->upper_left_x;
    chart->upper_left_y = frame->upper_left_y;
    chart->pixel_size_x = frame->pixel_size_x;
    chart->pixel_size_y = frame->pixel_size_y;
    return 0;
}
