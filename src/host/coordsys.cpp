#include "host/coordsys.h"

#include <charconv>
#include <cstring>
#include <initializer_list>

#include "chart/chart_reader.h"
#include "common/header_records.h"
#include "common/process_state.h"
#include "host/handles.h"
#include "host/layer_handle.h"
#include "nvch.h"
#include "host/text_copy.h"
#include "platform/heap.h"

namespace {

constexpr char kDatum[] = "WGS84";
constexpr char kGeographic[] =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]";
constexpr char kDescriptor[] = "{0:pcstring,}Emif_String,{1:x{0:pcstring,}Emif_String,coordSys,}PE_COORDSYS,.";

constexpr char kUtm[] =
    "PROJCS[\"%s_UTM\",%s,PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",0],"
    "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",%s],PARAMETER[\"Scale_Factor\",0.9996],"
    "PARAMETER[\"Latitude_Of_Origin\",0],UNIT[\"Meter\",1]]";
constexpr char kMercator[] =
    "PROJCS[\"%s_MERCATOR\",%s,PROJECTION[\"Mercator\"],PARAMETER[\"False_Easting\",0],"
    "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",0],PARAMETER[\"Standard_Parallel_1\",%g],"
    "UNIT[\"Meter\",1.0]]";
constexpr char kPolyconic[] =
    "PROJCS[\"%s_Polyconic\",%s,PROJECTION[\"Polyconic\"],PARAMETER[\"False_Easting\",0],"
    "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",%s],PARAMETER[\"Latitude_Of_Origin\",0],"
    "UNIT[\"Meter\",1]]";
constexpr char kTransverseMercator[] =
    "PROJCS[\"%s_Transverse_Mercator\",%s,PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",0],"
    "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",%s],PARAMETER[\"Scale_Factor\",0.9996],"
    "PARAMETER[\"Latitude_Of_Origin\",0],UNIT[\"Meter\",1]]";
constexpr char kLambert[] =
    "PROJCS[\"%s_Lambert_Conformal_Conic\",%s,PROJECTION[\"Lambert_Conformal_Conic\"],"
    "PARAMETER[\"False_Easting\",0],PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",%s],"
    "PARAMETER[\"Standard_Parallel_1\",47.03333333],PARAMETER[\"Standard_Parallel_2\",48.05],"
    "PARAMETER[\"Latitude_Of_Origin\",0],UNIT[\"Meter\",1]]";

enum class Template { None, Utm, Mercator, Polyconic, TransverseMercator, Lambert };

// The first prefix that the upper-case projection name begins with.
Template template_for(const char *projection) {
    static const struct {
        const char *prefix;
        Template chosen;
    } kTable[] = {{"UNIVERSAL TRANS", Template::Utm},
                  {"MERCATOR", Template::Mercator},
                  {"POLYCONIC", Template::Polyconic},
                  {"TRANSVERSE MERC", Template::TransverseMercator},
                  {"LAMBERT", Template::Lambert}};
    for (const auto &row : kTable)
        if (std::strncmp(projection, row.prefix, std::strlen(row.prefix)) == 0) return row.chosen;
    return Template::None;
}

const char *format_of(Template t) {
    switch (t) {
        case Template::Utm: return kUtm;
        case Template::Polyconic: return kPolyconic;
        case Template::TransverseMercator: return kTransverseMercator;
        case Template::Lambert: return kLambert;
        default: return nullptr;
    }
}

// A number as printf's %g writes it in the C locale, whatever locale the
// host runs in: a decimal comma would make the text unreadable as WKT.
struct GNumber {
    char digits[32];
};

GNumber number_as_g(double value) {
    GNumber n{};
    const auto result = std::to_chars(n.digits, n.digits + sizeof n.digits - 1, value, std::chars_format::general, 6);
    *result.ptr = '\0';
    return n;
}

// Fills a template's %s and %g conversions, in order, with `values` (the
// %g ones already written by number_as_g), into a text of exactly the size
// needed, however long the central meridian text is. Writes into `out`
// when it is given; returns the length.
std::size_t fill_template(const char *format, std::initializer_list<const char *> values, char *out) {
    std::size_t length = 0;
    auto value = values.begin();
    for (const char *p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && (p[1] == 's' || p[1] == 'g') && value != values.end()) {
            const std::size_t n = std::strlen(*value);
            if (out != nullptr) std::memcpy(out + length, *value, n);
            length += n;
            ++value;
            ++p;
        } else {
            if (out != nullptr) out[length] = *p;
            ++length;
        }
    }
    return length;
}

FieldText compose(const char *format, std::initializer_list<const char *> values) {
    const std::size_t length = fill_template(format, values, nullptr);
    FieldText text(static_cast<char *>(lib_malloc(length + 1)));
    if (!text) return nullptr;
    fill_template(format, values, text.get());
    text.get()[length] = '\0';
    return text;
}

// The block: the record, then the text without a terminator.
void *coordsys_block(const char *wkt, std::size_t length, std::size_t *size) {
    *size = sizeof(CoordSysRecord) + length;
    auto *block = static_cast<uint8_t *>(host_alloc(*size));
    if (block == nullptr) return nullptr;
    std::memcpy(block + sizeof(CoordSysRecord), wkt, length);
    const CoordSysRecord record{static_cast<uint32_t>(length),
                                reinterpret_cast<const char *>(block + sizeof(CoordSysRecord))};
    std::memcpy(block, &record, sizeof record);
    return block;
}

}  // namespace

double mercator_lts_get() { return mercator_lts; }

FieldText coordsys_wkt_build(const ChartFile *chart) {
    if (chart == nullptr || chart->reader == nullptr) return nullptr;
    const HeaderLines &h = chart->reader->header;
    if (kap_find_record(h, "ARC") != nullptr) return nullptr;
    const char *knp = kap_find_record(h, "KNP");
    if (knp == nullptr) return nullptr;
    FieldText projection = kap_get_field(knp, "PR", 1);
    FieldText meridian = kap_get_field(knp, "PP", 1);
    if (!projection || !meridian) return nullptr;
    text_upcase(projection.get());
    const Template chosen = template_for(projection.get());
    if (chosen == Template::None) return nullptr;
    if (chosen == Template::Mercator)
        return compose(kMercator, {kDatum, kGeographic, number_as_g(mercator_lts_get()).digits});
    return compose(format_of(chosen), {kDatum, kGeographic, meridian.get()});
}

extern "C" int32_t nvchLayerMapProjectionRead(LayerHandle *layer, char **short_name, void **block,
                                              int32_t *block_size, char **descriptor, char **type_name,
                                              int32_t *zero1, int32_t *zero2, int32_t *zero3,
                                              int32_t *zero4) {
    if (!handle_is_open_layer(layer) || short_name == nullptr || block == nullptr || block_size == nullptr ||
        descriptor == nullptr || type_name == nullptr)
        return -1;
    *short_name = host_strdup("PE");
    FieldText wkt = coordsys_wkt_build(layer->chart);
    if (!wkt) return -1;
    std::size_t size = 0;
    *block = coordsys_block(wkt.get(), std::strlen(wkt.get()), &size);
    *block_size = static_cast<int32_t>(size);
    *descriptor = host_strdup(kDescriptor);
    *type_name = host_strdup("PE_COORDSYS");
    for (int32_t *zero : {zero1, zero2, zero3, zero4})
        if (zero != nullptr) *zero = 0;
    return *block != nullptr && *short_name != nullptr && *type_name != nullptr ? 0 : -1;
}
