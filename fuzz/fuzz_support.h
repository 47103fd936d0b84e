// Shared pieces of the fuzz targets: writing the input where the reader's
// path-based entry points can open it, and driving every export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the bytes to a file private to this process and returns its path.
std::string fuzz_input_file(const uint8_t *data, size_t size);

// Opens `path` as a host does and calls every export of the host interface
// on it: layer names, layer, every block (within a size bound), map
// information, colour table and coordinate system; then closes it.
void drive_host_interface(const std::string &path);

// Output to standard output and standard error is thrown away: the reader
// prints a line for most damaged charts.
void silence_output();
