#include "common/process_state.h"

int32_t skew_switch = 1;
double mercator_lts = 0.0;
int32_t datum_switch = 0;
int lon_normalisation = 1;
