#include "georef/projection.h"

#include <cstdio>
#include <cstring>

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
// False when a field is missing.
bool albers_fields(const HeaderLines &h, ProjectionParameters *params) {
    const char *knp = kap_find_record(h, "KNP");
    if (knp == nullptr) return false;
    if (!knp_angle(knp, "P1", &params->origin)) {
        std::fputs("Failed to find P1 for Albers\n", stderr);
        return false;
    }
    return knp_angle(knp, "P5", &params->parallel1) && knp_angle(knp, "P6", &params->parallel2);
}

// The projection library with both report channels off (it prints
// nothing), and the ellipsoid of `params`.
Axes start(const ProjectionParameters &params) {
    char no_file[] = "none";
    init(4, 4, no_file, no_file);
    return spheroid(params.sphere ? kSphere : kGrs1980);
}

}  // namespace

bool projection_parameters(char *name, double central_meridian, const HeaderLines &header, ProjectionParameters *params) {
    text_upcase(name);
    *params = ProjectionParameters{};
    params->central_meridian = central_meridian * kDegreesToRadians;
    if (begins_with(name, "MERCATOR")) {
        params->kind = ProjectionKind::mercator;
    } else if (begins_with(name, "UNIVERSAL TRANS") || begins_with(name, "TRANSVERSE MERC") ||
               begins_with(name, "UTM") || begins_with(name, "TM")) {
        params->kind = ProjectionKind::transverse_mercator;
    } else if (begins_with(name, "POLYCONIC")) {
        params->kind = ProjectionKind::polyconic;
    } else if (begins_with(name, "LAMBERT CONFORMAL CONIC")) {
        params->kind = ProjectionKind::lambert_conformal_conic;
    } else if (begins_with(name, "ALBERS")) {
        params->kind = ProjectionKind::albers;
        params->sphere = begins_with(name, "ALBERS SPHERIC");
        if (!albers_fields(header, params)) return false;   // a missing field, reported above where it is
    } else {
        std::fprintf(stderr, "%s not supported yet.\n", name);
        return false;
    }
    return true;
}

long projection_setup_forward(const ProjectionParameters &params, ForwardTransform *transform) {
    const Axes axes = start(params);
    const double meridian = params.central_meridian;
    switch (params.kind) {
        case ProjectionKind::mercator:
            // Always centred on Greenwich with true scale at the equator.
            *transform = merfor;
            return merforint(axes.a, axes.b, 0, 0, 0, 0);
        case ProjectionKind::transverse_mercator:
            *transform = tmfor;
            return tmforint(axes.a, axes.b, 0.9996, meridian, 0, 0, 0);
        case ProjectionKind::polyconic:
            *transform = polyfor;
            return polyforint(axes.a, axes.b, meridian, 0, 0, 0);
        case ProjectionKind::lambert_conformal_conic:
            *transform = lamccfor;
            return lamccforint(axes.a, axes.b, kLambertParallel1, kLambertParallel2, meridian, 0, 0, 0);
        case ProjectionKind::albers:
            *transform = alberfor;
            return alberforint(axes.a, axes.b, params.parallel1, params.parallel2, meridian, params.origin, 0, 0);
    }
    return -1;
}

long projection_setup_inverse(const ProjectionParameters &params, InverseTransform *transform) {
    const Axes axes = start(params);
    const double meridian = params.central_meridian;
    switch (params.kind) {
        case ProjectionKind::mercator:
            *transform = merinv;
            return merinvint(axes.a, axes.b, 0, 0, 0, 0);
        case ProjectionKind::transverse_mercator:
            *transform = tminv;
            return tminvint(axes.a, axes.b, 0.9996, meridian, 0, 0, 0);
        case ProjectionKind::polyconic:
            *transform = polyinv;
            return polyinvint(axes.a, axes.b, meridian, 0, 0, 0);
        case ProjectionKind::lambert_conformal_conic:
            *transform = lamccinv;
            return lamccinvint(axes.a, axes.b, kLambertParallel1, kLambertParallel2, meridian, 0, 0, 0);
        case ProjectionKind::albers:
            *transform = alberinv;
            return alberinvint(axes.a, axes.b, params.parallel1, params.parallel2, meridian, params.origin, 0, 0);
    }
    return -1;
}

ForwardTransform setup_projection(char *name, double central_meridian, const HeaderLines &header,
                                  ProjectionParameters *kept) {
    ProjectionParameters params;
    if (!projection_parameters(name, central_meridian, header, &params)) return nullptr;
    ForwardTransform transform = nullptr;
    const long status = projection_setup_forward(params, &transform);
    if (params.kind == ProjectionKind::mercator) mercator_lts = 0.0;
    // A refused set-up leaves GCTP with an earlier chart's parameters.
    if (status != 0) {
        std::fprintf(stderr, "%s projection refused its parameters\n", name);
        return nullptr;
    }
    if (kept != nullptr) *kept = params;
    return transform;
}
