// The coordinate system as well-known text, and the PE_COORDSYS block that
// carries it to the host.
#pragma once

#include <cstdint>

#include "bsb.h"
#include "common/text.h"

// The host's counted-string record; the text follows it in the block.
struct CoordSysRecord {
    uint32_t length;
    const char *text;
};

// The WKT of an opened chart, or null: a chart with an "ARC" record, a
// projection without a template, or a "KNP" record without "PP".
FieldText coordsys_wkt_build(const ChartFile *chart);

// The latitude of true scale reported for Mercator charts.
double mercator_lts_get();
