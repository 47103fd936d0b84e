// Choosing and setting up the forward projection of a chart.
#pragma once

#include "common/header_records.h"

// Projects a longitude and latitude (radians) to x and y (metres): 0, or a
// GCTP error code. Works with the parameters of the latest set-up.
using ForwardTransform = long (*)(double lon, double lat, double *x, double *y);

// Sets up the projection named `name` (upper-cased in place) with the
// central meridian in degrees (Albers reads its parallels from the
// header's "KNP" record); null, usually after a message on standard
// error, when the name is not supported or the set-up is refused.
ForwardTransform setup_projection(char *name, double central_meridian, const HeaderLines &header);

// GCTP's longitude step: on (1, the default) reduces into -pi..pi, off (0)
// leaves longitudes as they are. Process-wide.
void set_lon_normalisation(int on);
