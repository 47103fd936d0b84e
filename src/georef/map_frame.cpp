#include "georef/map_frame.h"

#include <cmath>
#include <limits>

#include "common/angles.h"
#include "platform/lock.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Into -180..180.
double normalised(double longitude) {
    const double wrapped = std::remainder(longitude, 360.0);
    return wrapped == -180.0 ? 180.0 : wrapped;
}

// Newton's method on the forward transform from the projection library's
// own inverse, so that a position goes back to the very point the
// forward transform (the one the fit was made with) takes it to: the
// library's inverses of some projections are series that miss their
// forward twins by thousandths of a millimetre. Steps until the plane
// position is within a nanometre, four at most; a step the forward
// transform cannot take leaves the position as it stands.
void refine(ForwardTransform forward, double px, double py, double *lon, double *lat) {
    constexpr double kStep = 1e-8;   // radians, for the derivatives
    for (int k = 0; k < 4; ++k) {
        double x, y, x_lon, y_lon, x_lat, y_lat;
        if (forward(*lon, *lat, &x, &y) != 0) return;
        const double dx = px - x, dy = py - y;
        if (std::fabs(dx) < 1e-9 && std::fabs(dy) < 1e-9) return;
        if (forward(*lon + kStep, *lat, &x_lon, &y_lon) != 0 || forward(*lon, *lat + kStep, &x_lat, &y_lat) != 0)
            return;
        const double a = (x_lon - x) / kStep, b = (x_lat - x) / kStep, c = (y_lon - y) / kStep, d = (y_lat - y) / kStep;
        const double determinant = a * d - b * c;
        if (!std::isfinite(determinant) || determinant == 0) return;
        *lon += (d * dx - b * dy) / determinant;
        *lat += (a * dy - c * dx) / determinant;
    }
}

// The longitude on the side of the 180th meridian where the chart lies:
// that of lon - 360, lon, lon + 360 nearest its centre.
double beside(double longitude, double center) {
    return center + std::remainder(longitude - center, 360.0);
}

}  // namespace

int32_t map_pixel_to_latlon(const MapFrame &f, int32_t count, const double *x, const double *y, double *lat,
                            double *lon) {
    if (!f.invertible) return -1;
    ProcessLockGuard gctp_is_process_wide;
    // The open projected the chart's longitudes as they stood; the way back
    // leaves them so too, and they are brought into -180..180 here.
    set_lon_normalisation(0);
    InverseTransform inverse = nullptr;
    ForwardTransform forward = nullptr;
    if (projection_setup_inverse(f.projection, &inverse) != 0 || projection_setup_forward(f.projection, &forward) != 0)
        return -1;
    for (int32_t i = 0; i < count; ++i) {
        const double px = f.upper_left_x + x[i] * f.pixel_size_x;
        const double py = f.upper_left_y - y[i] * f.pixel_size_y;
        double lon_r = 0, lat_r = 0;
        if (!std::isfinite(px) || !std::isfinite(py) || inverse(px, py, &lon_r, &lat_r) != 0) {
            lat[i] = lon[i] = kNaN;
            continue;
        }
        refine(forward, px, py, &lon_r, &lat_r);
        lat[i] = lat_r / kDegreesToRadians;
        lon[i] = normalised(lon_r / kDegreesToRadians);
    }
    return 0;
}

int32_t map_latlon_to_pixel(const MapFrame &f, int32_t count, const double *lat, const double *lon, double *x,
                            double *y) {
    if (!f.invertible) return -1;
    ProcessLockGuard gctp_is_process_wide;
    set_lon_normalisation(0);
    ForwardTransform forward = nullptr;
    if (projection_setup_forward(f.projection, &forward) != 0) return -1;
    for (int32_t i = 0; i < count; ++i) {
        double px = 0, py = 0;
        if (!std::isfinite(lat[i]) || !std::isfinite(lon[i]) ||
            forward(beside(lon[i], f.center_longitude) * kDegreesToRadians, lat[i] * kDegreesToRadians, &px, &py) != 0) {
            x[i] = y[i] = kNaN;
            continue;
        }
        x[i] = (px - f.upper_left_x) / f.pixel_size_x;
        y[i] = (f.upper_left_y - py) / f.pixel_size_y;
    }
    return 0;
}
