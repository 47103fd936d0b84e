// The commands of the command-line host.
#pragma once

#include <string>

#include "exports.h"

struct Options {
    std::string chart;
    std::string output;
    bool json = false;
    bool skew = true;
    bool set_lts = false;
    float lts = 0;
};

// Each returns the process's exit status and prints its errors, one line
// each, on standard error.
int command_formats(const NvchExports &nvch);
int command_info(const NvchExports &nvch, const Options &options);
int command_render(const NvchExports &nvch, const Options &options);
int command_dump(const NvchExports &nvch, const Options &options);
