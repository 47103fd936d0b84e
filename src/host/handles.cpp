#include "host/handles.h"

#include <cstdint>

#include "host/layer_handle.h"
#include "platform/heap.h"
#include "platform/lock.h"

namespace {

// An open-addressed set of addresses; a slot that held one keeps a mark,
// so that lookups pass over it.
struct AddressSet {
    const void **slots = nullptr;
    int32_t room = 0;    // a power of two
    int32_t used = 0;    // addresses and marks
};

const void *const kGone = reinterpret_cast<const void *>(&kGone);

uint32_t hash_of(const void *p) {
    auto v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
    v ^= v >> 33;
    v *= UINT64_C(0xff51afd7ed558ccd);
    return static_cast<uint32_t>(v ^ (v >> 33));
}

int32_t find_slot(const AddressSet &s, const void *p) {
    for (uint32_t i = hash_of(p) & static_cast<uint32_t>(s.room - 1);; i = (i + 1) & static_cast<uint32_t>(s.room - 1))
        if (s.slots[i] == p || s.slots[i] == nullptr) return static_cast<int32_t>(i);
}

bool contains(const AddressSet &s, const void *p) { return s.room > 0 && s.slots[find_slot(s, p)] == p; }

bool insert(AddressSet &s, const void *p);

// Room for twice the addresses held, the marks cleared.
bool rebuild(AddressSet &s) {
    int32_t live = 0;
    for (int32_t i = 0; i < s.room; ++i) live += s.slots[i] != nullptr && s.slots[i] != kGone ? 1 : 0;
    AddressSet bigger;
    bigger.room = 64;
    while (bigger.room < 2 * (live + 1)) bigger.room *= 2;
    bigger.slots = static_cast<const void **>(lib_calloc(static_cast<std::size_t>(bigger.room), sizeof(void *)));
    if (bigger.slots == nullptr) return false;
    for (int32_t i = 0; i < s.room; ++i)
        if (s.slots[i] != nullptr && s.slots[i] != kGone) insert(bigger, s.slots[i]);
    lib_free(s.slots);
    s = bigger;
    return true;
}

bool insert(AddressSet &s, const void *p) {
    if (4 * (s.used + 1) > 3 * s.room && !rebuild(s)) return false;
    const int32_t i = find_slot(s, p);
    if (s.slots[i] == nullptr) ++s.used;
    s.slots[i] = p;
    return true;
}

bool erase(AddressSet &s, const void *p) {
    if (!contains(s, p)) return false;
    s.slots[find_slot(s, p)] = kGone;
    return true;
}

// Closed records, released a thousand closes later.
constexpr int32_t kHeldBack = 1024;

struct Handles {
    Mutex lock;
    AddressSet files, layers;
    void *held_back[kHeldBack] = {};
    int32_t next = 0;

    // The library is being unloaded: what the table holds goes with it.
    ~Handles() {
        lib_free(files.slots);
        lib_free(layers.slots);
        for (void *record : held_back) lib_free(record);
    }
};

Handles &handles() {
    static Handles h;
    return h;
}

void hold_back(Handles &h, void *record) {
    lib_free(h.held_back[h.next]);
    h.held_back[h.next] = record;
    h.next = (h.next + 1) % kHeldBack;
}

void *new_record(AddressSet Handles::*set, std::size_t size) {
    void *record = lib_calloc(1, size);
    if (record == nullptr) return nullptr;
    Handles &h = handles();
    h.lock.lock();
    const bool known = insert(h.*set, record);
    h.lock.unlock();
    if (!known) {
        lib_free(record);
        return nullptr;
    }
    return record;
}

bool known(AddressSet Handles::*set, const void *record) {
    if (record == nullptr) return false;
    Handles &h = handles();
    h.lock.lock();
    const bool is = contains(h.*set, record);
    h.lock.unlock();
    return is;
}

bool take_back(AddressSet Handles::*set, void *record) {
    if (record == nullptr) return false;
    Handles &h = handles();
    h.lock.lock();
    const bool was = erase(h.*set, record);
    if (was) hold_back(h, record);
    h.lock.unlock();
    return was;
}

}  // namespace

ChartFile *handle_new_file() { return static_cast<ChartFile *>(new_record(&Handles::files, sizeof(ChartFile))); }
LayerHandle *handle_new_layer() {
    return static_cast<LayerHandle *>(new_record(&Handles::layers, sizeof(LayerHandle)));
}

bool handle_is_file(const ChartFile *file) { return known(&Handles::files, file); }
bool handle_is_layer(const LayerHandle *layer) { return known(&Handles::layers, layer); }

bool handle_close_file(ChartFile *file) { return take_back(&Handles::files, file); }
bool handle_close_layer(LayerHandle *layer) { return take_back(&Handles::layers, layer); }

bool handle_is_open_layer(const LayerHandle *layer) { return handle_is_layer(layer) && handle_is_file(layer->chart); }

int32_t handle_blocks() {
    Handles &h = handles();
    h.lock.lock();
    int32_t blocks = (h.files.slots != nullptr ? 1 : 0) + (h.layers.slots != nullptr ? 1 : 0);
    for (const void *record : h.held_back) blocks += record != nullptr ? 1 : 0;
    h.lock.unlock();
    return blocks;
}
