// An owning holder for property-list object references, so that "release
// everything on every path" is the destructor's job.
//
// Adopt takes over a reference the caller already owns (the result of a
// Create or Copy call); Retain takes a new reference on a borrowed one.
// Release hands the reference out and leaves the holder empty.
#ifndef TOLVAN_PLATFORM_CF_CF_REF_HPP
#define TOLVAN_PLATFORM_CF_CF_REF_HPP

#include <utility>

#include "platform/cf/cf_base.h"

namespace tolvan {

template <typename Ref>
class CFRef {
 public:
  CFRef() noexcept = default;
  ~CFRef() { reset(); }

  [[nodiscard]] static CFRef Adopt(Ref ref) noexcept { return CFRef(ref); }
  [[nodiscard]] static CFRef Retain(Ref ref) noexcept {
    if (ref != nullptr) CFRetain(ref);
    return CFRef(ref);
  }

  CFRef(const CFRef &other) noexcept : ref_(other.ref_) {
    if (ref_ != nullptr) CFRetain(ref_);
  }
  CFRef(CFRef &&other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CFRef &operator=(CFRef other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }

  Ref get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

  // Hands the reference to the caller, who now owns it.
  [[nodiscard]] Ref release() noexcept { return std::exchange(ref_, nullptr); }

  void reset(Ref ref = nullptr) noexcept {
    Ref old = std::exchange(ref_, ref);
    if (old != nullptr) CFRelease(old);
  }

  // For out-parameters of Create and Copy calls: empties the holder and
  // lends the slot, which then owns whatever the call stores there.
  Ref *out() noexcept {
    reset();
    return &ref_;
  }

 private:
  explicit CFRef(Ref ref) noexcept : ref_(ref) {}
  Ref ref_ = nullptr;
};

}  // namespace tolvan

#endif
