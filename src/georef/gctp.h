// The parts of GCTP, the USGS General Cartographic Transformation Package,
// that the library calls. GCTP ships no prototypes; these follow its sources.
#pragma once

extern "C" {
long init(long ipr, long jpr, char *efile, char *pfile);
void sphdz(long isph, double *parm, double *r_major, double *r_minor, double *radius);

long merforint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
               double false_north);
long merfor(double lon, double lat, double *x, double *y);
long tmforint(double r_maj, double r_min, double scale_fact, double center_lon, double center_lat,
              double false_east, double false_north);
long tmfor(double lon, double lat, double *x, double *y);
long polyforint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
                double false_north);
long polyfor(double lon, double lat, double *x, double *y);
long lamccforint(double r_maj, double r_min, double lat1, double lat2, double c_lon, double c_lat,
                 double false_east, double false_north);
long lamccfor(double lon, double lat, double *x, double *y);
long alberforint(double r_maj, double r_min, double lat1, double lat2, double lon0, double lat0,
                 double false_east, double false_north);
long alberfor(double lon, double lat, double *x, double *y);

long merinvint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
               double false_north);
long merinv(double x, double y, double *lon, double *lat);
long tminvint(double r_maj, double r_min, double scale_fact, double center_lon, double center_lat,
              double false_east, double false_north);
long tminv(double x, double y, double *lon, double *lat);
long polyinvint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
                double false_north);
long polyinv(double x, double y, double *lon, double *lat);
long lamccinvint(double r_maj, double r_min, double lat1, double lat2, double c_lon, double c_lat,
                 double false_east, double false_north);
long lamccinv(double x, double y, double *lon, double *lat);
long alberinvint(double r_maj, double r_min, double lat1, double lat2, double lon0, double lat0,
                 double false_east, double false_north);
long alberinv(double x, double y, double *lon, double *lat);

// GCTP's own longitude step, renamed in its object file at build time so
// that the library's transforms call the switchable step (adjust_lon) instead.
double gctp_library_adjust_lon(double x);
// The step GCTP's transforms call.
double adjust_lon(double x);
}
