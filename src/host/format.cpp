// The format's identity, and opening and closing a file.
#include <cstdio>
#include <cstring>

#include "nvch.h"
#include "host/handles.h"
#include "host/text_copy.h"
#include "platform/heap.h"

namespace {

// The probe builds each name it tries (the path plus an extension) in a
// buffer of this size at least.
constexpr std::size_t kNameBuffer = 255;

int32_t list_with_count(int32_t *count, char ***list, const char *item) {
    if (count == nullptr || list == nullptr) return -1;
    *count = 1;
    *list = host_single_list(item);
    return *list != nullptr ? 0 : -1;
}

int32_t list_only(char ***list, const char *item) {
    if (list == nullptr) return -1;
    *list = host_single_list(item);
    return *list != nullptr ? 0 : -1;
}

// BSB_exist with a name buffer that holds any path plus an extension.
int32_t probe(const char *file_name) {
    std::size_t size = std::strlen(file_name) + 5;
    if (size < kNameBuffer) size = kNameBuffer;
    auto *found_name = static_cast<char *>(lib_calloc(size, 1));
    if (found_name == nullptr) return -1;
    const int32_t found = BSB_exist(file_name, found_name);
    lib_free(found_name);
    return found;
}

}  // namespace

extern "C" {

int32_t nvchInstanceTitleListGet(int32_t *count, char ***titles) {
    return list_with_count(count, titles, "BSB Format");
}

int32_t nvchInstanceDescriptionGet(char **description) {
    if (description == nullptr) return -1;
    *description = host_strdup("BSB Format DLL, version 1.0");
    return *description != nullptr ? 0 : -1;
}

int32_t nvchInstanceTemplateListGet(char ***templates, int32_t *value) {
    if (templates == nullptr || value == nullptr) return -1;
    char **list = host_single_list("*.kap");
    if (list == nullptr) return -1;
    *templates = list;
    *value = 0;
    return 0;
}

int32_t nvchInstanceExtListGet(char ***extensions) { return list_only(extensions, ".kap"); }

int32_t nvchInstanceShortNameListGet(char ***short_names) { return list_only(short_names, "kap"); }

int32_t nvchInstancePixelTypesGet(int32_t *count, char ***types) { return list_with_count(count, types, "u8"); }

int32_t nvchInstanceLayerTypesGet(int32_t *count, char ***types) {
    return list_with_count(count, types, "thematic");
}

ChartFile *nvchFileTitleIdentifyAndOpen(const char *file_name, int32_t *title_index, int32_t open_request) {
    if (file_name == nullptr || title_index == nullptr) return nullptr;
    if (open_request == 0) {
        *title_index = 0;
        return nullptr;
    }
    const int32_t found = probe(file_name);
    if (found < 0) return nullptr;   // no memory for the name buffer
    if (found == 0) {
        *title_index = -1;
        return nullptr;
    }
    *title_index = 0;
    ChartFile *chart = handle_new_file();
    BSB_useWGS84();
    if (chart == nullptr) return nullptr;
    if (BSB_open(file_name, 0, 0, 0, 0, chart) < 0) {
        handle_close_file(chart);
        return nullptr;
    }
    return chart;
}

int32_t nvchFileClose(ChartFile *file) {
    if (file == nullptr) return 0;
    if (!handle_is_file(file)) return -1;   // closed already, or never the host's
    BSB_close(file);
    handle_close_file(file);
    return 0;
}

int32_t nvchFileLayerNamesGet(ChartFile *, int32_t *count, char ***names) {
    if (count == nullptr || names == nullptr) return -1;
    constexpr int32_t kLayers = 1;
    *count = kLayers;
    auto **list = static_cast<char **>(host_alloc(sizeof(char *) * kLayers));
    *names = list;
    if (list == nullptr) return -1;
    char name[kNameBuffer];
    for (int32_t n = 1; n <= kLayers; ++n) {
        std::snprintf(name, sizeof name, "Band_%d", static_cast<int>(n));
        list[n - 1] = host_strdup(name);
    }
    return 0;
}

}  // extern "C"
