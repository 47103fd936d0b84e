// The charts in a folder and below, as a user keeps them: sub-folders and
// links to charts and to folders (followed, a loop named and left), files
// and folders that cannot be read (named, the listing goes on), and what
// is no chart file at all.
#pragma once

#include <string>
#include <vector>

struct Listed {
    enum class Kind {
        chart,     // a regular file named .kap or .KAP: a chart, or not, its probe will say
        skipped,   // named like a chart, but nothing to convert (a FIFO, a link to nothing, a loop)
        failed,    // what should have been read and could not be (a folder, a path too long)
    };
    Kind kind = Kind::chart;
    std::string path;       // as listed, through the folder and its links
    std::string relative;   // the same, relative to the folder, as listed (never resolved)
    std::string reason;     // for skipped and failed: what happened, for its one line
};

// Everything under `folder` that concerns a convert or a catalog, in a
// stable order.
std::vector<Listed> list_charts(const std::string &folder);

// Whether a name ends in .kap, in any case.
bool is_chart_name(const std::string &name);
