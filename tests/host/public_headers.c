/* The public headers are C: a host written in C includes them as they are. */
#include "bsb.h"
#include "nvch.h"

int32_t nvch_public_headers_compile_as_c(void) {
    ChartFile chart = {0};
    int32_t count = 0;
    char **titles = 0;
    (void)chart;
    return nvchInstanceTitleListGet(&count, &titles) == 0 ? count : -1;
}
