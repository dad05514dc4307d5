// The per-system halves of the drives seam (drives_win.cpp, drives_posix.cpp).
#pragma once

#include <memory>
#include <string>

#include "platform/drives.h"
#include "platform/fat_io.h"

namespace platform {

// The system's own drives: the Windows calls, or no drives off Windows.
std::unique_ptr<Drives> CreateNativeDrives();

// An image file opened for reading only, sharing reads and writes with the engine that
// holds it open for its jobs; null when it cannot be opened.
std::unique_ptr<fat::FatIo> OpenImageShared(const std::string& path);

}  // namespace platform
