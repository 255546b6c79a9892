// Reads a fuzz input as a stream of small fields. Past the end every read
// yields zeros and `empty()` turns true, so a target never reads outside the
// input whatever its length.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzing {

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }
    size_t left() const { return empty() ? 0 : size_ - position_; }

    uint8_t Byte() { return empty() ? 0 : data_[position_++]; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }

    // Up to `n` bytes, fewer at the end of the input.
    std::vector<uint8_t> Bytes(size_t n) {
        n = std::min(n, left());
        std::vector<uint8_t> out(data_ + position_, data_ + position_ + n);
        position_ += n;
        return out;
    }
    std::vector<uint8_t> Rest() { return Bytes(left()); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace fuzzing
