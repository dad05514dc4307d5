// The four persistent switches and their file "Setting" in the working folder.
//
// "Setting" is a file of raw bytes of which the engine owns only bytes 9 to 12: the
// start-up, turn-off, restart and real-time start-up flags, in that order. Bytes 0 to 8
// and anything after byte 12 are never changed. A file too short to hold a flag leaves
// that flag off. Saving writes the four bytes in place; a missing file is created as 13
// bytes with bytes 0 to 8 zero, so the switches persist from the first run on.
//
// The live switches are 32-bit values (0 off, 1 on; a byte read from the file is taken
// as it is) kept in atomics, so the getters may run on any thread without a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexa {

inline constexpr char kSettingFileName[] = "Setting";
// Offset of the first switch byte; the four switch bytes follow one another.
inline constexpr long kSettingSwitchOffset = 9;
// Size of a "Setting" file the engine creates.
inline constexpr std::size_t kSettingFileSize = 13;

enum class Switch {
  kStartup,          // run the program at Windows start-up (byte 9)
  kTurnOff,          // turn the computer off after a defragmentation (byte 10)
  kRestart,          // restart the computer after a defragmentation (byte 11)
  kRealTimeStartup,  // start the real-time defragmenter at Windows start-up (byte 12)
};

// Start-up: sets every switch from "Setting" in `workingFolder` (a folder path ending
// with its separator); switches the file does not hold, or all of them when it cannot
// be read, are 0. Never throws. Thread: the one that loads the engine.
void LoadSwitches(const std::string& workingFolder) noexcept;

// Unload: writes the four switches to bytes 9 to 12 of "Setting" in `workingFolder`,
// creating the file (13 bytes, bytes 0 to 8 zero) when it is missing. Returns whether
// the bytes were written; a failure changes nothing else. Never throws.
// Thread: the one that unloads the engine.
[[nodiscard]] bool SaveSwitches(const std::string& workingFolder) noexcept;

// Unload: SaveSwitches when a switch was set to another value since LoadSwitches, or
// when "Setting" is missing; otherwise writes nothing, so an engine that changed nothing
// never undoes what another process saved meanwhile. Returns whether the file is as it
// should be. Never throws. Thread: the one that unloads the engine.
[[nodiscard]] bool SaveChangedSwitches(const std::string& workingFolder) noexcept;

// The live value of a switch. Any thread.
std::int32_t GetSwitch(Switch which) noexcept;
// Sets the live value of a switch (a confirmed dialog). It reaches the file at unload.
// Any thread.
void SetSwitch(Switch which, std::int32_t value) noexcept;

}  // namespace vexa
