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

}  // namespace shell
