// A growable array of plain values whose storage comes from a property-list
// allocator, so that the reader and writer fail cleanly (and visibly to a
// failing test allocator) when memory runs out, instead of throwing.
#ifndef TOLVAN_PLATFORM_CF_ALLOCATOR_VECTOR_HPP
#define TOLVAN_PLATFORM_CF_ALLOCATOR_VECTOR_HPP

#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "platform/cf/cf_base.h"

namespace tolvan {

template <typename T>
class AllocatorVector {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit AllocatorVector(CFAllocatorRef allocator) noexcept : allocator_(allocator) {}
  ~AllocatorVector() {
    if (data_ != nullptr) CFAllocatorDeallocate(allocator_, data_);
  }
  AllocatorVector(const AllocatorVector &) = delete;
  AllocatorVector &operator=(const AllocatorVector &) = delete;

  T *data() noexcept { return data_; }
  const T *data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T &operator[](size_t index) noexcept { return data_[index]; }
  T &back() noexcept { return data_[size_ - 1]; }

  [[nodiscard]] bool Reserve(size_t capacity) noexcept {
    return capacity <= capacity_ || Reallocate(capacity);
  }

  [[nodiscard]] bool PushBack(const T &value) noexcept {
    if (size_ == capacity_ && !Grow(1)) return false;
    data_[size_++] = value;
    return true;
  }

  // Room for count more elements at the end, left uninitialised; null when
  // memory runs out.
  [[nodiscard]] T *Extend(size_t count) noexcept {
    if (capacity_ - size_ < count && !Grow(count)) return nullptr;
    T *start = data_ + size_;
    size_ += count;
    return start;
  }

  // Copies count elements to the end; false (and nothing added) when
  // memory runs out.
  [[nodiscard]] bool Append(const T *values, size_t count) noexcept {
    if (count == 0) return true;
    T *room = Extend(count);
    if (room == nullptr) return false;
    std::memcpy(room, values, count * sizeof(T));
    return true;
  }

  void Truncate(size_t size) noexcept {
    if (size < size_) size_ = size;
  }

  // Hands the storage to the caller, who frees it with the same allocator.
  [[nodiscard]] T *Release() noexcept {
    size_ = 0;
    capacity_ = 0;
    return std::exchange(data_, nullptr);
  }

 private:
  static constexpr size_t kMaxCount =
      static_cast<size_t>(std::numeric_limits<CFIndex>::max()) / sizeof(T);

  bool Grow(size_t extra) noexcept {
    if (extra > kMaxCount - size_) return false;
    size_t wanted = capacity_ < 8 ? 8 : capacity_ + capacity_ / 2;
    if (wanted > kMaxCount) wanted = kMaxCount;
    if (wanted < size_ + extra) wanted = size_ + extra;
    return Reallocate(wanted);
  }

  bool Reallocate(size_t capacity) noexcept {
    if (capacity > kMaxCount) return false;
    const auto bytes = static_cast<CFIndex>(capacity * sizeof(T));
    void *fresh = data_ == nullptr ? CFAllocatorAllocate(allocator_, bytes, 0)
                                   : CFAllocatorReallocate(allocator_, data_, bytes, 0);
    if (fresh == nullptr) return false;
    data_ = static_cast<T *>(fresh);
    capacity_ = capacity;
    return true;
  }

  CFAllocatorRef allocator_;
  T *data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace tolvan

#endif
