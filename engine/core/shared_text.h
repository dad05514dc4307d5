// A fixed-size text written by one thread and copied by others without locks.
//
// The writer bumps a sequence number to odd, stores the characters, and bumps it to
// even again; a reader copies the characters and retries (a few times) when the
// sequence moved meanwhile. Every character is accessed atomically, so a
// reader racing a writer sees a mix of old and new text at worst, never undefined
// behaviour; after a bounded number of retries it keeps what it has, which is
// acceptable for the advisory texts of the status record.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace vexa {

template <std::size_t N>
class SharedText {
 public:
  SharedText() { std::memset(chars_, 0, sizeof chars_); }

  // Writer side (one thread at a time). Cuts the text to N - 1 characters.
  void Set(std::string_view text) {
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    const unsigned s = sequence_.load(std::memory_order_relaxed);
    sequence_.store(s + 1, std::memory_order_relaxed);
    // Release stores keep the odd sequence number ahead of every character.
    for (std::size_t i = 0; i < n; ++i) std::atomic_ref<char>(chars_[i]).store(text[i], std::memory_order_release);
    std::atomic_ref<char>(chars_[n]).store(0, std::memory_order_release);
    sequence_.store(s + 2, std::memory_order_release);
  }

  // Reader side: copies the text into out (at most outSize - 1 characters and a
  // terminating zero). Allocates nothing.
  void CopyTo(char* out, std::size_t outSize) const {
    if (outSize == 0) return;
    const std::size_t limit = outSize - 1 < N - 1 ? outSize - 1 : N - 1;
    for (int attempt = 0; attempt < 4; ++attempt) {
      const unsigned before = sequence_.load(std::memory_order_acquire);
      std::size_t i = 0;
      for (; i < limit; ++i) {
        // Acquire loads keep the second look at the sequence number behind them.
        const char c = std::atomic_ref<char>(chars_[i]).load(std::memory_order_acquire);
        out[i] = c;
        if (c == 0) break;
      }
      out[i < limit ? i : limit] = 0;
      if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before) return;
    }
  }

 private:
  mutable char chars_[N];
  std::atomic<unsigned> sequence_{0};
};

}  // namespace vexa
