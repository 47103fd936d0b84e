// Opens a chart through the plug-in interface, as a host does, and reads a
// row of its only layer.
#include <nvch.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    int32_t title = -1;
    ChartFile *file = nvchFileTitleIdentifyAndOpen(argv[1], &title, 1);
    if (file == nullptr) return 1;
    LayerHandle *layer = nullptr;
    int32_t zero1, width = 0, height = 0, zero2, block_width, block_height;
    int status = nvchLayerOpen(file, "Band_1", &zero1, &width, &height, &zero2, &block_width, &block_height, &layer);
    std::vector<uint8_t> row(static_cast<size_t>(width));
    void *block = row.data();
    if (status == 0) status = nvchLayerRasterRead(layer, static_cast<uint32_t>(height / 2), 0, &block);
    if (status == 0)
        std::printf("C++ consumer: %d x %d, middle pixel %d\n", width, height, row[static_cast<size_t>(width / 2)]);
    nvchLayerClose(layer);
    nvchFileClose(file);
    return status == 0 ? 0 : 1;
}
