// The file's single layer, read in blocks of one full row.
#include "host/layer_handle.h"

#include <cstring>

#include "common/text.h"
#include "host/handles.h"
#include "nvch.h"
#include "platform/heap.h"

namespace {

// The number after the last '_' of a layer name, less one ("Band_1" is
// band 0); a name without '_' has no number and gives -1.
int32_t band_index_of(const char *name) {
    const char *underscore = name != nullptr ? std::strrchr(name, '_') : nullptr;
    return (underscore != nullptr ? text_to_int(underscore + 1) : 0) - 1;
}

}  // namespace

extern "C" {

int32_t nvchLayerOpen(ChartFile *file, const char *layer_name, int32_t *zero1, int32_t *width,
                      int32_t *height, int32_t *zero2, int32_t *block_width, int32_t *block_height,
                      LayerHandle **layer) {
    if (!handle_is_file(file) || layer == nullptr) return -1;
    LayerHandle *handle = handle_new_layer();
    if (handle == nullptr) return -1;
    handle->chart = file;
    handle->block_height = 1;
    handle->block_width = file->width;
    handle->band_index = band_index_of(layer_name);
    if (zero1) *zero1 = 0;
    if (zero2) *zero2 = 0;
    if (height) *height = file->height;
    if (block_height) *block_height = 1;
    if (block_width) *block_width = file->width;
    if (width) *width = file->width;
    *layer = handle;
    return 0;
}

int32_t nvchLayerRasterRead(LayerHandle *layer, uint32_t block_row, uint32_t block_column, void **data) {
    if (!handle_is_open_layer(layer) || data == nullptr || *data == nullptr) return -1;
    const auto rows_total = static_cast<uint32_t>(layer->chart->height);
    const auto columns_total = static_cast<uint32_t>(layer->chart->width);
    const auto bh = static_cast<uint32_t>(layer->block_height);
    const auto bw = static_cast<uint32_t>(layer->block_width);
    const uint32_t first_row = block_row * bh;
    if (first_row >= rows_total) return 0;
    const uint32_t rows = (block_row + 1) * bh < rows_total ? bh : rows_total - first_row;
    const uint32_t columns = (block_column + 1) * bw < columns_total ? bw : columns_total - block_column * bw;
    auto *out = static_cast<uint8_t *>(*data);
    for (uint32_t i = 0; i < rows; ++i) {
        if (BSB_getrow(static_cast<int32_t>(first_row + i), out + static_cast<std::size_t>(i) * columns,
                       layer->chart) < 0)
            return -1;
    }
    return 0;
}

int32_t nvchLayerClose(LayerHandle *layer) {
    if (layer == nullptr) return 0;
    return handle_close_layer(layer) ? 0 : -1;   // -1: closed already, or never the host's
}

}  // extern "C"
