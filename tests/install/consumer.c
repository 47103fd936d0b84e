/* A C program built against the installed nvch through pkg-config: opens a
 * chart with the chart reader, reads a row, and asks what the chart knows:
 * a header field, its palettes, and where its middle pixel lies. */
#include <bsb.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    ChartFile chart = {0};
    if (BSB_open(argv[1], 0, 0, 0, 0, &chart) != 0) return 1;
    unsigned char *row = malloc((size_t)chart.width);
    int status = row != NULL ? BSB_getrow(chart.height / 2, row, &chart) : -1;
    if (status == 0) printf("C consumer: %d x %d, middle pixel %d\n", chart.width, chart.height, row[chart.width / 2]);
    char name[128];
    uint8_t red[256], green[256], blue[256];
    const double x = chart.width / 2.0, y = chart.height / 2.0;
    double lat = 0, lon = 0, back_x = 0, back_y = 0;
    if (status == 0 && BSB_get_field(&chart, "BSB", "NA", name, sizeof name) >= 0 &&
        BSB_get_palette(&chart, "RGB", red, green, blue, 256) == chart.color_count &&
        BSB_pixel_to_latlon(&chart, 1, &x, &y, &lat, &lon) == 0 &&
        BSB_latlon_to_pixel(&chart, 1, &lat, &lon, &back_x, &back_y) == 0)
        printf("C consumer: %s, middle at %.6f %.6f, back at %.3f %.3f\n", name, lat, lon, back_x, back_y);
    else
        status = -1;
    free(row);
    BSB_close(&chart);
    return status == 0 ? 0 : 1;
}
