// A whole chart from arbitrary bytes, through the host interface: probe,
// open, every block, every query, close. The first byte chooses whether
// skew correction is on; the rest is the file.
#include <cstdint>

#include "fuzz_support.h"
#include "host/nvch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    silence_output();
    if (size == 0) return 0;
    const int32_t skew = data[0] & 1;
    BSB_set_skew_state(&skew);
    const std::string path = fuzz_input_file(data + 1, size - 1);
    char found[4096];
    BSB_exist(path.c_str(), found);
    drive_host_interface(path);
    return 0;
}
