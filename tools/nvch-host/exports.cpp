#include "exports.h"

#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
using Library = HMODULE;
Library open_library(const std::string &path) { return LoadLibraryA(path.c_str()); }
void close_library(void *l) { FreeLibrary(static_cast<HMODULE>(l)); }
void *find_symbol(Library l, const char *name) { return reinterpret_cast<void *>(GetProcAddress(l, name)); }
std::string load_error() { return "error " + std::to_string(GetLastError()); }
constexpr const char *kLibraryFile = "nvch.dll";
#else
using Library = void *;
Library open_library(const std::string &path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void close_library(void *l) { dlclose(l); }
void *find_symbol(Library l, const char *name) { return dlsym(l, name); }
std::string load_error() {
    const char *e = dlerror();
    return e ? e : "unknown error";
}
constexpr const char *kLibraryFile = "libnvch.so";
#endif

template <typename F>
bool bind(Library l, const char *name, F *slot, std::string *missing) {
    void *symbol = find_symbol(l, name);
    if (symbol == nullptr) {
        if (missing->empty()) *missing = name;
        return false;
    }
    *slot = reinterpret_cast<F>(symbol);
    return true;
}

}  // namespace

LoadedLibrary::~LoadedLibrary() {
    if (handle) close_library(handle);
}

bool load_exports(const std::string &library, LoadedLibrary *loaded, NvchExports *e, std::string *error) {
    Library l = open_library(library);
    if (!l) {
        *error = "cannot load the library " + library + ": " + load_error();
        return false;
    }
    loaded->handle = reinterpret_cast<void *>(l);
    std::string missing;
    bool ok = true;
    ok &= bind(l, "nvchInstanceTitleListGet", &e->InstanceTitleListGet, &missing);
    ok &= bind(l, "nvchInstanceDescriptionGet", &e->InstanceDescriptionGet, &missing);
    ok &= bind(l, "nvchInstanceTemplateListGet", &e->InstanceTemplateListGet, &missing);
    ok &= bind(l, "nvchInstanceExtListGet", &e->InstanceExtListGet, &missing);
    ok &= bind(l, "nvchInstanceShortNameListGet", &e->InstanceShortNameListGet, &missing);
    ok &= bind(l, "nvchInstancePixelTypesGet", &e->InstancePixelTypesGet, &missing);
    ok &= bind(l, "nvchInstanceLayerTypesGet", &e->InstanceLayerTypesGet, &missing);
    ok &= bind(l, "nvchFileTitleIdentifyAndOpen", &e->FileTitleIdentifyAndOpen, &missing);
    ok &= bind(l, "nvchFileClose", &e->FileClose, &missing);
    ok &= bind(l, "nvchFileLayerNamesGet", &e->FileLayerNamesGet, &missing);
    ok &= bind(l, "nvchLayerOpen", &e->LayerOpen, &missing);
    ok &= bind(l, "nvchLayerRasterRead", &e->LayerRasterRead, &missing);
    ok &= bind(l, "nvchLayerClose", &e->LayerClose, &missing);
    ok &= bind(l, "nvchLayerMapInfoRead", &e->LayerMapInfoRead, &missing);
    ok &= bind(l, "nvchLayerColorRead", &e->LayerColorRead, &missing);
    ok &= bind(l, "nvchLayerColorModTimeGet", &e->LayerColorModTimeGet, &missing);
    ok &= bind(l, "nvchLayerMapProjectionRead", &e->LayerMapProjectionRead, &missing);
    ok &= bind(l, "BSB_exist", &e->exist, &missing);
    ok &= bind(l, "BSB_open", &e->open, &missing);
    ok &= bind(l, "BSB_close", &e->close, &missing);
    ok &= bind(l, "BSB_getrow", &e->getrow, &missing);
    ok &= bind(l, "BSB_set_skew_state", &e->set_skew_state, &missing);
    ok &= bind(l, "BSB_set_LTS", &e->set_LTS, &missing);
    ok &= bind(l, "BSB_useWGS84", &e->useWGS84, &missing);
    ok &= bind(l, "BSB_useSphere", &e->useSphere, &missing);
    ok &= bind(l, "BSB_get_record", &e->get_record, &missing);
    ok &= bind(l, "BSB_get_field", &e->get_field, &missing);
    ok &= bind(l, "BSB_get_palette", &e->get_palette, &missing);
    ok &= bind(l, "BSB_pixel_to_latlon", &e->pixel_to_latlon, &missing);
    ok &= bind(l, "BSB_latlon_to_pixel", &e->latlon_to_pixel, &missing);
    ok &= bind(l, "BSB_get_row_extent", &e->get_row_extent, &missing);
    e->get_kernels = reinterpret_cast<decltype(&BSB_get_kernels)>(find_symbol(l, "BSB_get_kernels"));
    if (!ok) *error = "the library " + library + " has no export " + missing;
    return ok;
}

std::string default_library_path(const char *argv0) {
    std::filesystem::path self;
#if defined(_WIN32)
    char buffer[MAX_PATH];
    if (GetModuleFileNameA(nullptr, buffer, MAX_PATH) > 0) self = buffer;
#else
    std::error_code ignored;
    self = std::filesystem::read_symlink("/proc/self/exe", ignored);
#endif
    if (self.empty()) self = argv0;
    // Beside nvch-host in a build; installed, where the install put it;
    // else wherever the system's loader finds it.
    const std::filesystem::path beside = self.parent_path() / kLibraryFile;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside.string();
#if defined(NVCH_HOST_LIBDIR_FROM_BINDIR) && defined(NVCH_LIBRARY_SONAME)
    const std::filesystem::path installed = self.parent_path() / NVCH_HOST_LIBDIR_FROM_BINDIR / NVCH_LIBRARY_SONAME;
    if (std::filesystem::exists(installed, ec)) return installed.lexically_normal().string();
    return NVCH_LIBRARY_SONAME;
#else
    return beside.string();
#endif
}

void host_free(void *p) {
    if (p == nullptr) return;
#if defined(_WIN32)
    HeapFree(GetProcessHeap(), 0, p);
#else
    std::free(p);
#endif
}
