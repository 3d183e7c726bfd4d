// An owned byte buffer of fixed size that is zero-filled when created and
// wiped before it is released; it holds account and security data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillmarsh {

class ZeroedBuffer {
 public:
  explicit ZeroedBuffer(size_t size) : size_(size), bytes_(std::make_unique<uint8_t[]>(size)) {}
  ~ZeroedBuffer() { Wipe(); }
  ZeroedBuffer(const ZeroedBuffer&) = delete;
  ZeroedBuffer& operator=(const ZeroedBuffer&) = delete;

  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  void Wipe() {
    // Volatile writes so that the wipe is not optimised away.
    volatile uint8_t* bytes = bytes_.get();
    for (size_t i = 0; i < size_; ++i) bytes[i] = 0;
  }

  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
};

}  // namespace quillmarsh
