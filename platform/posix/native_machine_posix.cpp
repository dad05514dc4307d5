// The native machine off Windows: no drive letter names a volume. Volumes come only
// from the volume map (image files and block devices served by the FAT provider).
#include "platform/machine.h"

namespace platform {

std::unique_ptr<Machine> CreateNativeMachine() { return CreateEmptyMachine(); }

}  // namespace platform
