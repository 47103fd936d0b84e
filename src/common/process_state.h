// The values shared by every chart of the process.
//
// They are process-wide by design: the reader's setter exports change them
// for charts opened afterwards, and the projection library they configure
// keeps its own parameters in process-wide variables anyway. Each is
// defined once, in process_state.cpp. Any thread may set or read them at
// any time, so each is atomic; opens, which also use the projection
// library's own variables, take turns under the process lock
// (platform/lock.h).
#pragma once

#include <atomic>
#include <cstdint>

// Skew correction for charts opened afterwards (1, the default: served
// upright; 0: served as stored). Written by BSB_set_skew_state; read once
// by each open.
extern std::atomic<int32_t> skew_switch;

// Latitude of true scale printed in the Mercator coordinate system, in
// degrees. Written by BSB_set_LTS and reset to 0 by every Mercator
// projection set-up; read by the coordinate-system description.
extern std::atomic<double> mercator_lts;

// Datum choice (1 after BSB_useWGS84, 0 after BSB_useSphere). Kept for
// callers that set it; nothing in the library reads it.
extern std::atomic<int32_t> datum_switch;

// The projection library's longitude step: 1 reduces longitudes into
// -pi..pi as the published library does, 0 leaves them as they stand.
// Georeferencing turns it off for good; the step reads it on every
// transform.
extern std::atomic<int> lon_normalisation;
