#include "geojson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Twice the signed area: positive for a counterclockwise ring.
double twice_area(const std::vector<LonLat> &ring) {
    double sum = 0;
    for (size_t k = 0; k < ring.size(); ++k) {
        const LonLat &a = ring[k], &b = ring[(k + 1) % ring.size()];
        sum += a.lon * b.lat - b.lon * a.lat;
    }
    return sum;
}

// The part of a ring on one side of longitude `at` (`west` keeps what lies
// west of it), cut along it.
std::vector<LonLat> clipped(const std::vector<LonLat> &ring, double at, bool west) {
    std::vector<LonLat> out;
    const auto inside = [&](const LonLat &p) { return west ? p.lon <= at : p.lon >= at; };
    for (size_t k = 0; k < ring.size(); ++k) {
        const LonLat &a = ring[k], &b = ring[(k + 1) % ring.size()];
        if (inside(a)) out.push_back(a);
        if (inside(a) != inside(b)) {
            const double t = (at - a.lon) / (b.lon - a.lon);
            out.push_back({at, a.lat + t * (b.lat - a.lat)});
        }
    }
    return out;
}

// Closed, counterclockwise, longitudes shifted by `shift`.
std::vector<LonLat> finished(std::vector<LonLat> ring, double shift) {
    for (LonLat &p : ring) p.lon += shift;
    if (twice_area(ring) < 0) std::reverse(ring.begin(), ring.end());
    ring.push_back(ring.front());
    return ring;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

std::string ring_json(const std::vector<LonLat> &ring) {
    std::string out = "[";
    for (size_t k = 0; k < ring.size(); ++k)
        out += (k ? ",[" : "[") + number(ring[k].lon) + "," + number(ring[k].lat) + "]";
    return out + "]";
}

}  // namespace

std::vector<std::vector<LonLat>> footprint_polygons(std::vector<LonLat> ring) {
    std::vector<std::vector<LonLat>> polygons;
    if (ring.size() < 3) return polygons;
    // One continuous ring: no step between neighbours of more than half a
    // turn.
    for (size_t k = 1; k < ring.size(); ++k) {
        while (ring[k].lon - ring[k - 1].lon > 180) ring[k].lon -= 360;
        while (ring[k].lon - ring[k - 1].lon < -180) ring[k].lon += 360;
    }
    double west = ring[0].lon, east = ring[0].lon;
    for (const LonLat &p : ring) west = std::min(west, p.lon), east = std::max(east, p.lon);
    // Into -180..180 as far as a whole turn takes it.
    const double turn = std::floor((west + east) / 720 + 0.5) * 360;
    for (LonLat &p : ring) p.lon -= turn;
    west -= turn;
    east -= turn;
    if (east <= 180 && west >= -180) {
        polygons.push_back(finished(ring, 0));
        return polygons;
    }
    const double at = east > 180 ? 180 : -180;
    const std::vector<LonLat> near = clipped(ring, at, at > 0), far = clipped(ring, at, at < 0);
    if (near.size() >= 3) polygons.push_back(finished(near, 0));
    if (far.size() >= 3) polygons.push_back(finished(far, at > 0 ? -360 : 360));
    return polygons;
}

std::string geometry_json(const std::vector<std::vector<LonLat>> &polygons) {
    if (polygons.empty()) return "null";
    if (polygons.size() == 1) return "{\"type\":\"Polygon\",\"coordinates\":[" + ring_json(polygons[0]) + "]}";
    std::string out = "{\"type\":\"MultiPolygon\",\"coordinates\":[";
    for (size_t k = 0; k < polygons.size(); ++k) out += (k ? ",[" : "[") + ring_json(polygons[k]) + "]";
    return out + "]}";
}
