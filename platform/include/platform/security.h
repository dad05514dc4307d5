// The security seam: is the program running with administrator rights?
#pragma once

#include <functional>

namespace platform {

// True when the calling thread's token (or, without one, the process token) holds the
// built-in Administrators group, whatever the group's attribute bits. The group list is
// read into a buffer sized from the token, so members of many groups are recognised.
// Elsewhere: true when the effective user is root. Any thread.
bool IsAdministrator();

// Replaces the answer of IsAdministrator (tests); an empty function puts the system's
// check back.
void SetAdministratorCheck(std::function<bool()> check);

// The system's own check, bypassing any replacement.
bool IsAdministratorWithSystem();

}  // namespace platform
