#include "georef/projection.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "common/angles.h"
#include "common/process_state.h"
#include "georef/gctp.h"

namespace {

constexpr long kGrs1980 = 8;
constexpr long kSphere = 19;
// Lambert standard parallels, 47 deg 02 min and 48 deg 03 min, whatever the
// chart says.
constexpr double kLambertParallel1 = 0.8208865248546663;
constexpr double kLambertParallel2 = 0.8386307055832753;

struct Axes {
    double a;
    double b;
};

Axes spheroid(long code) {
    double parameters[15] = {};
    Axes axes{};
    double radius = 0;
    sphdz(code, parameters, &axes.a, &axes.b, &radius);
    return axes;
}

bool begins_with(const char *name, const char *prefix) {
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// A "KNP" field in radians, or false when the field is missing.
bool knp_angle(const char *knp, const char *key, double *radians) {
    FieldText value = kap_get_field(knp, key, 1);
    if (!value) return false;
    *radians = text_to_double(value.get()) * kDegreesToRadians;
    return true;
}

// Albers takes its parallels and origin from the "KNP" fields P5, P6, P1.
// Returns the set-up's status, or nothing when a field is missing.
std::optional<long> setup_albers(const char *name, double central_meridian, const HeaderLines &h, Axes axes) {
    if (begins_with(name, "ALBERS SPHERIC")) axes = spheroid(kSphere);
    const char *knp = kap_find_record(h, "KNP");
    if (knp == nullptr) return std::nullopt;
    double origin = 0, parallel1 = 0, parallel2 = 0;
    if (!knp_angle(knp, "P1", &origin)) {
        std::fputs("Failed to find P1 for Albers\n", stderr);
        return std::nullopt;
    }
    if (!knp_angle(knp, "P5", &parallel1) || !knp_angle(knp, "P6", &parallel2)) return std::nullopt;
    return alberforint(axes.a, axes.b, parallel1, parallel2, central_meridian, origin, 0, 0);
}

}  // namespace

ForwardTransform setup_projection(char *name, double central_meridian, const HeaderLines &header) {
    text_upcase(name);
    char no_file[] = "none";
    init(4, 4, no_file, no_file);   // both report channels off: GCTP prints nothing
    const Axes axes = spheroid(kGrs1980);
    const double meridian = central_meridian * kDegreesToRadians;

    long status = 0;
    ForwardTransform transform = nullptr;
    if (begins_with(name, "MERCATOR")) {
        // Always centred on Greenwich with true scale at the equator.
        mercator_lts = 0.0;
        status = merforint(axes.a, axes.b, 0, 0, 0, 0);
        transform = merfor;
    } else if (begins_with(name, "UNIVERSAL TRANS") || begins_with(name, "TRANSVERSE MERC") ||
               begins_with(name, "UTM") || begins_with(name, "TM")) {
        status = tmforint(axes.a, axes.b, 0.9996, meridian, 0, 0, 0);
        transform = tmfor;
    } else if (begins_with(name, "POLYCONIC")) {
        status = polyforint(axes.a, axes.b, meridian, 0, 0, 0);
        transform = polyfor;
    } else if (begins_with(name, "LAMBERT CONFORMAL CONIC")) {
        status = lamccforint(axes.a, axes.b, kLambertParallel1, kLambertParallel2, meridian, 0, 0, 0);
        transform = lamccfor;
    } else if (begins_with(name, "ALBERS")) {
        const std::optional<long> albers = setup_albers(name, meridian, header, axes);
        if (!albers) return nullptr;   // a missing field, reported above where it is
        status = *albers;
        transform = alberfor;
    } else {
        std::fprintf(stderr, "%s not supported yet.\n", name);
        return nullptr;
    }
    // A refused set-up leaves GCTP with an earlier chart's parameters.
    if (status != 0) {
        std::fprintf(stderr, "%s projection refused its parameters\n", name);
        return nullptr;
    }
    return transform;
}
