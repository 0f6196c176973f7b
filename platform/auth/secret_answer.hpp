// A password on its way from the person to PAM: a fixed buffer, never copied
// into growing storage, wiped when it goes out of scope. And the outcomes of
// asking for one, shared by the agent and the terminal prompt.
#ifndef TOLVAN_PLATFORM_AUTH_SECRET_ANSWER_HPP
#define TOLVAN_PLATFORM_AUTH_SECRET_ANSWER_HPP

#include <string.h>

#include <cstddef>

namespace tolvan::auth {

class SecretBuffer {
 public:
  // PAM's own bound on one reply.
  static constexpr size_t kCapacity = 512;

  SecretBuffer() noexcept = default;
  ~SecretBuffer() { Wipe(); }
  SecretBuffer(const SecretBuffer &) = delete;
  SecretBuffer &operator=(const SecretBuffer &) = delete;

  // Room for kCapacity characters and a terminating null byte.
  char *data() noexcept { return data_; }
  const char *c_str() const noexcept { return data_; }
  size_t length() const noexcept { return length_; }

  // Marks the first length bytes as the answer (length <= kCapacity).
  void SetLength(size_t length) noexcept {
    length_ = length;
    data_[length] = '\0';
  }

  void Wipe() noexcept {
    ::explicit_bzero(data_, sizeof data_);
    length_ = 0;
  }

 private:
  char data_[kCapacity + 1] = {};
  size_t length_ = 0;
};

enum class AskOutcome {
  kAnswered,
  // The person or the agent declined: end of input, a signal, a non-zero
  // exit, the time limit.
  kCancelled,
  // An answer longer than SecretBuffer::kCapacity; it counts as a wrong
  // password.
  kTooLong,
  // There is no one to ask (no agent, no controlling terminal).
  kUnavailable,
};

}  // namespace tolvan::auth

#endif
