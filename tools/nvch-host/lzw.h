// TIFF's LZW compression of one tile: codes of 9 to 12 bits, most
// significant bit first, a clear code first and whenever the table is
// full, an end code last, and the code width growing one code early, as
// TIFF readers (libtiff, and GDAL through it) expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

void lzw_compress(const uint8_t *bytes, size_t count, std::vector<uint8_t> &out);
