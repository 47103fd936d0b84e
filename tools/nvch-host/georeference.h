// Where a chart lies, for other programs: GeoTIFF keys from the library's
// coordinate-system text and map information, and the world file and .prj
// of the ESRI convention.
#pragma once

#include <optional>
#include <string>

#include "chart_session.h"
#include "cog_writer.h"

// The GeoTIFF keys of a coordinate system the library reports (Mercator,
// Transverse Mercator, UTM, Polyconic, Lambert Conformal Conic, on WGS 84),
// with the pixel scale and tie point of `map`. Without a coordinate system,
// or for one these keys cannot say, the keys are left empty and `known` is
// false: the pixel scale and tie point alone still place the image.
GeoKeys geotiff_keys(const MapInfo &map, const std::optional<std::string> &wkt, bool *known);

// The six lines of a world file: pixel width, two rotations, pixel height
// (negative for north up), and the centre of the upper-left pixel.
std::string world_file_text(const MapInfo &map);

// Writes `png`'s world file (.pgw) and, when there is a coordinate system,
// its .prj beside it: true, or false with the reason in `error`.
bool write_world_files(const std::string &png, const MapInfo &map, const std::optional<std::string> &wkt,
                       std::string *error);
