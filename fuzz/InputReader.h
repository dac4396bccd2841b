// How the fuzz targets take an input apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

// Reads the input from its start: fixed-size pieces and small numbers, zeros once it ends.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  size_t remaining() const { return empty() ? 0 : size_ - pos_; }
  uint8_t Byte() { return empty() ? 0 : data_[pos_++]; }
  // Up to `n` bytes; fewer at the end of the input.
  const uint8_t* Take(size_t n, size_t& got) {
    got = n < remaining() ? n : remaining();
    const uint8_t* p = data_ + pos_;
    pos_ += got;
    return p;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzzsupport
