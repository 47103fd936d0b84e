#include "open_chart.h"

#include "platform/heap.h"

std::unique_ptr<OpenedChart> open_chart(const std::string &path) {
    auto opened = std::make_unique<OpenedChart>();
    OpenedChart *o = opened.get();
    o->output = capture_output([o, &path] { o->result = BSB_open(path.c_str(), 0, 0, 0, 0, &o->chart); });
    return opened;
}

std::vector<uint8_t> OpenedChart::all_rows() {
    std::vector<uint8_t> pixels(static_cast<size_t>(chart.width) * chart.height);
    for (int32_t y = 0; y < chart.height; ++y) BSB_getrow(y, pixels.data() + static_cast<size_t>(y) * chart.width, &chart);
    return pixels;
}

void release_host_list(char **list, int32_t count) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < count; ++i) host_release(list[i]);
    host_release(list);
}
