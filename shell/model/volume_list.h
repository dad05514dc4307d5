// The volume list's texts and the drive-letter string of a job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shell {

// True for the drives the list shows: fixed drives C to Z, the volumes the engine
// serves. `type` is a GetDriveTypeA value.
bool ListsDrive(char letter, std::uint32_t type);

// A row's caption: the volume label, then "(", the letter, ":", ")".
std::string VolumeCaption(const std::string& label, char letter);

// A size in GB for the list: bytes / 1024^3 rounded to hundredths (halves to even),
// shortest form with at most two decimals and `decimalSeparator`, then " GB".
std::string GbText(std::uint64_t bytes, char decimalSeparator);

// One row of the list as the job sees it: its drive letter (kept as item data, never
// parsed from the caption) and whether its box is ticked.
struct VolumeRow {
  char letter;
  bool ticked;
};

// The letters of the ticked rows in list order, no separators, at most 26.
std::string DriveLetterString(const std::vector<VolumeRow>& rows);

// The list view's hit-test flags (LVHT_*, pinned against commctrl.h by the window).
inline constexpr unsigned kHitOnIcon = 0x2;
inline constexpr unsigned kHitOnLabel = 0x4;
inline constexpr unsigned kHitOnStateIcon = 0x8;
inline constexpr unsigned kHitOnItem = kHitOnIcon | kHitOnLabel | kHitOnStateIcon;

// True when a press with these hit-test flags is on a row's check box, which toggles
// the tick. With full-row select a press on a sub-item's text reports all three "on
// item" bits, the state-icon bit among them: that is a press on the row, not the box.
bool HitsTickBox(unsigned hitFlags);

}  // namespace shell
