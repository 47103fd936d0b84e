// The longitude step of every GCTP forward transform. GCTP reduces the
// difference between a point's longitude and the central meridian into
// -pi..pi; a chart that straddles the 180 degree meridian has its longitudes
// unwrapped first and must project them as they stand, or its points would
// land on the far side of the map. The switch chooses: on, GCTP's own step;
// off, the angle unchanged. The build renames GCTP's step so that its
// transforms call this one.
#include "common/process_state.h"
#include "georef/gctp.h"
#include "georef/projection.h"

void set_lon_normalisation(int on) { lon_normalisation = on; }

extern "C" double adjust_lon(double x) {
    return lon_normalisation != 0 ? gctp_library_adjust_lon(x) : x;
}
