// SHA-256 of a byte sequence, as lower-case hex; for comparing decoded
// images with reference hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void update(const uint8_t *data, size_t length);
    std::string hex();

private:
    void block(const uint8_t *p);
    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t total_ = 0;
};
