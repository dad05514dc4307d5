// The write-limiting FatIo layer used by crash tests.
#include "platform/fat_write_limit_io.h"

namespace platform::fat {

bool WriteLimitIo::Write(std::uint64_t offset, const void* data, std::size_t size) {
  if (seen_ != kUnlimited) ++seen_;
  if (seen_ > allowed_) return false;
  return inner_->Write(offset, data, size);
}

bool WriteLimitIo::Flush() {
  if (seen_ > allowed_) return false;
  return inner_->Flush();
}

}  // namespace platform::fat
