// Choosing and setting up the projection of a chart, forward (longitude
// and latitude to the plane) and inverse, in the projection library.
#pragma once

#include <cstdint>

#include "common/header_records.h"

// Projects a longitude and latitude (radians) to x and y (metres): 0, or a
// GCTP error code. Works with the parameters of the latest set-up.
using ForwardTransform = long (*)(double lon, double lat, double *x, double *y);
// The way back: x and y (metres) to longitude and latitude (radians).
using InverseTransform = long (*)(double x, double y, double *lon, double *lat);

enum class ProjectionKind : int32_t { mercator, transverse_mercator, polyconic, lambert_conformal_conic, albers };

// A projection as a chart's header names it, ready to be set up.
struct ProjectionParameters {
    ProjectionKind kind = ProjectionKind::mercator;
    double central_meridian = 0;   // radians
    double origin = 0;             // Albers: latitude of origin (P1), radians
    double parallel1 = 0;          // Albers: standard parallels (P5, P6), radians
    double parallel2 = 0;
    bool sphere = false;           // Albers on the sphere
};

// The projection named `name` (upper-cased in place) with the central
// meridian in degrees; Albers reads its parallels from the header's "KNP"
// record. False, usually after a message on standard error, when the name
// is not supported or a field Albers needs is missing.
bool projection_parameters(char *name, double central_meridian, const HeaderLines &header, ProjectionParameters *params);

// Sets up the projection library for `params`, forward or inverse: its
// status, 0 when the parameters are taken. The library keeps them in
// process-wide variables until the next set-up: callers hold the process
// lock from the set-up to the last transform.
long projection_setup_forward(const ProjectionParameters &params, ForwardTransform *transform);
long projection_setup_inverse(const ProjectionParameters &params, InverseTransform *transform);

// The projection named `name` set up forward, as an open sets it up: the
// name upper-cased in place, a Mercator set-up resetting the latitude of
// true scale that the coordinate system reports. Null, usually after a
// message on standard error, when the name is not supported or the set-up
// is refused. Fills `params` when given.
ForwardTransform setup_projection(char *name, double central_meridian, const HeaderLines &header,
                                  ProjectionParameters *params = nullptr);

// GCTP's longitude step: on (1, the default) reduces into -pi..pi, off (0)
// leaves longitudes as they are. Process-wide.
void set_lon_normalisation(int on);
