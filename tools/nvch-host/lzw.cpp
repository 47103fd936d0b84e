#include "lzw.h"

#include <algorithm>

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kTableFull = 4094;   // a clear code is written when the next free code reaches it
constexpr uint32_t kHashSize = 8191;    // prime, twice the table

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t> &out) : out_(out) {}
    void put(uint32_t code, int bits) {
        buffer_ = buffer_ << bits | code;
        held_ += bits;
        while (held_ >= 8) {
            held_ -= 8;
            out_.push_back(static_cast<uint8_t>(buffer_ >> held_));
        }
    }
    void flush() {
        if (held_ > 0) out_.push_back(static_cast<uint8_t>(buffer_ << (8 - held_)));
        held_ = 0;
    }

private:
    std::vector<uint8_t> &out_;
    uint64_t buffer_ = 0;
    int held_ = 0;
};

// The string table: (prefix code, next byte) -> code, open-addressed.
struct Table {
    uint32_t keys[kHashSize];
    uint16_t codes[kHashSize];
    void clear() { std::fill(std::begin(keys), std::end(keys), UINT32_MAX); }
    uint32_t slot(uint32_t key) const {
        uint32_t i = key % kHashSize;
        while (keys[i] != UINT32_MAX && keys[i] != key) i = i + 1 == kHashSize ? 0 : i + 1;
        return i;
    }
};

// The width of the next code, from the next free code: one more bit once
// that reaches the width's own limit (512, 1024, 2048).
int width_for(uint32_t next_free) {
    return next_free >= 2048 ? 12 : next_free >= 1024 ? 11 : next_free >= 512 ? 10 : 9;
}

}  // namespace

void lzw_compress(const uint8_t *bytes, size_t count, std::vector<uint8_t> &out) {
    out.clear();
    BitWriter bits(out);
    static thread_local Table table;
    table.clear();
    uint32_t next_free = kFirstFree;
    bits.put(kClear, 9);
    if (count == 0) {
        bits.put(kEnd, 9);
        bits.flush();
        return;
    }
    uint32_t string = bytes[0];
    for (size_t i = 1; i < count; ++i) {
        const uint32_t key = string << 8 | bytes[i];
        const uint32_t slot = table.slot(key);
        if (table.keys[slot] == key) {
            string = table.codes[slot];
            continue;
        }
        bits.put(string, width_for(next_free));
        table.keys[slot] = key;
        table.codes[slot] = static_cast<uint16_t>(next_free++);
        if (next_free == kTableFull) {
            bits.put(kClear, width_for(next_free));
            table.clear();
            next_free = kFirstFree;
        }
        string = bytes[i];
    }
    // The last string; a reader adds a table entry after it as after any
    // code, so the end code's width follows one more entry.
    bits.put(string, width_for(next_free));
    ++next_free;
    if (next_free == kTableFull) {
        bits.put(kClear, width_for(next_free));
        next_free = kFirstFree;
    }
    bits.put(kEnd, width_for(next_free));
    bits.flush();
}
