// GCTP's Mercator, forward and inverse, as its sources declare them: GCTP
// ships no prototypes.
#pragma once

extern "C" {
long merforint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
               double false_north);
long merfor(double lon, double lat, double *x, double *y);
long merinvint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
               double false_north);
long merinv(double x, double y, double *lon, double *lat);
}
