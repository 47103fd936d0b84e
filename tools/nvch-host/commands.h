// The commands of the command-line host.
#pragma once

#include <memory>
#include <string>

#include "chart_session.h"
#include "cog_writer.h"
#include "exports.h"

struct Options {
    std::string chart;
    std::string output;
    bool json = false;
    bool skew = true;
    bool set_lts = false;
    float lts = 0;
    bool world = false;                        // a world file and .prj beside a PNG
    std::string format = "tif";                // convert: "tif" or "png"
    Compression compression = Compression::deflate;
    bool force = false;                        // convert: replace what is there
    int threads = 0;                           // convert: 0 for one a core
    bool clip = false;                         // render, convert: hide what lies outside the outline
    std::string palette;                       // render, convert, tiles: a palette by name (the chart's own: empty)
    int zoom_min = -1, zoom_max = -1;          // tiles: the levels to make (-1: from the charts)
    bool has_bbox = false;                     // tiles: only where the box is
    double bbox[4] = {0, 0, 0, 0};             // west, south, east, north in degrees
};

// Opens the chart through the exports, with the skew switch and latitude
// of true scale the options ask for. Null after an error message; `title`
// is 0 for a chart, -1 for a file that is not one.
std::unique_ptr<ChartSession> open_chart(const NvchExports &nvch, const Options &options, int32_t *title);

// The threads a command works on: --threads, or one a core.
int worker_threads(const Options &options);

// Whether a file can be opened for reading; `why` says why not. A chart
// the library cannot open for reading would otherwise pass for no chart.
bool file_readable(const std::string &path, std::string *why);

// One line on standard error: "nvch-host: MESSAGE".
void error(const std::string &message);

// Each returns the process's exit status and prints its errors, one line
// each, on standard error.
int command_formats(const NvchExports &nvch);
int command_info(const NvchExports &nvch, const Options &options);
int command_render(const NvchExports &nvch, const Options &options);
int command_dump(const NvchExports &nvch, const Options &options);
int command_convert(const NvchExports &nvch, const Options &options);
int command_catalog(const NvchExports &nvch, const Options &options);
int command_tiles(const NvchExports &nvch, const Options &options);
