/* nvch: the raster-format plug-in interface for BSB charts (KAP files).
 *
 * A host finds these functions by name. Every text, list and block they
 * hand out comes from the process heap (HeapAlloc on Windows, malloc
 * elsewhere) and belongs to the host, which releases it (HeapFree / free).
 * A list is an array of text addresses; the host releases each text and
 * then the array.
 *
 * Call order for one file: nvchFileTitleIdentifyAndOpen, nvchFileLayerNamesGet,
 * nvchLayerOpen("Band_1"), any number of nvchLayerRasterRead (one block is
 * one full row) and map, colour and coordinate-system queries,
 * nvchLayerClose, nvchFileClose.
 */
#ifndef NVCH_NVCH_H
#define NVCH_NVCH_H

#include <stdint.h>

#include "bsb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LayerHandle LayerHandle;

/* Format identity */
NVCH_API int32_t nvchInstanceTitleListGet(int32_t *count, char ***titles);
NVCH_API int32_t nvchInstanceDescriptionGet(char **description);
NVCH_API int32_t nvchInstanceTemplateListGet(char ***templates, int32_t *value);
NVCH_API int32_t nvchInstanceExtListGet(char ***extensions);
NVCH_API int32_t nvchInstanceShortNameListGet(char ***short_names);
NVCH_API int32_t nvchInstancePixelTypesGet(int32_t *count, char ***types);
NVCH_API int32_t nvchInstanceLayerTypesGet(int32_t *count, char ***types);

/* Files */
NVCH_API ChartFile *nvchFileTitleIdentifyAndOpen(const char *file_name,
                                                 int32_t *title_index,
                                                 int32_t open_request);
NVCH_API int32_t nvchFileClose(ChartFile *file);
NVCH_API int32_t nvchFileLayerNamesGet(ChartFile *file, int32_t *count,
                                       char ***names);

/* Layers and raster blocks */
NVCH_API int32_t nvchLayerOpen(ChartFile *file, const char *layer_name,
                               int32_t *zero1, int32_t *width, int32_t *height,
                               int32_t *zero2, int32_t *block_width,
                               int32_t *block_height, LayerHandle **layer);
NVCH_API int32_t nvchLayerRasterRead(LayerHandle *layer, uint32_t block_row,
                                     uint32_t block_column, void **data);
NVCH_API int32_t nvchLayerClose(LayerHandle *layer);

/* Map information and colour table */
NVCH_API int32_t nvchLayerMapInfoRead(LayerHandle *layer, char **name,
                                      double *upper_left_x,
                                      double *upper_left_y,
                                      double *pixel_width,
                                      double *pixel_height, char **units);
NVCH_API int32_t nvchLayerColorRead(LayerHandle *layer, const char *component,
                                    int32_t first, int32_t end,
                                    double *values);
NVCH_API int32_t nvchLayerColorModTimeGet(LayerHandle *layer, void *unused,
                                          int32_t *mod_time);

/* Coordinate system: `block` receives a PE_COORDSYS record, a 32-bit text
 * length and the text's address, followed by the text itself. */
NVCH_API int32_t nvchLayerMapProjectionRead(LayerHandle *layer,
                                            char **short_name, void **block,
                                            int32_t *block_size,
                                            char **descriptor,
                                            char **type_name, int32_t *zero1,
                                            int32_t *zero2, int32_t *zero3,
                                            int32_t *zero4);

#ifdef __cplusplus
}
#endif

#endif
