// The body of one HTTP answer saved to a file, bounded in size and abandonable.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// Fills `buffer` with up to `capacity` bytes of the body: the count read, 0 at its end,
// a negative number on failure.
using BodyReader = std::function<long(char* buffer, std::size_t capacity)>;

// Reads the whole body through `read` into the file `temporary` (made anew). Fails, and
// removes `temporary`, when the file cannot be written, the reader fails, the body grows
// past `maxBytes`, or `abandoned` answers true (asked after every read, so a server that
// trickles its answer is cut off by the caller's deadline rather than read to its end).
[[nodiscard]] bool ReceiveBody(const BodyReader& read, const std::string& temporary, std::size_t maxBytes,
                               const std::function<bool()>& abandoned);

}  // namespace platform
