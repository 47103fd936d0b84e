/* A C program built against the installed nvch through pkg-config: opens a
 * chart with the chart reader and reads a row. */
#include <bsb.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    ChartFile chart = {0};
    if (BSB_open(argv[1], 0, 0, 0, 0, &chart) != 0) return 1;
    unsigned char *row = malloc((size_t)chart.width);
    const int status = row != NULL ? BSB_getrow(chart.height / 2, row, &chart) : -1;
    if (status == 0) printf("C consumer: %d x %d, middle pixel %d\n", chart.width, chart.height, row[chart.width / 2]);
    free(row);
    BSB_close(&chart);
    return status == 0 ? 0 : 1;
}
