// A move-only owner of one malloc'd block, for buffers whose size comes from
// outside (frames, paths) and must be allocated without throwing.
#ifndef TOLVAN_PLATFORM_BASE_HEAP_BUFFER_HPP
#define TOLVAN_PLATFORM_BASE_HEAP_BUFFER_HPP

#include <cstdlib>
#include <utility>

namespace tolvan {

class HeapBuffer {
 public:
  HeapBuffer() noexcept = default;
  ~HeapBuffer() { std::free(data_); }

  // Null data() on failure; a size of 0 still yields a valid 1-byte block.
  [[nodiscard]] static HeapBuffer Allocate(size_t size) noexcept {
    HeapBuffer buffer;
    buffer.data_ = static_cast<unsigned char *>(std::malloc(size == 0 ? 1 : size));
    buffer.size_ = buffer.data_ != nullptr ? size : 0;
    return buffer;
  }

  HeapBuffer(HeapBuffer &&other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  HeapBuffer &operator=(HeapBuffer &&other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  HeapBuffer(const HeapBuffer &) = delete;
  HeapBuffer &operator=(const HeapBuffer &) = delete;

  unsigned char *data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }
  explicit operator bool() const noexcept { return data_ != nullptr; }

  // Hands the block to the caller, who now frees it with free().
  [[nodiscard]] unsigned char *release() noexcept {
    size_ = 0;
    return std::exchange(data_, nullptr);
  }

 private:
  unsigned char *data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tolvan

#endif
