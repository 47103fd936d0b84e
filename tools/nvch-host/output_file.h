// Output files written under a temporary name beside their final one and
// renamed only once whole, so that no reader ever finds half a file under
// the final name.
//
// Temporary names are short (".nvch-PID-N.part", whatever the final name's
// length) and known to the process: an interrupted run removes its own on
// its way out, and a later run removes those a run that died left behind.
#pragma once

#include <string>

class OutputFile {
public:
    explicit OutputFile(const std::string &final_path);
    // Removes the temporary file unless it was put in place.
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    const std::string &temporary() const { return temporary_; }
    const std::string &final_path() const { return final_; }

    // Renames the temporary file over the final name: true, or false with
    // the reason in `problem`.
    bool put_in_place(std::string *problem);

    // A message about the temporary file, told of the final name: the user
    // knows no other.
    std::string told(std::string problem) const;

private:
    std::string final_;
    std::string temporary_;
    int slot_ = -1;
    bool placed_ = false;
};

// Removes from `folder` the temporary files of runs that are no longer
// running (a run that was killed leaves them), naming each on standard
// error. Each folder is looked at once a run.
void remove_stale_temporaries(const std::string &folder);

// On an interrupt or a termination, the temporary files being written are
// removed before the process ends as the signal would end it.
void remove_temporaries_on_signals();
