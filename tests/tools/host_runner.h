// The command-line host run as a separate process, its outputs captured.
#pragma once

#include <string>

struct Outcome {
    int status = -1;   // the exit status, or -1 when a signal ended it
    std::string out, err;
};

std::string slurp(const std::string &path);
std::string quoted(const std::string &s);

// Runs `program arguments` through the shell, its outputs captured.
Outcome run(const std::string &program, const std::string &arguments);

// Runs the built nvch-host; `prefix` comes before it on the command line
// (a program that runs it with fewer rights, for example).
Outcome host(const std::string &arguments, const std::string &prefix = "");

// A file of the bundled samples.
std::string sample(const std::string &name);
