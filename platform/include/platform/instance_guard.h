// The single-instance seam: one running copy of a program per signed-in user.
//
// Windows: a named mutex in the session's namespace whose name carries the user name.
// Elsewhere: an exclusive flock on a file in the user's runtime folder. The guard is
// held until it is destroyed or the process ends (the system lets go of it then, so a
// crashed copy never blocks the next one). Fake: names held inside this process only.
#pragma once

#include <memory>
#include <string>

namespace platform {

class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;
};

// Takes the guard named `name` (letters, digits, spaces, dots) for the current user.
// Null when it is not held; *anotherHolds (never null) then says whether another copy
// holds it (true) or the guard could not be made at all (false). Main thread.
std::unique_ptr<InstanceGuard> HoldUserInstance(const std::string& name, bool* anotherHolds);

// The same rule kept in a table of this process, for tests of code that takes the
// guard: a second hold of one name fails until the first guard is destroyed.
std::unique_ptr<InstanceGuard> HoldFakeInstance(const std::string& name, bool* anotherHolds);

}  // namespace platform
