// A FatIo layer for crash tests: lets the first N writes through and drops every later one.
//
// Stacked over a real FatIo, it counts every Write request. Writes 1..N reach the layer
// below; from write N+1 on, every Write and Flush fails without touching it, as if the
// machine had stopped right after write N. Reads always pass through. Running a job once
// with kUnlimited tells how many writes it makes; looping N from 0 to that count then
// stops the job at every write.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "platform/fat_io.h"

namespace platform::fat {

class WriteLimitIo final : public FatIo {
 public:
  static constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

  // Takes ownership of `inner`; lets `allowedWrites` writes through.
  WriteLimitIo(std::unique_ptr<FatIo> inner, std::uint64_t allowedWrites)
      : inner_(std::move(inner)), allowed_(allowedWrites) {}

  std::uint64_t Size() const override { return inner_->Size(); }
  bool Writable() const override { return inner_->Writable(); }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override {
    return inner_->Read(offset, data, size);
  }
  bool Write(std::uint64_t offset, const void* data, std::size_t size) override;
  bool Flush() override;

  // Write requests seen so far, including refused ones.
  std::uint64_t WritesSeen() const { return seen_; }
  // True once a write has been refused.
  bool Stopped() const { return seen_ > allowed_; }

 private:
  std::unique_ptr<FatIo> inner_;
  std::uint64_t allowed_;
  std::uint64_t seen_ = 0;
};

}  // namespace platform::fat
