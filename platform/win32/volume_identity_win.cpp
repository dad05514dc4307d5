// Volume identity on Windows: volumes are the system's own or image files the engine
// alone opens, so nothing is known and nothing else is reported as using them.
#include "platform/volume_identity.h"

namespace platform {

VolumeIdentity IdentifyVolume(const std::string&, const SystemRoots&) { return {}; }

VolumeIdentity IdentifyBlockDevice(std::uint32_t, std::uint32_t, const SystemRoots&) { return {}; }

std::vector<VolumeUser> VolumeUsers(const VolumeIdentity&, const SystemRoots&) { return {}; }

}  // namespace platform
