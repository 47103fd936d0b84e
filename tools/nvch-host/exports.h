// The plug-in's exports, found by name in the library file at run time,
// exactly as a host application finds them.
#pragma once

#include <string>

#include "nvch.h"

struct NvchExports {
    // Host interface
    decltype(&nvchInstanceTitleListGet) InstanceTitleListGet;
    decltype(&nvchInstanceDescriptionGet) InstanceDescriptionGet;
    decltype(&nvchInstanceTemplateListGet) InstanceTemplateListGet;
    decltype(&nvchInstanceExtListGet) InstanceExtListGet;
    decltype(&nvchInstanceShortNameListGet) InstanceShortNameListGet;
    decltype(&nvchInstancePixelTypesGet) InstancePixelTypesGet;
    decltype(&nvchInstanceLayerTypesGet) InstanceLayerTypesGet;
    decltype(&nvchFileTitleIdentifyAndOpen) FileTitleIdentifyAndOpen;
    decltype(&nvchFileClose) FileClose;
    decltype(&nvchFileLayerNamesGet) FileLayerNamesGet;
    decltype(&nvchLayerOpen) LayerOpen;
    decltype(&nvchLayerRasterRead) LayerRasterRead;
    decltype(&nvchLayerClose) LayerClose;
    decltype(&nvchLayerMapInfoRead) LayerMapInfoRead;
    decltype(&nvchLayerColorRead) LayerColorRead;
    decltype(&nvchLayerColorModTimeGet) LayerColorModTimeGet;
    decltype(&nvchLayerMapProjectionRead) LayerMapProjectionRead;
    // Chart reader
    decltype(&BSB_exist) exist;
    decltype(&BSB_open) open;
    decltype(&BSB_close) close;
    decltype(&BSB_getrow) getrow;
    decltype(&BSB_set_skew_state) set_skew_state;
    decltype(&BSB_set_LTS) set_LTS;
    decltype(&BSB_useWGS84) useWGS84;
    decltype(&BSB_useSphere) useSphere;
    decltype(&BSB_get_record) get_record;
    decltype(&BSB_get_field) get_field;
    decltype(&BSB_get_palette) get_palette;
    decltype(&BSB_pixel_to_latlon) pixel_to_latlon;
    decltype(&BSB_latlon_to_pixel) latlon_to_pixel;
    decltype(&BSB_get_row_extent) get_row_extent;
    // Optional: null in a library that lacks it.
    decltype(&BSB_get_kernels) get_kernels;
};

// The loaded library file, unloaded again when the object goes.
class LoadedLibrary {
public:
    LoadedLibrary() = default;
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;
    void *handle = nullptr;
};

// Loads the library and finds every export. False with `error` set (one
// line, naming the library or the missing export) when that fails.
bool load_exports(const std::string &library, LoadedLibrary *loaded, NvchExports *exports, std::string *error);

// The library file built beside this program.
std::string default_library_path(const char *argv0);

// Releases memory the library handed over, as a host must.
void host_free(void *p);
