#include "common/process_state.h"

std::atomic<int32_t> skew_switch{1};
std::atomic<double> mercator_lts{0.0};
std::atomic<int32_t> datum_switch{0};
std::atomic<int> lon_normalisation{1};
