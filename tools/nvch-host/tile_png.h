// A tile's pixels as PNG bytes, in memory: paletted when the tile has 256
// colours or fewer (most tiles of charts drawn pixel for pixel), RGB or
// RGBA otherwise, with transparency only where some pixel shows nothing.
#pragma once

#include <cstdint>
#include <vector>

// `rgba`: `width` x `height` pixels of red, green, blue and alpha (0 or
// 255). Empty when libpng fails.
std::vector<uint8_t> encode_tile_png(const uint8_t *rgba, int width, int height);
